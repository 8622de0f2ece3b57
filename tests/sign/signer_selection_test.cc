// Signer selection, the take-over of a published signer, and every refusal
// of the signing operations, with the engine's dialogs answered from a
// queue (or not at all) and the certificates and keys made by OpenSSL's
// command line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "base/result_codes.h"
#include "certs/certificate_info.h"
#include "engine/engine_test_access.h"
#include "sign/sign_fixture.h"

namespace quorvant::testing {
namespace {

using Answer = QueueDialogHost::Answer;

std::string Utf8(const std::u16string& text) { return Utf8FromWide(text); }

class SelectionTest : public SignTest {
 protected:
  void SetUp() override {
    SignTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_NO_FATAL_FAILURE(addToPersonalStore(signer(1024)));
    ASSERT_NO_FATAL_FAILURE(addToPersonalStore(signer(2048)));
  }
  std::string selectedCommonName() { return Utf8(engine_->GetCertSubjectCN()); }
  // A second engine of the same user, on the same property store.
  std::unique_ptr<SecurityEngine> secondEngine(std::shared_ptr<DialogHost> dialogs) {
    FakeServices copy = fakes_;
    copy.dialogs = std::move(dialogs);
    return copy.makeEngine();
  }
  Answer ok(int32_t index) { return Answer{DialogOutcome::kOk, index, {}}; }
  Answer pfxAnswer(const Signer& s) {
    Answer a{DialogOutcome::kOk, 0, {}};
    a.values.directory = s.pfx.parent_path().string();
    a.values.fileName = s.pfx.filename().string();
    a.values.password = s.password;
    return a;
  }
};

TEST_F(SelectionTest, ChoosesFromThePersonalStoreAndThePfxFileByFlagsAndAnswers) {
  const Answer cancel{DialogOutcome::kCancel, 0, {}};
  struct Case {
    const char* filter;
    int32_t flags;
    std::vector<Answer> answers;
    int32_t code;
    const char* commonName;  // of the signer; "" for none
    std::vector<DialogId> shown;
    size_t rows;  // of the chooser, when shown
  };
  const Case cases[] = {
      {"S_CN=Signer 2048", 0x108, {}, 0, "Signer 2048", {}, 0},
      {"S_O=Quorvant Test", 0x108, {ok(1)}, 0, "Signer 2048", {DialogId::kCertificateList}, 2},
      {"S_O=Quorvant Test", 0x108, {ok(0)}, 0, "Signer 1024", {DialogId::kCertificateList}, 2},
      // A cancelled chooser is the user's refusal, not a success without a signer.
      {"S_O=Quorvant Test", 0x108, {cancel}, 5070, "", {DialogId::kCertificateList}, 2},
      {"S_O=Quorvant Test", 0x108, {}, 5002, "", {DialogId::kCertificateList}, 2},
      {"S_O=Quorvant Test", 0x10A, {}, 0, "Signer", {}, 0},
      {"S_CN=Signer 2048", 0x109, {ok(0)}, 0, "Signer 2048", {DialogId::kCertificateList}, 1},
      {"S_CN=Nobody", 0x108, {}, 5010, "", {}, 0},
      // A cancelled chooser, then a PFX file picked in dialog 202.
      {"S_O=Quorvant Test", 0x008, {cancel, pfxAnswer(signer(4096))}, 0, "",
       {DialogId::kCertificateList, DialogId::kPfxFile}, 2},
      {"S_CN=Signer 4096", 0x208, {pfxAnswer(signer(4096))}, 0, "Signer 4096",
       {DialogId::kPfxFile}, 0},
      {"S_CN=Signer 4096", 0x208, {cancel}, 5070, "", {DialogId::kPfxFile}, 0},
      {"S_CN=Signer 4096", 0x208, {}, 5002, "", {DialogId::kPfxFile}, 0},
      {"S_CN=Signer 2048", 0x208, {pfxAnswer(signer(4096))}, 5010, "", {DialogId::kPfxFile}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + std::to_string(c.flags));
    dialogs_->answers.assign(c.answers.begin(), c.answers.end());
    dialogs_->shown.clear();
    dialogs_->rowCounts.clear();
    EXPECT_EQ(engine_->SelectSigner(U16(c.filter), c.flags, 0), c.code);
    EXPECT_EQ(dialogs_->shown, c.shown);
    if (c.rows) {
      EXPECT_EQ(dialogs_->rowCounts.front(), c.rows);
    }
    if (c.code != 0) {
      EXPECT_EQ(Utf8(engine_->GetCertFinger()), "");
    } else {
      EXPECT_NE(selectedCommonName().find(c.commonName), std::string::npos);
      // Hex of a signature as long as the signer's modulus.
      const std::string cn = selectedCommonName();
      const size_t bytes = cn == "Signer 4096" ? 512 : cn == "Signer 2048" ? 256 : 128;
      EXPECT_EQ(engine_->SignPkcs1(u"abc", 0).size(), 2 * bytes);
    }
  }
}

TEST_F(SelectionTest, SelectSignerExTakesAGivenPfxFileWithItsPasswordWithoutAnyDialog) {
  const Signer& s = signer(4096);
  // The personal store only, yet the existing file is searched.
  EXPECT_EQ(engine_->SelectSignerEx(u"S_CN=Signer 4096", U16(s.pfx.parent_path()),
                                    U16(s.pfx.filename()), U16(s.password), u"", 0x108, 0),
            0);
  EXPECT_TRUE(dialogs_->shown.empty());
  EXPECT_EQ(Utf8(engine_->GetSignerPfxFileName()), s.pfx.filename().string());
  EXPECT_EQ(Utf8(engine_->GetSignerPfxFilePath()), s.pfx.parent_path().string());
  // A wrong password is the PFX's refusal.
  EXPECT_EQ(engine_->SelectSignerEx(u"S_CN=Signer 4096", U16(s.pfx.parent_path()),
                                    U16(s.pfx.filename()), u"wrong", u"", 0x108, 0),
            5208);
}

TEST_F(SelectionTest, ComparisonDatesAreCheckedAndForceTheValidityTest) {
  // The certificates are valid from today for ten years.
  struct Case {
    const char* date;
    int32_t code;
  };
  const Case cases[] = {
      {"20231301000000", 5005}, {"20230229000000", 5005}, {"20240431000000", 5005},
      {"20240000000000", 5005}, {"2024022900000", 5005},  {"2024022900000a", 5005},
      {"20240229240000", 5005}, {"20240229000000", 5012}, {"20991231235959", 5011},
      {"", 0},
  };
  std::tm now{};
  const std::time_t t = std::time(nullptr) + 86400 * 30;
  gmtime_r(&t, &now);
  char inside[15];
  std::strftime(inside, sizeof inside, "%Y%m%d%H%M%S", &now);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.date);
    EXPECT_EQ(engine_->SelectSignerEx(u"S_CN=Signer 2048", u"", u"", u"", U16(c.date), 0x108, 0),
              c.code);
  }
  EXPECT_EQ(engine_->SelectSignerEx2(u"S_CN=Signer 2048", u"", u"", 0, U16(inside), 0x108, 0), 0);
}

TEST_F(SelectionTest, AnotherEngineTakesOverThePublishedSignerOnlyWhenItPassesItsOwnRules) {
  ASSERT_EQ(engine_->SelectSignerEx2(u"S_CN=Signer 2048", u"", u"", 0, u"", 0x108, 0), 0);
  const std::u16string thumbprint = engine_->GetCertFinger();
  auto none = std::make_shared<QueueDialogHost>();
  auto other = secondEngine(none);

  // Taken: no filter match needed beyond the caller's own, no dialog.
  EXPECT_EQ(other->SelectSignerEx2(u"S_O=Quorvant Test", u"", u"", 1, u"", 0x108, 0), 0);
  EXPECT_EQ(other->GetCertFinger(), thumbprint);
  EXPECT_TRUE(none->shown.empty());
  EXPECT_FALSE(other->SignPkcs1(u"abc", 0).empty());
  // dwPort 0: a normal selection (two matches, no dialog possible).
  EXPECT_EQ(other->SelectSignerEx2(u"S_O=Quorvant Test", u"", u"", 0, u"", 0x108, 0), 5002);
  // The caller's filter, key usage and date apply to what is taken.
  EXPECT_EQ(other->SelectSignerEx2(u"S_CN=Signer 1024", u"", u"", 1, u"", 0x108, 0), 0);
  EXPECT_EQ(Utf8(other->GetCertSubjectCN()), "Signer 1024");
  EXPECT_EQ(other->SelectSignerEx2(u"S_O=Quorvant Test", u"", u"", 1, u"", 0x108, 0x20), 5017);
  EXPECT_EQ(other->SelectSignerEx2(u"S_CN=Signer 2048", u"", u"", 1, u"20991231000000", 0x108, 0),
            5011);

  // What another process wrote is checked before it is used.
  const std::string der(reinterpret_cast<const char*>(PemToDer(signer(2048).cert).data()),
                        PemToDer(signer(2048).cert).size());
  const fs::path fifo = scratch("signer.pfx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(scratch("folder.pfx").c_str(), 0700), 0);
  struct Tamper {
    int32_t media;
    std::string hash;
    std::string folder, name;
  };
  const std::string good = Utf8(thumbprint);
  std::string lower = good;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const Tamper tampers[] = {
      {3, good, "", ""},
      {0, good, "", ""},
      {1, lower, "", ""},
      {1, good.substr(1), "", ""},
      {2, good, scratch("").string(), "signer.pfx"},   // a FIFO
      {2, good, scratch("").string(), "folder.pfx"},   // a directory
      {2, good, scratch("").string(), "missing.pfx"},
  };
  for (const Tamper& t : tampers) {
    SCOPED_TRACE(std::to_string(t.media) + " " + t.hash + " " + t.name);
    SecurityEngineTestAccess::selectSigner(*engine_, t.media, der, t.hash);
    engine_->PublishSigner();
    engine_->SetStringProperty("signerCertFilePath", t.folder);
    engine_->SetStringProperty("signerCertFileName", t.name);
    const auto start = std::chrono::steady_clock::now();
    // Not taken: the normal selection finds two matches and cannot ask.
    EXPECT_EQ(other->SelectSignerEx2(u"S_O=Quorvant Test", u"", u"", 1, u"", 0x108, 0), 5002);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

TEST_F(SelectionTest, ASecondProcessTakesOverAndSignsWithoutADialog) {
  ASSERT_EQ(engine_->SelectSignerEx2(u"S_CN=Signer 2048", u"", u"", 0, u"", 0x108, 0), 0);
  const std::string thumbprint = Utf8(engine_->GetCertFinger());
  const std::u16string expected = engine_->SignPkcs1(u"two processes", 0x100);
  ASSERT_EQ(engine_->GetErrorCode(), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto none = std::make_shared<QueueDialogHost>();
    auto other = secondEngine(none);
    int status = 0;
    if (other->SelectSignerEx2(u"", u"", u"", 1, u"", 0, 0) != 0) status |= 1;
    if (Utf8(other->GetCertFinger()) != thumbprint) status |= 2;
    if (other->SignPkcs1(u"two processes", 0x100) != expected) status |= 4;
    if (!none->shown.empty()) status |= 8;
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(SelectionTest, APublishedPasswordIsFollowedForTheSameFileOnly) {
  const Signer& s = signer(1024);
  const fs::path dir = scratch("pfx");
  fs::create_directories(dir);
  fs::copy_file(s.pfx, dir / "a.pfx");
  // The same certificate and key under another password, in a file whose
  // name differs only in case.
  ASSERT_EQ(RunQuiet("openssl pkcs12 -export -inkey " + s.key.string() + " -in " + s.cert.string() +
                  " -out " + (dir / "A.PFX").string() + " -passout pass:other"),
            0);
  auto reader = secondEngine(dialogs_);
  ASSERT_EQ(reader->SelectSignerEx(u"", U16(dir), u"a.pfx", U16(s.password), u"", 0x200, 0), 0);
  reader->SetStringProperty("attach", "");  // attached to the property store

  // Published for the other file: not applied.
  engine_->SetStringProperty("signerCertFilePath", dir.string());
  engine_->SetStringProperty("signerCertFileName", "A.PFX");
  engine_->SetStringProperty("signerCertPasswd", "other");
  SecurityEngineTestAccess::selectSigner(*engine_, 2, "x", "");
  engine_->PublishSigner();
  engine_->SetStringProperty("signerCertFilePath", dir.string());
  engine_->SetStringProperty("signerCertFileName", "A.PFX");
  engine_->SetStringProperty("signerCertPasswd", "other");
  EXPECT_FALSE(reader->SignPkcs1(u"abc", 0).empty());
  EXPECT_EQ(reader->GetErrorCode(), 0);

  // The password of this very file changed elsewhere: followed.
  ASSERT_EQ(RunQuiet("openssl pkcs12 -export -inkey " + s.key.string() + " -in " + s.cert.string() +
                  " -out " + (dir / "a.pfx").string() + " -passout pass:changed"),
            0);
  EXPECT_TRUE(reader->SignPkcs1(u"abc", 0).empty());
  EXPECT_EQ(reader->GetErrorCode(), 5208);
  engine_->SetStringProperty("signerCertFileName", "a.pfx");
  engine_->SetStringProperty("signerCertPasswd", "changed");
  EXPECT_FALSE(reader->SignPkcs1(u"abc", 0).empty());
  EXPECT_EQ(reader->GetErrorCode(), 0);
}

// --- Refusals of the signing operations ---------------------------------------------

TEST_F(SelectionTest, SigningRefusesWithItsCode) {
  using Op = std::u16string (SecurityEngine::*)(TextArg, int32_t);
  const Op ops[] = {&SecurityEngine::SignPkcs1, &SecurityEngine::SignPkcs7};
  for (Op op : ops) {
    SCOPED_TRACE(op == ops[0] ? "SignPkcs1" : "SignPkcs7");
    // Nothing selected (a failed selection leaves no signer).
    EXPECT_EQ(engine_->SelectSigner(u"S_CN=Nobody", 0x108, 0), 5010);
    EXPECT_TRUE(((*engine_).*op)(u"abc", 0).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 5067);
    ASSERT_EQ(engine_->SelectSigner(u"S_CN=Signer 2048", 0x108, 0), 0);
    EXPECT_TRUE(((*engine_).*op)(u"", 0).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 5005);

    // The confirmation: shown with the certificate's fields, refused,
    // impossible.
    dialogs_->answers = {Answer{DialogOutcome::kOk, 0, {}}, Answer{DialogOutcome::kCancel, 0, {}}};
    dialogs_->confirmations.clear();
    EXPECT_FALSE(((*engine_).*op)(u"確認", 0x8000).empty());
    ASSERT_EQ(dialogs_->confirmations.size(), 1u);
    EXPECT_EQ(dialogs_->confirmations[0].content, u"確認");
    EXPECT_EQ(dialogs_->confirmations[0].commonName, "Signer 2048");
    EXPECT_EQ(dialogs_->confirmations[0].serial, Utf8(engine_->GetCertSerial()));
    EXPECT_EQ(dialogs_->confirmations[0].notBefore.size(), 14u);
    EXPECT_TRUE(((*engine_).*op)(u"abc", 0x8000).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 5070);
    EXPECT_TRUE(((*engine_).*op)(u"abc", 0x8000).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 5002);

    // A PFX signer whose file went away.
    const fs::path copy = scratch("gone.pfx");
    fs::copy_file(signer(1024).pfx, copy, fs::copy_options::overwrite_existing);
    ASSERT_EQ(engine_->SelectSignerEx(u"", U16(copy.parent_path()), u"gone.pfx",
                                      U16(signer(1024).password), u"", 0x200, 0),
              0);
    fs::remove(copy);
    EXPECT_TRUE(((*engine_).*op)(u"abc", 0).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 1102);
  }

  // A certificate bound to another certificate's key (a stale binding):
  // refused before a signature that cannot verify is made.
  CertStore my = store("MY");
  std::vector<CertContext> certificates;
  ASSERT_EQ(my.enumerate(&certificates), 0u);
  KeyProviderInfo otherKey;
  ASSERT_EQ(certificates.at(1).keyProviderInfo(&otherKey), 0u);
  ASSERT_EQ(certificates.at(0).setKeyProviderInfo(otherKey), 0u);
  ASSERT_EQ(engine_->SelectSigner(u"S_CN=Signer 1024", 0x108, 0), 0);
  for (Op op : ops) {
    EXPECT_TRUE(((*engine_).*op)(u"abc", 0).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 5206);
  }
  // Gone from its store.
  ASSERT_EQ(CertStore::DeleteCertificate(certificates.at(0)), 0u);
  for (Op op : ops) {
    EXPECT_TRUE(((*engine_).*op)(u"abc", 0).empty());
    EXPECT_EQ(engine_->GetErrorCode(), 5067);
  }

  // Protected mode.
  fakes_.protectedMode->on = true;
  auto sandboxed = fakes_.makeEngine();
  EXPECT_EQ(sandboxed->SelectSigner(u"S_CN=Signer 2048", 0x108, 0), 1500);
  EXPECT_TRUE(sandboxed->SignPkcs7(u"abc", 0).empty());
  EXPECT_EQ(sandboxed->GetErrorCode(), 1500);
}

TEST_F(SelectionTest, TheChainIsCarriedOnlyWhenItsOnlyFlawsAreTimeOrAnUntrustedRoot) {
  ASSERT_EQ(engine_->SelectSigner(u"S_CN=Signer 2048", 0x108, 0), 0);
  // No CA anywhere: a partial chain.
  EXPECT_TRUE(engine_->SignPkcs7(u"abc", 0x200).empty());
  EXPECT_EQ(engine_->GetErrorCode(), 5202);
  // The CA among the intermediates only: its root is not trusted, which
  // does not stop the signature.
  ASSERT_EQ(store("CA").addEncoded(PemToDer(material().caCert), AddDisposition::kNew), 0u);
  EXPECT_FALSE(engine_->SignPkcs7(u"abc", 0x200).empty());
  EXPECT_EQ(engine_->GetErrorCode(), 0);
  // Trusted, and long expired at the clock's time: still carried.
  ASSERT_EQ(store("ROOT").addEncoded(PemToDer(material().caCert), AddDisposition::kNew), 0u);
  fakes_.clock->now += int64_t{86400} * 365 * 20;
  auto later = fakes_.makeEngine();
  ASSERT_EQ(later->SelectSigner(u"S_CN=Signer 2048", 0x108, 0), 0);
  EXPECT_FALSE(later->SignPkcs7(u"abc", 0x200).empty());
  EXPECT_EQ(later->GetErrorCode(), 0);
}

}  // namespace
}  // namespace quorvant::testing
