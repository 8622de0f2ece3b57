// The PFX operations through the engine, with files made by other tools
// (data/make_interop_pfx.sh) and their results read back by other tools:
// the openssl command line, Java's keytool, NSS's pk12util, and an
// independent reader of the mobile record (data/read_mobile.py).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "encoding/code_page.h"
#include "engine/engine_test_access.h"
#include "engine/fake_services.h"
#include "pfx/pfx_store.h"
#include "platform/stores/cert_store.h"
#include "platform/keys/crypto_provider.h"
#include "platform/database/platform_database.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;

// The password of the interop files, as the caller passes it.
constexpr char16_t kPassword[] = u"中文密碼測試";
constexpr char kPasswordUtf8[] = "中文密碼測試";
constexpr char16_t kHolderCommonName[] = u"互通測試 Holder";

// Plays the user: answers each dialog from what the test put in.
class FakeDialogs final : public DialogHost {
 public:
  DialogOutcome outcome = DialogOutcome::kOk;
  // Applied to the values a file dialog shows before it answers.
  std::function<void(FileDialogValues*)> fill;
  std::vector<DialogId> shown;
  std::vector<FileDialogRequest> requests;
  int32_t chosenRow = 0;
  std::string exportPassword;

  DialogOutcome fileDialog(const FileDialogRequest& request, FileDialogValues* values) override {
    shown.push_back(request.id);
    requests.push_back(request);
    if (outcome == DialogOutcome::kOk && fill) fill(values);
    return outcome;
  }
  DialogOutcome chooseCertificate(const std::vector<CertificateRow>&, int32_t* index) override {
    shown.push_back(DialogId::kCertificateList);
    *index = chosenRow;
    return outcome;
  }
  DialogOutcome askExportPassword(std::string* password) override {
    shown.push_back(DialogId::kExportPassword);
    *password = exportPassword;
    return outcome;
  }
};

std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Rows of the user's key database (where MY's keys live) that `countSql`
// counts.
int64_t UserKeyDatabaseCount(const char* countSql) {
  sqlite3* db = nullptr;
  int64_t count = 0;
  if (sqlite3_open_v2(PlatformDatabase::DefaultPath().c_str(), &db, SQLITE_OPEN_READONLY,
                      nullptr) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, countSql, -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      count = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return count;
}

int64_t UserKeyContainers() { return UserKeyDatabaseCount("SELECT count(*) FROM key_containers"); }

class PfxOperationsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_ = new fs::path(fs::temp_directory_path() /
                         ("quorvant-pfxops-" + std::to_string(::getpid())));
    const std::string command = "bash '" + (Here() / "make_interop_pfx.sh").string() + "' '" +
                                data_->string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    // A key database of this process's own, so tests running beside it do
    // not change the counts; made before anything counts in it.
    ::setenv("QUORVANT_HOME", (*data_ / "home").c_str(), 1);
    uint32_t error = 0;
    ASSERT_TRUE(PlatformDatabase::Open(PlatformDatabase::DefaultPath(), &error)) << error;
    std::unique_ptr<ProviderContext> context;
    (void)ProviderContext::Acquire("pfxops-probe", "", kProvRsaFull, kCryptNewkeyset, &context);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*data_);
    delete data_;
  }
  static fs::path Here() { return fs::path(__FILE__).parent_path().parent_path() / "data"; }

  void SetUp() override {
    dialogs_ = std::make_shared<FakeDialogs>();
    services_.dialogs = dialogs_;
    services_.clock->now = std::time(nullptr);
    work_ = fs::path(services_.dataDirectory->path()) / "work";
    fs::create_directories(work_);
    engine_ = services_.makeEngine();
  }

  static std::u16string Dir() { return WideFromUtf8(data_->string()); }
  static fs::path Data(const char* name) { return *data_ / name; }
  std::u16string WorkDir() const { return WideFromUtf8(work_.string()); }
  // A copy of a data file in the work folder, for operations that change it.
  fs::path Copy(const char* name) {
    fs::copy_file(Data(name), work_ / name, fs::copy_options::overwrite_existing);
    return work_ / name;
  }

  std::vector<CertContext> Personal() {
    CertStore my;
    std::vector<CertContext> certificates;
    EXPECT_EQ(services_.stores->openSystemStore("MY", &my), 0u);
    EXPECT_EQ(my.enumerate(&certificates), 0u);
    return certificates;
  }
  static bool HasKey(const CertContext& c) {
    KeyProviderInfo info;
    std::unique_ptr<ProviderContext> context;
    uint32_t keySpec = 0;
    return c.keyProviderInfo(&info) == 0 &&
           AcquireCertificatePrivateKey(info, 0, &context, &keySpec) == 0;
  }
  void ImportHolder() {
    ASSERT_EQ(engine_->ImportPfxToIE(Dir(), u"openssl.pfx", kPassword, 1, 0), 0)
        << engine_->GetCapiErrorCode();
  }

  static inline fs::path* data_ = nullptr;
  testing::FakeServices services_;
  std::shared_ptr<FakeDialogs> dialogs_;
  fs::path work_;
  std::unique_ptr<SecurityEngine> engine_;
};

TEST_F(PfxOperationsTest, ImportsFilesOfOtherTools) {
  struct Case {
    const char16_t* file;
    const char16_t* password;
  } cases[] = {
      {u"openssl.pfx", kPassword},
      {u"legacy.pfx", kPassword},
      {u"python.pfx", kPassword},
      {u"keytool.pfx", u"secret123"},
      {u"pk12util.pfx", kPassword},
      {u"chain.pfx", kPassword},  // the CA certificate goes nowhere
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8FromWide(c.file));
    testing::FakeServices services;
    services.clock->now = std::time(nullptr);
    auto engine = services.makeEngine();
    CertStore my;
    ASSERT_EQ(services.stores->openSystemStore("MY", &my), 0u);
    const int64_t keysBefore = UserKeyContainers();
    for (int round = 0; round < 2; ++round) {
      ASSERT_EQ(engine->ImportPfxToIE(Dir(), c.file, c.password, 0, 0x80), 0)
          << engine->GetCapiErrorCode();
      std::vector<CertContext> certificates;
      ASSERT_EQ(my.enumerate(&certificates), 0u);
      ASSERT_EQ(certificates.size(), 1u) << "importing again keeps one entry";
      EXPECT_TRUE(HasKey(certificates[0]));
      EXPECT_EQ(engine->GetCertSubjectCN(), kHolderCommonName);
      EXPECT_EQ(engine->GetImportedPfxFileName(), c.file);
      // The second import's container replaces the first one's.
      EXPECT_EQ(UserKeyContainers(), keysBefore + 1);
      // And it is the user's for good: no mark lets a later process sweep it.
      EXPECT_EQ(UserKeyDatabaseCount("SELECT count(*) FROM temporary_containers"), 0);
    }
  }
}

TEST_F(PfxOperationsTest, ImportAndQueryRefusals) {
  std::ofstream(Data("notes.pfx")) << "not a PFX file";
  struct Case {
    const char16_t* file;
    const char16_t* password;
    int32_t keyUsage;
    int32_t code;
    uint32_t capi;
  } cases[] = {
      {u"encipher.pfx", u"pw", 0x80, 5017, 0},  // keyed, but for key encipherment only
      {u"certonly.pfx", u"pw", 0, 5204, 0},
      {u"orphan.pfx", u"pw", 0, 5204, 0},       // its only key has no certificate
      {u"missing.pfx", u"pw", 0, 5902, 0},
      {u"openssl.pfx", u"wrong", 0, 5208, 0},
      {u"notes.pfx", u"pw", 0, 5207, 0},
      {u"many.pfx", u"pw", 0, 5207, 1816},      // over the certificate limit
  };
  const int64_t keysBefore = UserKeyContainers();
  for (bool import : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(Utf8FromWide(c.file) + (import ? " import" : " query"));
      const int32_t code =
          import ? engine_->ImportPfxToIE(Dir(), c.file, c.password, 0, c.keyUsage)
                 : engine_->QueryPfxInfo(Dir(), c.file, c.password, 0, c.keyUsage);
      EXPECT_EQ(code, c.code);
      if (c.capi != 0) {
        EXPECT_EQ(static_cast<uint32_t>(engine_->GetCapiErrorCode()), c.capi);
      }
      EXPECT_EQ(engine_->GetCertB64(), u"");
      EXPECT_EQ(engine_->GetImportedPfxFileName(), u"");
      EXPECT_TRUE(Personal().empty());
      EXPECT_EQ(UserKeyContainers(), keysBefore) << "no key is left behind";
    }
  }
}

TEST_F(PfxOperationsTest, QueryKeepsNoKeyAndReportsTheFile) {
  const int64_t keysBefore = UserKeyContainers();
  ASSERT_EQ(engine_->QueryPfxInfo(Dir(), u"chain.pfx", kPassword, 0, 0), 0);
  EXPECT_EQ(UserKeyContainers(), keysBefore);
  EXPECT_EQ(engine_->GetSignerPfxFileName(), u"chain.pfx");
  EXPECT_EQ(engine_->GetSignerPfxFilePath(), Dir());
  EXPECT_EQ(engine_->GetCertSubjectCN(), kHolderCommonName);
  EXPECT_TRUE(Personal().empty());
}

TEST_F(PfxOperationsTest, MissingArgumentsAskWithDialog202) {
  struct Case {
    DialogOutcome outcome;
    int32_t code;
  } cases[] = {
      {DialogOutcome::kOk, 0}, {DialogOutcome::kCancel, 5070}, {DialogOutcome::kCannotCreate, 5002}};
  for (const Case& c : cases) {
    dialogs_->shown.clear();
    dialogs_->requests.clear();
    dialogs_->outcome = c.outcome;
    dialogs_->fill = [](FileDialogValues* v) { v->password = ToNarrow(kPassword); };
    EXPECT_EQ(engine_->QueryPfxInfo(Dir(), u"", u"", 0, 0), c.code == 0 ? 5902 : c.code);
    ASSERT_EQ(dialogs_->shown, std::vector<DialogId>{DialogId::kPfxFile});
    EXPECT_EQ(dialogs_->requests[0].values.fileName, "*.pfx");
    dialogs_->fill = [](FileDialogValues* v) {
      v->fileName = "openssl.pfx";
      v->password = ToNarrow(kPassword);
    };
    EXPECT_EQ(engine_->ImportPfxToIE(Dir(), u"", u"", 0, 0), c.code);
  }
}

TEST_F(PfxOperationsTest, ExportOpensInOtherTools) {
  struct Case {
    int32_t flags;
    size_t certificates;  // in the written file
    bool staysInStore;
  } cases[] = {
      {0, 1, true},
      {0x200, 2, true},  // with the chain up to the trusted root
      {0x1000, 1, false},
  };
  const bool haveNss = std::system("command -v pk12util >/dev/null") == 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    testing::FakeServices services;
    services.clock->now = std::time(nullptr);
    auto dialogs = std::make_shared<FakeDialogs>();
    services.dialogs = dialogs;
    auto engine = services.makeEngine();
    ASSERT_EQ(engine->ImportPfxToIE(Dir(), u"openssl.pfx", kPassword, 1, 0), 0);
    CertStore root;
    ASSERT_EQ(services.stores->openSystemStore("ROOT", &root), 0u);
    const std::string caDer = RunCommand("openssl x509 -in '" + Data("ca.pem").string() + "' -outform DER");
    ASSERT_EQ(root.addEncoded(std::span(reinterpret_cast<const uint8_t*>(caDer.data()), caDer.size()),
                              AddDisposition::kNew),
              0u);
    const fs::path out = fs::path(services.dataDirectory->path()) / "out";
    dialogs->fill = [](FileDialogValues* v) { v->password = v->confirmation = "export-pw"; };
    ASSERT_EQ(engine->ExportPfxFromIE(u"", WideFromUtf8(out.string()), u"", c.flags, 0), 0)
        << engine->GetCapiErrorCode();
    EXPECT_EQ(dialogs->shown, std::vector<DialogId>{DialogId::kExportPfx});
    EXPECT_EQ(dialogs->requests[0].values.fileName, ToNarrow(kHolderCommonName) + ".pfx");
    const fs::path file = out / "互通測試 Holder.pfx";
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(engine->GetExportedPfxFileName(), std::u16string(kHolderCommonName) + u".pfx");

    int status = 0;
    const std::string shown =
        RunCommand("openssl pkcs12 -in '" + file.string() + "' -passin pass:export-pw -nodes", &status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_EQ(Count(shown, "BEGIN CERTIFICATE"), c.certificates) << shown;
    EXPECT_EQ(Count(shown, "BEGIN PRIVATE KEY"), 1u) << shown;
    const std::string keytool = RunCommand("keytool -list -storetype PKCS12 -keystore '" +
                                        file.string() + "' -storepass export-pw",
                                    &status);
    EXPECT_EQ(status, 0) << keytool;
    EXPECT_EQ(Count(keytool, "PrivateKeyEntry"), 1u) << keytool;
    if (haveNss) {
      const std::string nss = RunCommand("pk12util -l '" + file.string() + "' -W export-pw", &status);
      EXPECT_EQ(status, 0) << nss;
      EXPECT_EQ(Count(nss, "Key(shrouded)"), 1u) << nss;
    }
    CertStore my;
    std::vector<CertContext> left;
    ASSERT_EQ(services.stores->openSystemStore("MY", &my), 0u);
    ASSERT_EQ(my.enumerate(&left), 0u);
    EXPECT_EQ(left.size(), c.staysInStore ? 1u : 0u);
  }
}

TEST_F(PfxOperationsTest, FailedExportKeepsTheCertificate) {
  ImportHolder();
  std::ofstream(work_ / "a-file") << "x";
  struct Case {
    const char* name;
    std::u16string directory;
    DialogOutcome outcome;
    int32_t code;
  } cases[] = {
      {"folder is a file", WideFromUtf8((work_ / "a-file").string()), DialogOutcome::kOk, 1001},
      {"two levels missing", WideFromUtf8((work_ / "x" / "y").string()), DialogOutcome::kOk, 1001},
      {"cancelled", WorkDir(), DialogOutcome::kCancel, 5070},
      {"no dialog", WorkDir(), DialogOutcome::kCannotCreate, 5002},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs_->outcome = c.outcome;
    dialogs_->fill = [](FileDialogValues* v) { v->password = "pw"; };
    EXPECT_EQ(engine_->ExportPfxFromIE(u"", c.directory, u"pw", 0x1000, 0), c.code);
    EXPECT_EQ(Personal().size(), 1u);
    EXPECT_EQ(engine_->GetExportedPfxFileName(), u"");
  }
  // A certificate whose key container is gone is not exported at all.
  KeyProviderInfo info;
  ASSERT_EQ(Personal()[0].keyProviderInfo(&info), 0u);
  std::unique_ptr<ProviderContext> none;
  ASSERT_EQ(ProviderContext::Acquire(ToNarrow(info.containerName), "", kProvRsaFull,
                                     kCryptDeletekeyset, &none),
            0u);
  dialogs_->outcome = DialogOutcome::kOk;
  EXPECT_EQ(engine_->ExportPfxFromIE(u"", WorkDir(), u"pw", 0x1000, 0), 5010);
  EXPECT_EQ(Personal().size(), 1u);
  EXPECT_FALSE(fs::exists(work_ / "互通測試 Holder.pfx"));
}

TEST_F(PfxOperationsTest, MobileExportIsReadByAnIndependentReader) {
  const auto check = [&](const std::u16string& text, const std::string& mobilePassword) {
    ASSERT_FALSE(text.empty());
    const fs::path file = work_ / "mobile.txt";
    std::ofstream(file) << Utf8FromWide(text);
    int status = 0;
    const std::string output =
        RunCommand("python3 '" + (Here() / "read_mobile.py").string() + "' '" + file.string() + "' '" +
                Data("openssl.pfx").string() + "' '" + kPasswordUtf8 + "' '" + mobilePassword +
                "'",
            &status);
    EXPECT_EQ(status, 0) << output;
  };
  const int64_t keysBefore = UserKeyContainers();
  const std::u16string fromFile =
      engine_->ExportMobileFromPfx(Dir(), u"openssl.pfx", kPassword, 0, 0x80);
  EXPECT_EQ(engine_->GetErrorCode(), 0);
  EXPECT_EQ(UserKeyContainers(), keysBefore) << "the file's keys stayed in memory";
  EXPECT_EQ(engine_->GetExportedPfxFileName(), u"openssl.pfx");
  check(fromFile, kPasswordUtf8);
  EXPECT_EQ(engine_->ExportMobileFromPfx(Dir(), u"openssl.pfx", kPassword, 0, 0), fromFile)
      << "the same inputs give the same text";

  ImportHolder();
  const std::u16string fromStore = engine_->ExportMobileFromIE(u"", u"行動密碼", 0, 0);
  EXPECT_EQ(engine_->GetErrorCode(), 0);
  check(fromStore, "行動密碼");

  // The dialog's password is used when none is given; an empty one is refused.
  dialogs_->exportPassword = ToNarrow(u"行動密碼");  // dialogs speak the code page
  EXPECT_EQ(engine_->ExportMobileFromIE(u"", u"", 0, 0), fromStore);
  dialogs_->exportPassword.clear();
  EXPECT_EQ(engine_->ExportMobileFromIE(u"", u"", 0, 0), u"");
  EXPECT_EQ(engine_->GetErrorCode(), 5005);
  dialogs_->outcome = DialogOutcome::kCancel;
  EXPECT_EQ(engine_->ExportMobileFromIE(u"", u"", 0, 0), u"");
  EXPECT_EQ(engine_->GetErrorCode(), 5070);
  dialogs_->outcome = DialogOutcome::kOk;
  EXPECT_EQ(engine_->ExportMobileFromPfx(Dir(), u"encipher.pfx", u"pw", 0, 0x80), u"");
  EXPECT_EQ(engine_->GetErrorCode(), 5017);
}

TEST_F(PfxOperationsTest, PasswordChangeReplacesTheFileWhole) {
  const fs::path file = Copy("chain.pfx");
  const fs::path link = work_ / "link.pfx";
  fs::create_symlink(file, link);
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  const int64_t keysBefore = UserKeyContainers();
  ASSERT_EQ(engine_->ChangePfxPasswd(WorkDir(), u"link.pfx", kPassword, u"新的密碼", 0), 0)
      << engine_->GetCapiErrorCode();
  EXPECT_EQ(UserKeyContainers(), keysBefore);
  EXPECT_TRUE(fs::is_symlink(link)) << "the link still names the file";
  struct stat st{};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  int status = 0;
  const std::string before =
      RunCommand("openssl pkcs12 -in '" + Data("chain.pfx").string() + "' -passin 'pass:" +
              kPasswordUtf8 + "' -nodes | grep -v -e Attributes -e localKeyID -e friendlyName",
          &status);
  const std::string after = RunCommand("openssl pkcs12 -in '" + file.string() +
                                    "' -passin 'pass:新的密碼' -nodes | grep -v -e Attributes "
                                    "-e localKeyID -e friendlyName",
                                &status);
  EXPECT_EQ(Count(after, "BEGIN CERTIFICATE"), 2u) << after;
  EXPECT_EQ(Count(after, "BEGIN PRIVATE KEY"), 1u) << after;
  // The same key and certificates, in the same order.
  const auto blocks = [](const std::string& text) {
    std::string out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("subject=", 0) == 0 || line.rfind("issuer=", 0) == 0 ||
          line.find(':') == std::string::npos) {
        out += line + "\n";
      }
    }
    return out;
  };
  EXPECT_EQ(blocks(after), blocks(before));
  PfxStore old(PfxKeyPlacement::kMemory);
  EXPECT_EQ(old.open(file.string(), ToNarrow(kPassword), 0), 5208) << "the old password fails";
}

TEST_F(PfxOperationsTest, FailedPasswordChangeLeavesTheFileAsItWas) {
  struct Case {
    const char* file;
    const char16_t* oldPassword;
    bool fileSizeLimit;  // stands in for a full disk
    int32_t code;
  } cases[] = {
      {"openssl.pfx", u"wrong", false, 5208},
      {"ec.pfx", u"pw", false, 5204},      // a key we do not carry
      {"orphan.pfx", u"pw", false, 5204},  // a key without its certificate
      {"many.pfx", u"pw", false, 5207},
      {"openssl.pfx", kPassword, true, 1103},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path file = Copy(c.file);
    const std::string bytes = Slurp(file);
    const std::u16string name = WideFromUtf8(c.file);
    if (c.fileSizeLimit) {
      pid_t child = ::fork();
      if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {512, 512};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(engine_->ChangePfxPasswd(WorkDir(), name, c.oldPassword, u"new", 0) == c.code
                    ? 0
                    : 1);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    } else {
      EXPECT_EQ(engine_->ChangePfxPasswd(WorkDir(), name, c.oldPassword, u"new", 0), c.code);
    }
    EXPECT_EQ(Slurp(file), bytes);
    for (const auto& entry : fs::directory_iterator(work_)) {
      EXPECT_EQ(entry.path().string().find(".pfx."), std::string::npos)
          << "temporary file left: " << entry.path();
    }
    fs::remove(file);
  }
}

TEST_F(PfxOperationsTest, PasswordChangeUpdatesThePublishedSigner) {
  Copy("openssl.pfx");
  SecurityEngineTestAccess::selectSigner(*engine_, 2, "", "");
  engine_->PublishSigner();
  engine_->SetStringProperty("signerCertFilePath", work_.string());
  engine_->SetStringProperty("signerCertFileName", "OPENSSL.PFX");  // letter case aside
  struct Case {
    int32_t port;
    const char16_t* from;
    const char16_t* to;
    const char* published;
  } cases[] = {
      {0, kPassword, u"second", "pw"},  // port 0 leaves the store alone
      {1, u"second", u"third", "third"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(engine_->ChangePfxPasswdEx(WorkDir(), u"openssl.pfx", c.from, c.to, c.port, 0), 0);
    EXPECT_EQ(engine_->GetStringProperty("signerCertPasswd"), c.published);
  }
}

}  // namespace
}  // namespace quorvant
