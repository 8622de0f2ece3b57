// Enrolment through the engine: requests checked by the openssl command line
// and Python's cryptography, replies made by openssl acting as the
// certification authority, and every result code on fakes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>

#include "base/result_codes.h"
#include "encoding/base64.h"
#include "encoding/byte_order.h"
#include "encoding/code_page.h"
#include "encoding/hex.h"
#include "dialogs/dialog_platform.h"
#include "dialogs/scripted_dialog_host.h"
#include "engine/fake_services.h"
#include "enroll/pending_record.h"
#include "host/registry/registry.h"
#include "platform/stores/cert_store.h"
#include "platform/keys/crypto_provider.h"
#include "platform/database/platform_database.h"
#include "support/scoped_time_zone.h"
#include "support/tool_commands.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;
using testing::Capture;
using testing::FakeServices;
using testing::ReadBytes;
using testing::RunQuiet;
using testing::WriteBytes;
using testing::WriteText;

constexpr char kEnhanced[] = "Microsoft Enhanced Cryptographic Provider v1.0";

// Answers the trust question before a root addition as told.
class RootAnswer final : public DialogHost {
 public:
  explicit RootAnswer(DialogOutcome answer) : answer_(answer) {}
  DialogOutcome confirmRootAddition(const RootAddition& root) override {
    asked.push_back(root.subject);
    return answer_;
  }
  std::vector<std::string> asked;

 private:
  const DialogOutcome answer_;
};

// The real registry, except that writing one named value fails.
class FailingRegistry final : public Registry {
 public:
  FailingRegistry(std::shared_ptr<Registry> real, std::string failingValue)
      : real_(std::move(real)), failingValue_(std::move(failingValue)) {}
  uint32_t createKey(RegRoot root, std::string_view path) override {
    return real_->createKey(root, path);
  }
  uint32_t keyExists(RegRoot root, std::string_view path) override {
    return real_->keyExists(root, path);
  }
  uint32_t queryValue(RegRoot root, std::string_view path, std::string_view name,
                      RegValue* out) override {
    return real_->queryValue(root, path, name, out);
  }
  uint32_t setValue(RegRoot root, std::string_view path, std::string_view name, uint32_t type,
                    std::span<const uint8_t> data) override {
    if (name == failingValue_) return reg::kErrRegistryIoFailed;
    return real_->setValue(root, path, name, type, data);
  }
  uint32_t deleteValue(RegRoot root, std::string_view path, std::string_view name) override {
    return real_->deleteValue(root, path, name);
  }
  uint32_t enumSubkey(RegRoot root, std::string_view path, uint32_t index,
                      std::string* name) override {
    return real_->enumSubkey(root, path, index, name);
  }
  uint32_t enumValue(RegRoot root, std::string_view path, uint32_t index, std::string* name,
                     RegValue* value) override {
    return real_->enumValue(root, path, index, name, value);
  }
  uint32_t deleteKey(RegRoot root, std::string_view path) override {
    return real_->deleteKey(root, path);
  }
  uint32_t deleteTree(RegRoot root, std::string_view path) override {
    return real_->deleteTree(root, path);
  }

 private:
  const std::shared_ptr<Registry> real_;
  const std::string failingValue_;
};

std::shared_ptr<DialogHost> Scripted(const char* script) {
  auto host = std::make_shared<ScriptedDialogHost>(MakeLinuxDialogPlatform());
  std::string error;
  EXPECT_TRUE(host->enqueueScript(script, &error)) << error;
  return host;
}

std::vector<uint8_t> Decode(const std::string& base64) {
  ByteBuffer out;
  EXPECT_TRUE(Base64Decode(base64.c_str(), out));
  return std::vector<uint8_t>(out.bytes().begin(), out.bytes().end());
}

std::string Encode(std::span<const uint8_t> der) {
  ByteBuffer out;
  EXPECT_TRUE(Base64Encode(der.data(), static_cast<int32_t>(der.size()), out));
  return std::string(out.view());
}

class EnrollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qv-enrol-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    uint32_t error = 0;
    db_ = PlatformDatabase::Open((dir_ / "platform.db").string(), &error);
    ASSERT_NE(db_, nullptr) << error;
    fakes_.stores = MakeDatabaseCertificateStores(db_);
    RegistryPaths paths;
    paths.currentUser = (dir_ / "registry.db").string();
    paths.localMachine = (dir_ / "machine.db").string();
    registry_ = OpenSqliteRegistry(paths);
    fakes_.registry = registry_;
    dialogs_ = std::make_shared<RootAnswer>(DialogOutcome::kOk);
    fakes_.dialogs = dialogs_;
  }
  void TearDown() override {
    registry_.reset();
    fakes_.registry.reset();
    fakes_.stores.reset();
    db_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::unique_ptr<SecurityEngine> makeEngine(EnrollServices enroll = {}) {
    EngineServices services = fakes_.engineServices();
    if (!enroll.keyDatabase) enroll.keyDatabase = db_;
    services.enroll = std::move(enroll);
    return std::make_unique<SecurityEngine>(std::move(services));
  }

  int64_t containerCount() {
    SqliteStatement count(db_->handle(), "SELECT COUNT(*) FROM key_containers");
    if (count.step() != SQLITE_ROW) return 0;  // no container was ever made
    return count.columnInt(0);
  }

  std::vector<std::string> records() {
    std::vector<std::string> names;
    for (uint32_t i = 0;; ++i) {
      std::string name;
      if (registry_->enumSubkey(RegRoot::kCurrentUser, kRecordPath, i, &name) != 0) break;
      names.push_back(name);
    }
    return names;
  }

  RegValue recordValue(const std::string& record, const char* name) {
    RegValue value;
    EXPECT_EQ(registry_->queryValue(RegRoot::kCurrentUser,
                                    std::string(kRecordPath) + "\\" + record, name, &value),
              0u)
        << name;
    return value;
  }

  std::vector<CertContext> store(const char* name) {
    CertStore s;
    std::vector<CertContext> out;
    EXPECT_EQ(fakes_.stores->openSystemStore(name, &s), 0u);
    EXPECT_EQ(s.enumerate(&out), 0u);
    return out;
  }

  bool storesEmpty() { return store("MY").empty() && store("CA").empty() && store("ROOT").empty(); }

  FakeServices fakes_;
  fs::path dir_;
  std::shared_ptr<PlatformDatabase> db_;
  std::shared_ptr<Registry> registry_;
  std::shared_ptr<RootAnswer> dialogs_;
};

// --- Provider selection and the gates -------------------------------------------

TEST_F(EnrollTest, SetProviderNameCodes) {
  auto engine = makeEngine();
  EXPECT_EQ(engine->SetProviderName(u"Vendor Smart Card CSP"), 0);
  EXPECT_EQ(engine->SetProviderName(u""), rc::kBadArgument);
  EnrollServices none;
  none.providers = [](uint32_t, std::string*, uint32_t*) { return 259u; };
  auto bare = makeEngine(none);
  EXPECT_EQ(bare->SetProviderName(u"Anything"), rc::kCspNameError);
  // Key generation still runs with the initial provider.
  EXPECT_FALSE(bare->CreatePKCS10(u"Still works", 1024, 1).empty());
  EXPECT_EQ(bare->GetErrorCode(), 0);
  fakes_.protectedMode->on = true;
  EXPECT_EQ(makeEngine()->SetProviderName(u"x"), rc::kProtectedMode);
}

TEST_F(EnrollTest, RequestGatesLeaveNothingBehind) {
  const struct {
    const char16_t* commonName;
    int32_t bits;
    bool protectedMode;
    bool registryWritable;
    int32_t code;
  } cases[] = {
      {u"", 2048, false, true, rc::kBadArgument},
      {u"", 2048, true, true, rc::kBadArgument},
      {u"A", 2048, true, true, rc::kProtectedMode},
      {u"A", 3072, false, true, rc::kBadKeyLength},
      {u"A", 512, false, true, rc::kBadKeyLength},
      {u"A", 1024, false, false, rc::kAccessDenied},
  };
  for (const auto& c : cases) {
    fakes_.protectedMode->on = c.protectedMode;
    RegistryPaths readOnly;  // no user file: every write fails
    fakes_.registry = c.registryWritable ? registry_ : std::shared_ptr<Registry>(OpenSqliteRegistry(readOnly));
    auto engine = makeEngine();
    EXPECT_TRUE(engine->CreatePKCS10(c.commonName, c.bits, 1).empty());
    EXPECT_EQ(engine->GetErrorCode(), c.code);
    EXPECT_EQ(engine->CreatePKCS10Pair(c.commonName, c.bits, 1), c.code);
    EXPECT_TRUE(engine->GetCsrForSign().empty());
    EXPECT_TRUE(engine->GetCsrForEncrypt().empty());
    if (!c.registryWritable) {
      EXPECT_NE(engine->GetCapiErrorCode(), 0);
    }
  }
  EXPECT_EQ(containerCount(), 0);
  EXPECT_TRUE(records().empty());
}

// --- The request as other implementations read it ---------------------------------

// Reads the request, the container's private key (from the PRIVATEKEYBLOB
// layout, parsed here) and the record's public key; prints one verdict a
// line.
constexpr char kCheckRequest[] = R"PY(
import sys
from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import rsa, padding
req = x509.load_der_x509_csr(open(sys.argv[1], 'rb').read())
blob = bytes.fromhex(sys.argv[2])
record = bytes.fromhex(sys.argv[3])
bits = int.from_bytes(blob[12:16], 'little')
e = int.from_bytes(blob[16:20], 'little')
f, h = bits // 8, bits // 16
at = 20
def take(n):
    global at
    v = int.from_bytes(blob[at:at + n], 'little'); at += n; return v
n = take(f); p = take(h); q = take(h); dp = take(h); dq = take(h); qi = take(h); d = take(f)
key = rsa.RSAPrivateNumbers(p, q, d, dp, dq, qi, rsa.RSAPublicNumbers(e, n)).private_key()
print('signature', req.is_signature_valid)
print('hash', req.signature_hash_algorithm.name)
print('attributes', len(list(req.attributes)))
print('resign', key.sign(req.tbs_certrequest_bytes, padding.PKCS1v15(), hashes.SHA1()) == req.signature)
pub = req.public_key().public_numbers()
expected = bytes([6, 2, 0, 0]) + (0xA400).to_bytes(4, 'little') + b'RSA1'
expected += pub.n.bit_length().to_bytes(4, 'little') + pub.e.to_bytes(4, 'little')
expected += pub.n.to_bytes(pub.n.bit_length() // 8, 'little')
print('record', expected == record)
print('cn', req.subject.get_attributes_for_oid(x509.oid.NameOID.COMMON_NAME)[0].value.encode('utf-16-be').hex())
)PY";

// The BMPString holds the caller's UTF-16 code units, big-endian.
std::string BmpStringDer(std::u16string_view text) {
  std::string out = {0x1E, static_cast<char>(text.size() * 2)};
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit >> 8));
    out.push_back(static_cast<char>(unit & 0xFF));
  }
  return out;
}

TEST_F(EnrollTest, RequestStructureAsOpensslParsesIt) {
  if (!testing::HaveOpensslCommand()) GTEST_SKIP() << "no openssl command";
  // A character outside the Basic Multilingual Plane stays a surrogate pair,
  // as the caller's UTF-16 has it (a strict UCS-2 reader refuses such a
  // name, so only the structure is read here).
  for (const std::u16string& cn : {std::u16string(u"王小明 Test"), std::u16string(u"Test \U00020000")}) {
    auto engine = makeEngine();
    const std::string request = Utf8FromWide(engine->CreatePKCS10(cn, 1024, 1));
    ASSERT_EQ(engine->GetErrorCode(), 0);
    EXPECT_EQ(request.find_first_of("\r\n -"), std::string::npos);
    const std::vector<uint8_t> der = Decode(request);
    WriteBytes(dir_ / "req.der", der);
    int status = 0;
    const std::string parsed =
        Capture("openssl asn1parse -inform DER -in " + (dir_ / "req.der").string(), &status);
    EXPECT_EQ(status, 0);
    for (const char* expected :
         {"INTEGER           :00", ":commonName", "BMPSTRING", ":rsaEncryption",
          ":sha1WithRSAEncryption", "l=   0 cons: cont [ 0 ]"}) {
      EXPECT_NE(parsed.find(expected), std::string::npos) << expected << "\n" << parsed;
    }
    const std::string bytes(der.begin(), der.end());
    EXPECT_NE(bytes.find(BmpStringDer(cn)), std::string::npos);
  }
}

TEST_F(EnrollTest, RequestsVerifyElsewhereAndMatchTheirKeyAndRecord) {
  if (!testing::HaveOpensslCommand() || !testing::HavePythonCryptography()) {
    GTEST_SKIP() << "needs openssl and Python's cryptography";
  }
  testing::ScopedTimeZone zone("UTC");
  const std::u16string cn = u"王小明 Test";
  auto engine = makeEngine();
  const std::string request = Utf8FromWide(engine->CreatePKCS10(cn, 2048, 1));
  ASSERT_EQ(engine->GetErrorCode(), 0);
  EXPECT_EQ(Utf8FromWide(engine->GetCsrForSign()), request);
  EXPECT_TRUE(engine->GetCsrForEncrypt().empty());
  WriteBytes(dir_ / "req.der", Decode(request));
  int status = 0;
  const std::string verify =
      Capture("openssl req -inform DER -in " + (dir_ / "req.der").string() + " -verify -noout", &status);
  EXPECT_EQ(status, 0) << verify;
  EXPECT_NE(verify.find("verify OK"), std::string::npos) << verify;

  const std::vector<std::string> names = records();
  ASSERT_EQ(names.size(), 1u);
  const std::string& container = names[0];
  EXPECT_EQ(container.size(), 36u);
  std::unique_ptr<ProviderContext> context;
  ASSERT_EQ(ProviderContext::Acquire(container, kEnhanced, 1, 0, &context, db_), 0u);
  std::unique_ptr<CryptKey> key;
  ASSERT_EQ(context->getUserKey(kAtKeyExchange, &key), 0u);
  ByteBuffer blob;
  ASSERT_EQ(key->exportKey(kPrivatekeyblob, 0, &blob), 0u);
  ByteBuffer blobHex, recordHex;
  ASSERT_TRUE(HexEncode(blob.data(), blob.size(), blobHex));
  const RegValue publicKey = recordValue(container, "PublicKey");
  EXPECT_EQ(publicKey.type, reg::kBinary);
  ASSERT_TRUE(HexEncode(publicKey.data.data(), static_cast<int32_t>(publicKey.data.size()), recordHex));

  WriteText(dir_ / "check.py", kCheckRequest);
  const std::string verdicts =
      Capture("/usr/bin/python3 " + (dir_ / "check.py").string() + " " + (dir_ / "req.der").string() +
                  " " + std::string(blobHex.view()) + " " + std::string(recordHex.view()),
              &status);
  ASSERT_EQ(status, 0) << verdicts;
  std::string cnHex;
  for (char16_t unit : cn) {
    char two[5];
    std::snprintf(two, sizeof two, "%04x", static_cast<unsigned>(unit));
    cnHex += two;
  }
  for (const std::string& expected : std::vector<std::string>{"signature True", "hash sha1", "attributes 0", "resign True", "record True", "cn " + cnHex}) {
    EXPECT_NE(verdicts.find(expected + "\n"), std::string::npos) << expected << "\n" << verdicts;
  }

  // The record's other values, each in its type and form.
  const auto text = [&](const char* name) {
    const RegValue v = recordValue(container, name);
    EXPECT_EQ(v.type, reg::kSz) << name;
    EXPECT_TRUE(v.data.size() < 2 || v.data[v.data.size() - 2] != 0 || v.data.back() != 0)
        << name << " has a terminator";
    return NarrowFromRegistryString(v.data);
  };
  const auto dword = [&](const char* name) {
    const RegValue v = recordValue(container, name);
    EXPECT_EQ(v.type, reg::kDword) << name;
    return v.data.size() == 4 ? LoadLe32(v.data.data()) : 0xFFFFFFFFu;
  };
  EXPECT_EQ(text("ProviderName"), kEnhanced);
  EXPECT_EQ(dword("ProviderType"), 1u);
  EXPECT_EQ(dword("KeySpec"), 1u);
  EXPECT_EQ(text("DateTime"), "2013/06/23 03:31:15");
  EXPECT_EQ(text("CommonName"), ToNarrow(cn));
}

// --- Weak keys and clean-up ---------------------------------------------------------

TEST_F(EnrollTest, WeakKeysAreRetriedTwentyTimesAndLeaveNothing) {
  const struct {
    const char* what;
    bool pair;
    int weakFrom;  // the test call from which every key is weak (1-based)
    int expectedCalls;
  } cases[] = {
      {"single", false, 1, 20},
      {"pair, first key", true, 1, 20},
      {"pair, second key", true, 2, 21},
  };
  for (const auto& c : cases) {
    auto calls = std::make_shared<int>(0);
    EnrollServices enroll;
    enroll.weakKeyTest = [calls, c](const CryptKey* key, uint32_t* capiCode) {
      EXPECT_NE(key, nullptr);
      *capiCode = 0x80090003;  // NTE_BAD_KEY
      return ++*calls >= c.weakFrom;
    };
    auto engine = makeEngine(enroll);
    const int32_t code = c.pair ? engine->CreatePKCS10Pair(u"Weak", 1024, 0)
                                : (engine->CreatePKCS10(u"Weak", 1024, 0), engine->GetErrorCode());
    EXPECT_EQ(code, rc::kWeakRsaKey) << c.what;
    EXPECT_EQ(engine->GetCapiErrorCode(), static_cast<int32_t>(0x80090003)) << c.what;
    EXPECT_EQ(*calls, c.expectedCalls) << c.what;
    EXPECT_TRUE(engine->GetCsrForSign().empty());
    EXPECT_TRUE(engine->GetCsrForEncrypt().empty());
    EXPECT_EQ(containerCount(), 0) << c.what;
    EXPECT_TRUE(records().empty()) << c.what;
  }
}

TEST_F(EnrollTest, AFailedRecordWriteRemovesTheCallsKeysAndRecords) {
  for (const char* value : {"ProviderName", "PublicKey", "CommonName"}) {
    for (bool pair : {false, true}) {
      fakes_.registry = std::make_shared<FailingRegistry>(registry_, value);
      auto engine = makeEngine();
      const int32_t code = pair ? engine->CreatePKCS10Pair(u"Grace", 1024, 1)
                                : (engine->CreatePKCS10(u"Grace", 1024, 1), engine->GetErrorCode());
      EXPECT_EQ(code, kPendingRecordFailure) << value;
      EXPECT_EQ(engine->GetCapiErrorCode(), static_cast<int32_t>(reg::kErrRegistryIoFailed));
      EXPECT_TRUE(engine->GetCsrForSign().empty());
      EXPECT_TRUE(engine->GetCsrForEncrypt().empty());
      EXPECT_EQ(containerCount(), 0) << value;
      EXPECT_TRUE(records().empty()) << value;
    }
  }
}

TEST_F(EnrollTest, CountWeakKeys) {
  auto weakAlways = [](const CryptKey*, uint32_t*) { return true; };
  const struct {
    int32_t count;
    bool alwaysWeak;
    int32_t expected;
  } cases[] = {{0, false, 0}, {-4, false, 0}, {2, false, 0}, {3, true, 3}};
  for (const auto& c : cases) {
    EnrollServices enroll;
    if (c.alwaysWeak) enroll.weakKeyTest = weakAlways;
    auto engine = makeEngine(enroll);
    EXPECT_EQ(engine->CountWeakKeys(c.count), c.expected) << c.count;
    EXPECT_EQ(engine->GetErrorCode(), 0);
  }
  EXPECT_EQ(containerCount(), 0);
  EXPECT_TRUE(records().empty());
  fakes_.protectedMode->on = true;
  auto engine = makeEngine();
  EXPECT_EQ(engine->CountWeakKeys(1), -1);
  EXPECT_EQ(engine->GetErrorCode(), rc::kProtectedMode);
}

// --- Accepting replies made by openssl as the authority ------------------------------

class AcceptTest : public EnrollTest {
 protected:
  static const fs::path& Authority() {
    static const fs::path dir = [] {
      char pattern[] = "/tmp/qv-enrol-ca-XXXXXX";
      fs::path d = mkdtemp(pattern);
      const std::string s = d.string();
      WriteText(d / "int.ext", "basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign,cRLSign\n");
      WriteText(d / "ee.ext", "keyUsage=critical,digitalSignature,keyEncipherment\n");
      RunQuiet("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + s + "/root.key -out " + s +
               "/root.pem -subj '/CN=Enrol Test Root' -days 30");
      RunQuiet("openssl req -newkey rsa:2048 -nodes -keyout " + s + "/int.key -out " + s +
               "/int.csr -subj '/CN=Enrol Test Issuing CA'");
      RunQuiet("openssl x509 -req -in " + s + "/int.csr -CA " + s + "/root.pem -CAkey " + s +
               "/root.key -set_serial 2 -days 30 -extfile " + s + "/int.ext -out " + s + "/int.pem");
      // A certificate for a key that no record knows.
      RunQuiet("openssl req -newkey rsa:1024 -nodes -keyout " + s + "/other.key -out " + s +
               "/other.csr -subj '/CN=Someone Else'");
      RunQuiet("openssl x509 -req -in " + s + "/other.csr -CA " + s + "/int.pem -CAkey " + s +
               "/int.key -set_serial 9 -days 30 -extfile " + s + "/ee.ext -out " + s + "/other.pem");
      return d;
    }();
    return dir;
  }
  static std::string CaFile(const char* name) { return (Authority() / name).string(); }

  void SetUp() override {
    if (!testing::HaveOpensslCommand()) GTEST_SKIP() << "no openssl command";
    EnrollTest::SetUp();
    ASSERT_TRUE(fs::exists(Authority() / "int.pem")) << "openssl could not make the authority";
  }

  // Issues the certificate for a request (Base64) and returns its PEM file.
  std::string issue(const std::string& request, const std::string& name) {
    WriteBytes(dir_ / (name + ".csr"), Decode(request));
    const std::string out = (dir_ / (name + ".pem")).string();
    EXPECT_EQ(RunQuiet("openssl x509 -req -inform DER -in " + (dir_ / (name + ".csr")).string() +
                       " -CA " + CaFile("int.pem") + " -CAkey " + CaFile("int.key") +
                       " -set_serial " + std::to_string(++serial_) + " -days 30 -extfile " +
                       CaFile("ee.ext") + " -out " + out),
              0);
    return out;
  }

  std::vector<uint8_t> der(const std::string& pem) {
    const fs::path out = dir_ / "cert.der";
    EXPECT_EQ(RunQuiet("openssl x509 -in " + pem + " -outform DER -out " + out.string()), 0);
    return ReadBytes(out);
  }

  // `openssl crl2pkcs7` of the certificates in this order, as Base64 of the
  // DER or as the PEM text.
  std::string bundle(const std::vector<std::string>& pems, bool pem = false) {
    std::string command = "openssl crl2pkcs7 -nocrl";
    for (const std::string& p : pems) command += " -certfile " + p;
    const fs::path out = dir_ / "reply.p7";
    command += std::string(" -outform ") + (pem ? "PEM" : "DER") + " -out " + out.string();
    EXPECT_EQ(RunQuiet(command), 0);
    const std::vector<uint8_t> bytes = ReadBytes(out);
    return pem ? std::string(bytes.begin(), bytes.end()) : Encode(bytes);
  }

  std::u16string reply(const std::string& text) { return WideFromUtf8(text); }

  int serial_ = 100;
};

TEST_F(AcceptTest, EveryReplyFormInstallsTheCertificateBoundToItsKey) {
  enum Form { kP7RootFirst, kP7UserFirst, kP7Middle, kP7Pem, kBareDer, kBarePem, kBareBer, kCmsStream };
  const struct {
    const char* what;
    Form form;
    bool authorities;
  } cases[] = {
      {"crl2pkcs7 root, issuing CA, user", kP7RootFirst, true},
      {"crl2pkcs7 user, issuing CA, root", kP7UserFirst, true},
      {"crl2pkcs7 issuing CA, user, root", kP7Middle, true},
      {"crl2pkcs7 PEM armour", kP7Pem, true},
      {"bare certificate, Base64 of DER", kBareDer, false},
      {"bare certificate, PEM", kBarePem, false},
      {"bare certificate, outer SEQUENCE of indefinite length", kBareBer, false},
      {"BER stream of cms -sign -stream", kCmsStream, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    auto engine = makeEngine();
    const std::string request = Utf8FromWide(engine->CreatePKCS10(u"Alice", 1024, 1));
    ASSERT_EQ(engine->GetErrorCode(), 0);
    const std::string user = issue(request, "alice");
    const std::string root = CaFile("root.pem"), ca = CaFile("int.pem");
    std::string text;
    switch (c.form) {
      case kP7RootFirst: text = bundle({root, ca, user}); break;
      case kP7UserFirst: text = bundle({user, ca, root}); break;
      case kP7Middle: text = bundle({ca, user, root}); break;
      case kP7Pem: text = bundle({ca, user, root}, true); break;
      case kBareDer: text = Encode(der(user)); break;
      case kBareBer: {
        std::vector<uint8_t> bytes = der(user);
        ASSERT_EQ(bytes[1], 0x82);  // 30 82 hh ll: two length octets
        bytes.erase(bytes.begin() + 1, bytes.begin() + 4);
        bytes.insert(bytes.begin() + 1, 0x80);
        bytes.insert(bytes.end(), {0x00, 0x00});
        text = Encode(bytes);
        break;
      }
      case kBarePem: {
        const std::vector<uint8_t> pem = ReadBytes(user);
        text.assign(pem.begin(), pem.end());
        break;
      }
      case kCmsStream: {
        WriteText(dir_ / "content.txt", "reply");
        const fs::path out = dir_ / "reply.ber";
        ASSERT_EQ(RunQuiet("cat " + user + " " + root + " > " + (dir_ / "chain.pem").string() +
                           " && openssl cms -sign -stream -nodetach -outform DER -in " +
                           (dir_ / "content.txt").string() + " -signer " + ca + " -inkey " +
                           CaFile("int.key") + " -certfile " + (dir_ / "chain.pem").string() +
                           " -out " + out.string()),
                  0);
        const std::vector<uint8_t> ber = ReadBytes(out);
        ASSERT_GE(ber.size(), 2u);
        ASSERT_EQ(ber[1], 0x80) << "not an indefinite length";
        text = Encode(ber);
        break;
      }
    }
    ASSERT_EQ(engine->AcceptPKCS7(reply(text)), 0) << Utf8FromWide(engine->GetErrorMsg());

    const std::vector<CertContext> my = store("MY");
    ASSERT_EQ(my.size(), 1u);
    const std::vector<uint8_t> expected = der(user);
    EXPECT_TRUE(std::equal(my[0].encoded().begin(), my[0].encoded().end(), expected.begin(),
                           expected.end()));
    KeyProviderInfo info;
    ASSERT_EQ(my[0].keyProviderInfo(&info), 0u);
    const std::vector<std::string> names = records();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(info.containerName, WideFromUtf8(names[0]));
    EXPECT_EQ(info.providerName, WideFromUtf8(kEnhanced));
    EXPECT_EQ(info.providerType, 1u);
    EXPECT_EQ(info.keySpec, 1u);
    EXPECT_EQ(info.flags, 0u);
    std::u16string friendly;
    EXPECT_EQ(my[0].friendlyName(&friendly), 0u);
    EXPECT_EQ(friendly, u"Alice");
    // The key is reachable through the binding, as signing will reach it.
    std::unique_ptr<ProviderContext> context;
    uint32_t keySpec = 0;
    EXPECT_EQ(AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db_), 0u);

    EXPECT_EQ(store("CA").size(), c.authorities ? 1u : 0u);
    EXPECT_EQ(store("ROOT").size(), c.authorities ? 1u : 0u);
    // Accepting again keeps one entry.
    EXPECT_EQ(engine->AcceptPKCS7(reply(text)), 0);
    EXPECT_EQ(store("MY").size(), 1u);
    EXPECT_EQ(store("ROOT").size(), c.authorities ? 1u : 0u);
  }
}

TEST_F(AcceptTest, RootsNeedTheUsersConsent) {
  const struct {
    const char* what;
    std::shared_ptr<DialogHost> dialogs;
    size_t roots;
  } cases[] = {
      {"no dialog possible", MakeNoDialogHost(), 0},
      {"user refuses", std::make_shared<RootAnswer>(DialogOutcome::kCancel), 0},
      {"user agrees", std::make_shared<RootAnswer>(DialogOutcome::kOk), 1},
      {"script agrees", Scripted("dialog root\npress ok\n"), 1},
      {"script refuses", Scripted("dialog root\npress cancel\n"), 0},
      {"script shows another dialog", Scripted("dialog 201\npress ok\n"), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    fakes_.dialogs = c.dialogs;
    auto engine = makeEngine();
    const std::string user = issue(Utf8FromWide(engine->CreatePKCS10(u"Bob", 1024, 1)), "bob");
    EXPECT_EQ(engine->AcceptPKCS7(reply(bundle({CaFile("root.pem"), CaFile("int.pem"), user}))), 0);
    EXPECT_EQ(store("MY").size(), 1u);
    EXPECT_EQ(store("CA").size(), 1u);
    EXPECT_EQ(store("ROOT").size(), c.roots);
  }
}

// An authority whose name differs from its issuer's only after the first
// 511 bytes of text is not self-issued: it goes to "CA", not "ROOT".
TEST_F(AcceptTest, LongNamesAreComparedWhole) {
  std::string prefix;
  for (int i = 0; i < 15; ++i) prefix += "/OU=Department number " + std::to_string(i) + " of the long name";
  const std::string d = dir_.string();
  ASSERT_EQ(RunQuiet("openssl req -x509 -newkey rsa:1024 -nodes -keyout " + d + "/lroot.key -out " + d +
                     "/lroot.pem -subj '" + prefix + "/CN=Long Root' -days 30"),
            0);
  ASSERT_EQ(RunQuiet("openssl req -newkey rsa:1024 -nodes -keyout " + d + "/lint.key -out " + d +
                     "/lint.csr -subj '" + prefix + "/CN=Long Issuing CA'"),
            0);
  ASSERT_EQ(RunQuiet("openssl x509 -req -in " + d + "/lint.csr -CA " + d + "/lroot.pem -CAkey " + d +
                     "/lroot.key -set_serial 3 -days 30 -extfile " + CaFile("int.ext") + " -out " +
                     d + "/lint.pem"),
            0);
  // The names agree beyond what a 511-byte text holds.
  ASSERT_GT(prefix.size(), 560u);
  auto engine = makeEngine();
  const std::string request = Utf8FromWide(engine->CreatePKCS10(u"Frank", 1024, 1));
  WriteBytes(dir_ / "frank.csr", Decode(request));
  ASSERT_EQ(RunQuiet("openssl x509 -req -inform DER -in " + d + "/frank.csr -CA " + d +
                     "/lint.pem -CAkey " + d + "/lint.key -set_serial 4 -days 30 -out " + d +
                     "/frank.pem"),
            0);
  EXPECT_EQ(engine->AcceptPKCS7(reply(bundle({d + "/lint.pem", d + "/frank.pem", d + "/lroot.pem"}))), 0);
  EXPECT_EQ(store("MY").size(), 1u);
  ASSERT_EQ(store("CA").size(), 1u);
  ASSERT_EQ(store("ROOT").size(), 1u);
  const std::vector<uint8_t> root = der(d + "/lroot.pem");
  const std::vector<CertContext> roots = store("ROOT");
  const auto stored = roots[0].encoded();
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), root.begin(), root.end()));
  EXPECT_EQ(dialogs_->asked.size(), 1u);
}

TEST_F(AcceptTest, RepliesThatInstallNothing) {
  auto engine = makeEngine();
  const std::string user = issue(Utf8FromWide(engine->CreatePKCS10(u"Carol", 1024, 1)), "carol");
  const std::string root = CaFile("root.pem"), ca = CaFile("int.pem");
  std::vector<std::string> many(33, root);
  const struct {
    const char* what;
    std::string text;
    int32_t code;
  } cases[] = {
      {"empty", "", rc::kBadArgument},
      {"unclosed armour", "-----BEGIN PKCS7-----\nMIIB", rc::kBase64Error},
      {"no payload", "\r\n", rc::kBase64Error},
      {"not a certificate", "AAECAwQF", rc::kBadCertificate},
      {"authorities only", bundle({root, ca}), rc::kKeyMissing},
      {"an unknown key", bundle({root, ca, CaFile("other.pem")}), rc::kCertNotFound},
      {"over 32 certificates", bundle(many), rc::kBadCertificate},
      {"text over 2 MiB", std::string(size_t{3} << 20, 'A'), rc::kBadCertificate},
      {"over 1 MiB decoded", std::string(size_t{3} << 19, 'A'), rc::kBadCertificate},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(engine->AcceptPKCS7(reply(c.text)), c.code) << c.what;
    EXPECT_TRUE(storesEmpty()) << c.what;
  }
  fakes_.protectedMode->on = true;
  EXPECT_EQ(makeEngine()->AcceptPKCS7(reply(bundle({user}))), rc::kProtectedMode);
  EXPECT_TRUE(storesEmpty());
}

TEST_F(AcceptTest, EditedRecordsBindNothing) {
  const struct {
    const char* what;
    const char* value;
    uint32_t type;
    std::vector<uint8_t> data;
  } cases[] = {
      {"KeySpec names the other key", "KeySpec", reg::kDword, {2, 0, 0, 0}},
      {"KeySpec out of range", "KeySpec", reg::kDword, {7, 0, 0, 0}},
      {"KeySpec as text", "KeySpec", reg::kSz, {'1', 0}},
      {"ProviderType unknown", "ProviderType", reg::kDword, {13, 0, 0, 0}},
      {"ProviderType too short", "ProviderType", reg::kDword, {1, 0}},
      {"ProviderName of no provider", "ProviderName", reg::kSz, {'X', 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    auto engine = makeEngine();
    const std::string user = issue(Utf8FromWide(engine->CreatePKCS10(u"Dave", 1024, 1)), "dave");
    const std::vector<std::string> names = records();
    ASSERT_EQ(names.size(), 1u);
    ASSERT_EQ(registry_->setValue(RegRoot::kCurrentUser, std::string(kRecordPath) + "\\" + names[0],
                                  c.value, c.type, c.data),
              0u);
    EXPECT_NE(engine->AcceptPKCS7(reply(bundle({CaFile("root.pem"), CaFile("int.pem"), user}))), 0);
    EXPECT_TRUE(storesEmpty());
  }
}

TEST_F(AcceptTest, PairCertificatesFindTheirOwnKeysInEitherOrder) {
  auto engine = makeEngine();
  ASSERT_EQ(engine->CreatePKCS10Pair(u"Erin", 1024, 1), 0);
  const std::string signing = Utf8FromWide(engine->GetCsrForSign());
  const std::string encryption = Utf8FromWide(engine->GetCsrForEncrypt());
  ASSERT_FALSE(signing.empty());
  ASSERT_FALSE(encryption.empty());
  EXPECT_NE(signing, encryption);
  const std::string signCert = issue(signing, "sign");
  const std::string encryptCert = issue(encryption, "encrypt");
  EXPECT_EQ(engine->AcceptPKCS7(reply(bundle({encryptCert, CaFile("int.pem")}))), 0);
  EXPECT_EQ(engine->AcceptPKCS7(reply(bundle({signCert, CaFile("int.pem")}))), 0);

  const std::vector<CertContext> my = store("MY");
  ASSERT_EQ(my.size(), 2u);
  const std::vector<uint8_t> encryptDer = der(encryptCert);
  std::vector<uint32_t> keySpecs;
  for (const CertContext& c : my) {
    KeyProviderInfo info;
    ASSERT_EQ(c.keyProviderInfo(&info), 0u);
    const bool isEncrypt = std::equal(c.encoded().begin(), c.encoded().end(), encryptDer.begin(),
                                      encryptDer.end());
    EXPECT_EQ(info.keySpec, isEncrypt ? 1u : 2u);
    keySpecs.push_back(info.keySpec);
  }
  EXPECT_EQ(keySpecs, (std::vector<uint32_t>{1, 2}));
  // Two records with their own key kinds and keys.
  const std::vector<std::string> names = records();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(recordValue(names[0], "KeySpec").data, (std::vector<uint8_t>{2, 0, 0, 0}));
  EXPECT_EQ(recordValue(names[1], "KeySpec").data, (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_NE(recordValue(names[0], "PublicKey").data, recordValue(names[1], "PublicKey").data);
  EXPECT_EQ(recordValue(names[0], "DateTime").data, recordValue(names[1], "DateTime").data);
}

}  // namespace
}  // namespace quorvant
