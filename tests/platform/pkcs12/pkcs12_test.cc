// PKCS #12 files in and out. Every file read here is made at test time by
// another implementation: the `openssl pkcs12` command (OpenSSL 3, default
// and -legacy algorithms), Python's cryptography (/usr/bin/python3) or
// OpenSSL's library. Every file written here is read back by the same
// tools and by Java's keytool; our own reader only checks what they agree
// on. A missing tool skips its tests.
#include "platform/pkcs12/pkcs12.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "encoding/code_page.h"
#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"
#include "platform/database/platform_database.h"
#include "support/join.h"

namespace quorvant {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Password = std::optional<std::u16string>;  // nullopt: the NULL password

constexpr char kPython[] = "/usr/bin/python3";
constexpr char16_t kNonAscii[] = u"p\u00e4ssw\u00f6rd \u20ac \U0001D11E";

const char16_t* Ptr(const Password& p) { return p ? p->c_str() : nullptr; }
std::string Show(const Password& p) { return p ? Join("\"", Utf8FromWide(*p), "\"") : "NULL"; }

int RunQuiet(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard output and error of a command; *status its exit code.
std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  size_t n = 0;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The password the command-line tools take from the environment, so that
// no shell quoting touches its bytes. Unset for the NULL password.
void SetToolPassword(const Password& p) {
  if (p) {
    setenv("QV_P12_PASS", Utf8FromWide(*p).c_str(), 1);
  } else {
    unsetenv("QV_P12_PASS");
  }
}

bool HaveOpenssl() { return RunQuiet("openssl version") == 0; }
bool HaveLegacy() {
  int status = 0;
  const std::string out = Capture("openssl list -providers -provider legacy", &status);
  return status == 0 && out.find("legacy") != std::string::npos;
}
bool HavePython() { return RunQuiet(std::string(kPython) + " -c 'import cryptography'") == 0; }
bool HaveKeytool() { return RunQuiet("keytool -help") == 0; }

std::string ModulusHex(EVP_PKEY* key) {
  BIGNUM* n = nullptr;
  if (key == nullptr || EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) != 1) return "";
  char* hex = BN_bn2hex(n);
  std::string out(hex);
  OPENSSL_free(hex);
  BN_free(n);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  out.erase(0, out.find_first_not_of('0'));
  return out;
}

std::string Hex(std::span<const uint8_t> bytes) {
  std::string out;
  char pair[3];
  for (uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    out += pair;
  }
  return out;
}

// Keys and certificates made once for the whole program by OpenSSL's
// command line: a CA, an end-entity certificate it issued (both RSA), and
// a self-signed P-256 certificate.
struct Material {
  fs::path dir;
  Bytes caDer, eeDer, ecDer;
  std::string eeModulus;
};

const Material& Made() {
  static const Material material = [] {
    Material m;
    char pattern[] = "/tmp/qv-p12-material-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return m;
    m.dir = pattern;
    const std::string d = m.dir.string();
    const std::string ext = " -addext basicConstraints=critical,CA:TRUE";
    RunQuiet("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + d + "/ca.key -out " + d +
             "/ca.pem -subj /CN=Test-CA -days 30" + ext);
    RunQuiet("openssl req -newkey rsa:2048 -nodes -keyout " + d + "/ee.key -out " + d +
             "/ee.csr -subj /CN=Alice");
    RunQuiet("openssl x509 -req -in " + d + "/ee.csr -CA " + d + "/ca.pem -CAkey " + d +
             "/ca.key -set_serial 7 -days 30 -out " + d + "/ee.pem");
    RunQuiet("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + d +
             "/ec.key -out " + d + "/ec.pem -subj /CN=Elliptic -days 30");
    for (const char* name : {"ca", "ee", "ec"}) {
      RunQuiet("openssl x509 -in " + d + "/" + name + ".pem -outform DER -out " + d + "/" + name +
               ".der");
    }
    m.caDer = ReadFile(m.dir / "ca.der");
    m.eeDer = ReadFile(m.dir / "ee.der");
    m.ecDer = ReadFile(m.dir / "ec.der");
    BIO* bio = BIO_new_file((m.dir / "ee.key").c_str(), "r");
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    m.eeModulus = ModulusHex(key);
    EVP_PKEY_free(key);
    BIO_free(bio);
    return m;
  }();
  static const struct Remover {
    fs::path dir;
    ~Remover() {
      std::error_code ignored;
      if (!dir.empty()) fs::remove_all(dir, ignored);
    }
  } remover{material.dir};
  return material;
}

// Makes a file with Python's cryptography: mode "best" (its default
// protection, PBES2 with AES-256), "3des" (Triple-DES with the PKCS #12
// derivation and a SHA-1 MAC) or "none" (NoEncryption).
constexpr char kPythonMake[] = R"(
import os, sys
from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.serialization import (
    BestAvailableEncryption, NoEncryption, PrivateFormat, load_pem_private_key, pkcs12)
out, mode, d = sys.argv[1:4]
key = load_pem_private_key(open(d + '/ee.key', 'rb').read(), None)
cert = x509.load_pem_x509_certificate(open(d + '/ee.pem', 'rb').read())
ca = x509.load_pem_x509_certificate(open(d + '/ca.pem', 'rb').read())
pw = os.environb.get(b'QV_P12_PASS')
if mode == 'none':
    enc = NoEncryption()
elif mode == 'best':
    enc = BestAvailableEncryption(pw)
else:
    enc = (PrivateFormat.PKCS12.encryption_builder().kdf_rounds(2048)
           .key_cert_algorithm(pkcs12.PBES.PBESv1SHA1And3KeyTripleDESCBC)
           .hmac_hash(hashes.SHA1()).build(pw))
open(out, 'wb').write(pkcs12.serialize_key_and_certificates(b'py', key, cert, [ca], enc))
)";

// Reads a file with Python's cryptography and prints what it found: the
// key's modulus ("key <hex>" or "key -"), then each certificate as
// "cert <DER hex> <friendly name as UTF-8 hex, or ->", the keyed one first.
constexpr char kPythonRead[] = R"(
import os, sys
from cryptography.hazmat.primitives.serialization import Encoding, pkcs12
data = open(sys.argv[1], 'rb').read()
pw = os.environb.get(b'QV_P12_PASS')
key, cert, extra = pkcs12.load_key_and_certificates(data, pw)
p = pkcs12.load_pkcs12(data, pw)
assert (key is None) == (p.key is None)
print('key', format(key.private_numbers().public_numbers.n, 'x') if key else '-')
for c in ([p.cert] if p.cert else []) + p.additional_certs:
    print('cert', c.certificate.public_bytes(Encoding.DER).hex(), (c.friendly_name or b'-').hex())
)";

class Pkcs12Test : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    if (HaveOpenssl()) (void)Made();
  }

  void SetUp() override {
    if (!HaveOpenssl()) GTEST_SKIP() << "no openssl command";
    ASSERT_FALSE(Made().eeDer.empty()) << "openssl could not make the test certificates";
    char pattern[] = "/tmp/qv-p12-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    uint32_t error = 0;
    db_ = PlatformDatabase::Open((dir_ / "platform.db").string(), &error);
    ASSERT_NE(db_, nullptr) << error;
  }
  void TearDown() override {
    db_.reset();
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  std::string material() const { return Made().dir.string(); }

  // `openssl pkcs12 -export` of the end-entity key and certificate with
  // further arguments; the password, if any, comes from QV_P12_PASS.
  Bytes opensslFile(const std::string& arguments, const Password& password,
                    const std::string& base = "ee") {
    SetToolPassword(password);
    const fs::path out = dir_ / "openssl.p12";
    fs::remove(out);
    const std::string m = material() + "/" + base;
    const int status = RunQuiet("openssl pkcs12 -export -in " + m + ".pem -inkey " + m + ".key " +
                                arguments + " -out " + out.string());
    EXPECT_EQ(status, 0) << arguments;
    return ReadFile(out);
  }

  Bytes pythonFile(const std::string& mode, const Password& password) {
    SetToolPassword(password);
    WriteFile(dir_ / "make.py",
              std::span(reinterpret_cast<const uint8_t*>(kPythonMake), sizeof kPythonMake - 1));
    const fs::path out = dir_ / "python.p12";
    EXPECT_EQ(RunQuiet(std::string(kPython) + " " + (dir_ / "make.py").string() + " " +
                       out.string() + " " + mode + " " + material()),
              0)
        << mode;
    return ReadFile(out);
  }

  // What Python's cryptography reads from `file`.
  std::vector<std::string> pythonRead(std::span<const uint8_t> file, const Password& password,
                                      int* status) {
    SetToolPassword(password);
    WriteFile(dir_ / "read.py",
              std::span(reinterpret_cast<const uint8_t*>(kPythonRead), sizeof kPythonRead - 1));
    WriteFile(dir_ / "read.p12", file);
    const std::string out = Capture(std::string(kPython) + " " + (dir_ / "read.py").string() + " " +
                                        (dir_ / "read.p12").string(),
                                    status);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
      lines.push_back(out.substr(start, end - start));
    }
    return lines;
  }

  int containerCount() {
    SqliteStatement count(db_->handle(), "SELECT COUNT(*) FROM key_containers");
    return count.valid() && count.step() == SQLITE_ROW ? static_cast<int>(count.columnInt(0)) : 0;
  }

  std::vector<CertContext> contents(const CertStore& store) {
    std::vector<CertContext> list;
    EXPECT_EQ(store.enumerate(&list), 0u);
    return list;
  }

  // The key pair a certificate's key provider information leads to.
  std::unique_ptr<CryptKey> keyOf(const CertContext& certificate) {
    KeyProviderInfo info;
    if (certificate.keyProviderInfo(&info) != 0) return nullptr;
    std::unique_ptr<ProviderContext> context;
    uint32_t keySpec = 0;
    if (AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db_) != 0) return nullptr;
    std::unique_ptr<CryptKey> key;
    return context->getUserKey(keySpec, &key) == 0 ? std::move(key) : nullptr;
  }

  // A store with the end-entity certificate and its key, through an import
  // of an OpenSSL-made file.
  CertStore importedEndEntity(uint32_t importFlags, const std::string& extra = "") {
    const Bytes file = opensslFile("-name Alice -passout env:QV_P12_PASS " + extra, u"secret");
    CertStore store;
    EXPECT_EQ(PfxImportCertStore(file, u"secret", importFlags, db_, &store), 0u);
    return store;
  }

 protected:
  fs::path dir_;
  std::shared_ptr<PlatformDatabase> db_;
};

// What one foreign file must give.
struct ForeignFile {
  std::string label;
  std::function<Bytes(Pkcs12Test&)> make;
  std::vector<Password> accepted;  // the first one imports
  std::vector<Password> rejected;  // each fails with ERROR_INVALID_PASSWORD
  bool withCa = false;
  std::u16string friendlyName;  // of the end-entity certificate, if any
  bool needsLegacy = false;
  bool needsPython = false;
};

std::vector<ForeignFile> ForeignFiles() {
  auto openssl = [](std::string args, Password password) {
    return [=](Pkcs12Test& t) { return t.opensslFile(args, password); };
  };
  auto python = [](std::string mode, Password password) {
    return [=](Pkcs12Test& t) { return t.pythonFile(mode, password); };
  };
  const Password secret = u"secret";
  const Password empty = u"";
  const Password none;
  const Password nonAscii = kNonAscii;
  return {
      {"openssl default (PBES2 AES-256, HMAC-SHA-256)",
       openssl("-name Alice -passout env:QV_P12_PASS", secret),
       {secret},
       {u"Secret", empty, none},
       false,
       u"Alice",
       false,
       false},
      {"openssl -legacy (RC2-40 certificates, 3DES key, SHA-1 MAC)",
       openssl("-legacy -passout env:QV_P12_PASS", secret),
       {secret},
       {u"secre", empty, none},
       false,
       u"",
       true,
       false},
      {"openssl -nomac",
       openssl("-nomac -passout env:QV_P12_PASS", secret),
       {secret},
       {u"secreT", empty, none},
       false,
       u"",
       false,
       false},
      {"openssl -legacy -nomac",
       openssl("-legacy -nomac -passout env:QV_P12_PASS", secret),
       {secret},
       {u"Secret", empty, none},
       false,
       u"",
       true,
       false},
      {"openssl, non-ASCII password",
       openssl("-passout env:QV_P12_PASS", nonAscii),
       {nonAscii},
       {u"passw\u00f6rd \u20ac \U0001D11E", u"p\u00e4ssw\u00f6rd \u20ac"},
       false,
       u"",
       false,
       false},
      {"openssl -legacy, non-ASCII password",
       openssl("-legacy -passout env:QV_P12_PASS", nonAscii),
       {nonAscii},
       {u"p\u00e4ssword \u20ac \U0001D11E"},
       false,
       u"",
       true,
       false},
      {"openssl with the CA certificate",
       openssl("-certfile " + Made().dir.string() + "/ca.pem -name Alice -passout env:QV_P12_PASS",
               secret),
       {secret},
       {u"wrong"},
       true,
       u"Alice",
       false,
       false},
      {"openssl, empty password",
       openssl("-passout pass:", empty),
       {empty},
       {u"x", none},
       false,
       u"",
       false,
       false},
      {"openssl, MAC only",
       openssl("-keypbe NONE -certpbe NONE -passout env:QV_P12_PASS", secret),
       {secret},
       {u"secret ", empty},
       false,
       u"",
       false,
       false},
      // Nothing the password protects: every password opens it.
      {"openssl, no protection at all",
       openssl("-keypbe NONE -certpbe NONE -nomac -passout pass:", empty),
       {empty, none, u"any"},
       {},
       false,
       u"",
       false,
       false},
      {"cryptography, PBES2 and a non-ASCII password",
       python("best", nonAscii),
       {nonAscii},
       {u"p\u00e4ssw\u00f6rd", empty, none},
       true,
       u"py",
       false,
       true},
      {"cryptography, Triple-DES and SHA-1 MAC",
       python("3des", secret),
       {secret},
       {u"secreto"},
       true,
       u"py",
       false,
       true},
      // Saved with no password at all: only the NULL password opens it.
      {"cryptography, NoEncryption",
       python("none", none),
       {none},
       {empty, u"x"},
       true,
       u"py",
       false,
       true},
  };
}

}  // namespace

// "{8-4-4-4-12}" upper-case hex digits of a version 4 UUID (RFC 9562).
bool IsGuidName(const std::string& name) {
  if (name.size() != 38 || name.front() != '{' || name.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    const char c = name[i];
    if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return name[15] == '4' && std::string("89AB").find(name[20]) != std::string::npos;
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Encoded(const CertContext& c) { return Bytes(c.encoded().begin(), c.encoded().end()); }

// The certificates of a PEM file, in order, as DER.
std::vector<Bytes> PemCertificates(const fs::path& path) {
  std::vector<Bytes> out;
  BIO* bio = BIO_new_file(path.c_str(), "r");
  while (bio != nullptr) {
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (x == nullptr) break;
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    out.emplace_back(der, der + n);
    OPENSSL_free(der);
    X509_free(x);
  }
  BIO_free(bio);
  ERR_clear_error();
  return out;
}

std::string PemKeyModulus(const fs::path& path) {
  BIO* bio = BIO_new_file(path.c_str(), "r");
  EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
  std::string n = ModulusHex(key);
  EVP_PKEY_free(key);
  BIO_free(bio);
  return n;
}

// What OpenSSL's library finds in a file: keys and certificates.
struct Parsed {
  bool ok = false;
  int keys = 0;
  int certificates = 0;
};
Parsed ParseWithOpenssl(const ByteBuffer& file, const char* password) {
  Parsed parsed;
  const unsigned char* p = file.data();
  PKCS12* p12 = d2i_PKCS12(nullptr, &p, file.size());
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
  STACK_OF(X509)* ca = nullptr;
  parsed.ok = p12 != nullptr && PKCS12_parse(p12, password, &key, &cert, &ca) == 1;
  parsed.keys = key != nullptr ? 1 : 0;
  parsed.certificates = (cert != nullptr ? 1 : 0) + (ca != nullptr ? sk_X509_num(ca) : 0);
  EVP_PKEY_free(key);
  X509_free(cert);
  sk_X509_pop_free(ca, X509_free);
  PKCS12_free(p12);
  ERR_clear_error();
  return parsed;
}

TEST_F(Pkcs12Test, FilesOfOtherToolsVerifyAndImport) {
  const bool legacy = HaveLegacy();
  const bool python = HavePython();
  for (const ForeignFile& f : ForeignFiles()) {
    SCOPED_TRACE(f.label);
    if ((f.needsLegacy && !legacy) || (f.needsPython && !python)) {
      std::printf("skipped (tool missing): %s\n", f.label.c_str());
      continue;
    }
    const Bytes file = f.make(*this);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(PfxIsPfxBlob(file));
    for (const Password& p : f.accepted) {
      uint32_t error = 1;
      EXPECT_TRUE(PfxVerifyPassword(file, Ptr(p), 0, &error)) << Show(p);
      EXPECT_EQ(error, 0u) << Show(p);
    }
    for (const Password& p : f.rejected) {
      uint32_t error = 0;
      EXPECT_FALSE(PfxVerifyPassword(file, Ptr(p), 0, &error)) << Show(p);
      EXPECT_EQ(error, win32::kErrorInvalidPassword) << Show(p);
      CertStore store;
      EXPECT_EQ(PfxImportCertStore(file, Ptr(p), kCryptExportable, db_, &store),
                win32::kErrorInvalidPassword)
          << Show(p);
    }
    EXPECT_EQ(containerCount(), 0);

    CertStore store;
    ASSERT_EQ(PfxImportCertStore(file, Ptr(f.accepted[0]), kCryptExportable, db_, &store), 0u);
    const std::vector<CertContext> list = contents(store);
    std::vector<Bytes> expected = {Made().eeDer};
    if (f.withCa) expected.push_back(Made().caDer);
    ASSERT_EQ(list.size(), expected.size());
    for (size_t i = 0; i < list.size(); ++i) EXPECT_EQ(Encoded(list[i]), expected[i]) << i;

    KeyProviderInfo info;
    ASSERT_EQ(list[0].keyProviderInfo(&info), 0u);
    EXPECT_EQ(info.providerName, u"Microsoft Strong Cryptographic Provider");
    EXPECT_EQ(info.providerType, kProvRsaFull);
    EXPECT_EQ(info.keySpec, kAtKeyExchange);
    EXPECT_TRUE(IsGuidName(Utf8FromWide(info.containerName))) << Utf8FromWide(info.containerName);
    const std::unique_ptr<CryptKey> key = keyOf(list[0]);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(ModulusHex(key->rsaKey()), Made().eeModulus);
    if (f.withCa) {
      KeyProviderInfo none;
      EXPECT_EQ(list[1].keyProviderInfo(&none), win32::kCryptENotFound);
    }
    std::u16string name;
    if (f.friendlyName.empty()) {
      EXPECT_EQ(list[0].friendlyName(&name), win32::kCryptENotFound);
    } else {
      EXPECT_EQ(list[0].friendlyName(&name), 0u);
      EXPECT_EQ(name, f.friendlyName);
    }
    EXPECT_EQ(containerCount(), 1);
    std::unique_ptr<ProviderContext> deleted;
    EXPECT_EQ(ProviderContext::AcquireUtf8(Utf8FromWide(info.containerName), "", kProvRsaFull,
                                           kCryptDeletekeyset, &deleted, db_),
              0u);
  }
}

TEST_F(Pkcs12Test, ImportFlagsGoToEveryKey) {
  const Bytes file = opensslFile("-passout env:QV_P12_PASS", u"secret");
  struct Case {
    uint32_t flags;
    uint32_t exportError;
  };
  const Case cases[] = {
      {0, win32::kNteBadKeyState},
      {kCryptExportable, 0},
      {kCryptUserProtected, win32::kNteBadKeyState},
      {kCryptExportable | kCryptUserProtected, 0},
  };
  std::vector<std::u16string> names;
  for (const Case& c : cases) {
    CertStore store;
    ASSERT_EQ(PfxImportCertStore(file, u"secret", c.flags, db_, &store), 0u) << c.flags;
    const std::vector<CertContext> list = contents(store);
    ASSERT_EQ(list.size(), 1u);
    KeyProviderInfo info;
    ASSERT_EQ(list[0].keyProviderInfo(&info), 0u);
    names.push_back(info.containerName);
    const std::unique_ptr<CryptKey> key = keyOf(list[0]);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->flags(), c.flags);
    ByteBuffer blob;
    EXPECT_EQ(key->exportKey(kPrivatekeyblob, 0, &blob), c.exportError) << c.flags;
  }
  // Every import makes containers of its own.
  EXPECT_EQ(containerCount(), 4);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());

  CertStore store;
  EXPECT_EQ(PfxImportCertStore(file, u"secret", 0x4, db_, &store), win32::kNteBadFlags);
  EXPECT_EQ(PfxImportCertStore(file, u"secret", kCryptExportable | 0x100, db_, &store),
            win32::kNteBadFlags);
}

// Keys the providers cannot hold, and keys without a certificate, make no
// container; their certificates (if any) still come in.
TEST_F(Pkcs12Test, KeysWithoutAnRsaCertificateMakeNoContainer) {
  struct Case {
    const char* label;
    std::string arguments;
    std::string base;
    std::vector<Bytes> certificates;
  };
  const Case cases[] = {
      {"P-256 key", "-passout env:QV_P12_PASS", "ec", {Made().ecDer}},
      {"key alone", "-nocerts -passout env:QV_P12_PASS", "ee", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes file = opensslFile(c.arguments, u"secret", c.base);
    CertStore store;
    ASSERT_EQ(PfxImportCertStore(file, u"secret", kCryptExportable, db_, &store), 0u);
    const std::vector<CertContext> list = contents(store);
    ASSERT_EQ(list.size(), c.certificates.size());
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(Encoded(list[i]), c.certificates[i]);
      KeyProviderInfo info;
      EXPECT_EQ(list[i].keyProviderInfo(&info), win32::kCryptENotFound);
    }
    EXPECT_EQ(containerCount(), 0);
  }
}

TEST_F(Pkcs12Test, DamagedAndForeignBlobsAreRefused) {
  const Bytes good = opensslFile("-passout env:QV_P12_PASS", u"secret");
  ASSERT_GT(good.size(), 1000u);
  ASSERT_TRUE(PfxIsPfxBlob(good));
  // 30 82 xx xx, then version 02 01 03.
  ASSERT_EQ(Bytes(good.begin() + 4, good.begin() + 7), (Bytes{0x02, 0x01, 0x03}));
  Bytes version2 = good;
  version2[6] = 2;
  Bytes trailing = good;
  trailing.push_back(0);
  const Bytes truncated(good.begin(), good.end() - 1);
  const std::string text = "-----BEGIN PKCS12-----\nnot really\n";
  struct Case {
    const char* label;
    Bytes blob;
  };
  const Case cases[] = {
      {"empty", {}},
      {"text", Bytes(text.begin(), text.end())},
      {"a certificate", Made().eeDer},
      {"truncated", truncated},
      {"trailing byte", trailing},
      {"version 2", version2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_FALSE(PfxIsPfxBlob(c.blob));
    uint32_t error = 0;
    EXPECT_FALSE(PfxVerifyPassword(c.blob, u"secret", 0, &error));
    EXPECT_EQ(error, win32::kCryptEBadEncode);
    CertStore store;
    EXPECT_EQ(PfxImportCertStore(c.blob, u"secret", 0, db_, &store), win32::kCryptEBadEncode);
  }

  // A changed byte. With a MAC, the MAC catches it. Without one (openssl
  // then leaves the certificates unencrypted) only the key bag, which ends
  // the file before 39 bytes of attributes, can: a change that breaks its
  // padding fails the password check; one inside the key's numbers
  // decrypts, and the import refuses the damaged key.
  struct Tampering {
    const char* arguments;
    size_t fromEnd;
    bool verifies;
  };
  const Tampering tamperings[] = {
      {"-passout env:QV_P12_PASS", good.size() / 2, false},
      {"-nomac -passout env:QV_P12_PASS", 39 + 16 + 1, false},
      {"-nomac -passout env:QV_P12_PASS", 100, true},
  };
  for (const Tampering& t : tamperings) {
    SCOPED_TRACE(std::string(t.arguments) + " at " + std::to_string(t.fromEnd));
    Bytes tampered = opensslFile(t.arguments, u"secret");
    tampered[tampered.size() - t.fromEnd] ^= 0x40;
    uint32_t error = 0;
    EXPECT_EQ(PfxVerifyPassword(tampered, u"secret", 0, &error), t.verifies);
    if (!t.verifies) {
      EXPECT_EQ(error, win32::kErrorInvalidPassword);
    }
    CertStore store;
    EXPECT_NE(PfxImportCertStore(tampered, u"secret", 0, db_, &store), 0u);
  }
  EXPECT_EQ(containerCount(), 0);

  uint32_t error = 0;
  EXPECT_FALSE(PfxVerifyPassword(good, u"secret", 1, &error));
  EXPECT_EQ(error, win32::kNteBadFlags);
}

// Iteration counts beyond the limit are refused before any derivation.
TEST_F(Pkcs12Test, ExcessiveIterationCountsAreRefused) {
  const std::string iterations = " -iter " + std::to_string(kPfxMaxIterations + 1);
  const Bytes macToo = opensslFile("-passout env:QV_P12_PASS" + iterations, u"secret");
  uint32_t error = 0;
  EXPECT_FALSE(PfxVerifyPassword(macToo, u"secret", 0, &error));
  EXPECT_EQ(error, win32::kCryptEUnknownAlgo);

  const Bytes encryptionOnly =
      opensslFile("-passout env:QV_P12_PASS" + iterations + " -nomaciter", u"secret");
  EXPECT_TRUE(PfxVerifyPassword(encryptionOnly, u"secret", 0, &error)) << error;
  CertStore store;
  EXPECT_EQ(PfxImportCertStore(encryptionOnly, u"secret", 0, db_, &store),
            win32::kCryptEUnknownAlgo);
}

// Derivations are charged against one budget for the whole file: each
// count below the single limit, together above the total. The key's
// derivation, the last, is refused before it runs, and nothing is kept.
TEST_F(Pkcs12Test, TotalDerivationWorkIsBounded) {
  if (!HaveOpenssl()) GTEST_SKIP() << "no openssl command";
  // -legacy: the PKCS #12 scheme derives key and IV, twice the count each.
  const Bytes heavy = opensslFile("-legacy -passout env:QV_P12_PASS -iter 1000000", u"secret");
  CertStore store;
  EXPECT_EQ(PfxImportCertStore(heavy, u"secret", 0, db_, &store), win32::kErrorNotEnoughQuota);
  EXPECT_EQ(containerCount(), 0);
  // The whole file stays under the limit of its size.
  Bytes large(kPfxMaxFileSize + 1, 0x30);
  EXPECT_FALSE(PfxIsPfxBlob(large));
}

// DER of hostile files, built by hand: what they ask for shows without the
// password, and their encrypted parts are noise that no derivation needs
// to reach.
Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    Bytes length;
    for (size_t v = n; v > 0; v >>= 8) length.insert(length.begin(), static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(0x80 | length.size()));
    out.insert(out.end(), length.begin(), length.end());
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}
Bytes Seq(std::initializer_list<Bytes> parts) {
  Bytes content;
  for (const Bytes& p : parts) content.insert(content.end(), p.begin(), p.end());
  return Tlv(0x30, content);
}
Bytes Integer(uint32_t v) {
  Bytes bytes;
  for (; v > 0; v >>= 8) bytes.insert(bytes.begin(), static_cast<uint8_t>(v));
  if (bytes.empty() || bytes[0] & 0x80) bytes.insert(bytes.begin(), 0);
  return Tlv(0x02, bytes);
}
Bytes Oid(Bytes encoded) { return Tlv(0x06, encoded); }
const Bytes kDataOid{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01};
const Bytes kEncryptedDataOid{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x06};
const Bytes kShroudedKeyBagOid{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x0c, 0x0a, 0x01, 0x02};
const Bytes kCertBagOid{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x0c, 0x0a, 0x01, 0x03};
const Bytes kX509CertOid{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x16, 0x01};
const Bytes kTripleDesPbeOid{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x0c, 0x01, 0x03};
const Bytes kSha1Oid{0x2b, 0x0e, 0x03, 0x02, 0x1a};

Bytes Pbe(uint32_t iterations) {
  return Seq({Oid(kTripleDesPbeOid), Seq({Tlv(0x04, Bytes(8, 0x5a)), Integer(iterations)})});
}
Bytes ShroudedKeyBag(uint32_t iterations) {
  return Seq({Oid(kShroudedKeyBagOid),
              Tlv(0xa0, Seq({Pbe(iterations), Tlv(0x04, Bytes(640, 0xc3))}))});
}
Bytes CertBag() {
  return Seq({Oid(kCertBagOid),
              Tlv(0xa0, Seq({Oid(kX509CertOid), Tlv(0xa0, Tlv(0x04, Bytes(16, 0x30)))}))});
}
Bytes PlainSafe(const Bytes& bags) {
  return Seq({Oid(kDataOid), Tlv(0xa0, Tlv(0x04, Tlv(0x30, bags)))});
}
Bytes EncryptedSafe(uint32_t iterations) {
  return Seq({Oid(kEncryptedDataOid),
              Tlv(0xa0, Seq({Integer(0), Seq({Oid(kDataOid), Pbe(iterations),
                                               Tlv(0x80, Bytes(64, 0x77))})}))});
}
// A PFX over `safes` with a MAC of `macIterations` that no password matches.
Bytes HostilePfx(const Bytes& safes, uint32_t macIterations) {
  const Bytes authSafe = Tlv(0x30, safes);
  return Seq({Integer(3), Seq({Oid(kDataOid), Tlv(0xa0, Tlv(0x04, authSafe))}),
              Seq({Seq({Seq({Oid(kSha1Oid), Tlv(0x05, {})}), Tlv(0x04, Bytes(20, 0x11))}),
                   Tlv(0x04, Bytes(8, 0x22)), Integer(macIterations)})});
}
Bytes Repeat(const Bytes& one, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), one.begin(), one.end());
  return out;
}

// Files over a limit of the work they ask for are refused before an
// import's first derivation: the MAC of each is wrong, so any derivation
// would have ended in "wrong password" instead of the limit's code.
TEST_F(Pkcs12Test, HostileFilesAreRefusedBeforeAnyDerivation) {
  struct Case {
    const char* name;
    Bytes file;
  } cases[] = {
      {"100 keys at 1,000,000 iterations",
       HostilePfx(PlainSafe(Repeat(ShroudedKeyBag(1000000), 100)), 1000000)},
      {"4,000 certificate and key bags",
       HostilePfx(PlainSafe(Repeat(CertBag(), 2000) + Repeat(ShroudedKeyBag(1), 2000)), 1)},
      {"four keys whose counts together pass the total",
       HostilePfx(PlainSafe(Repeat(ShroudedKeyBag(kPfxMaxIterations), 4)), 1000)},
      {"encrypted lists whose counts together pass the total",
       HostilePfx(Repeat(EncryptedSafe(kPfxMaxIterations), 4) + PlainSafe(ShroudedKeyBag(1)),
                  1000)},
      {"nested lists past the certificate limit",
       HostilePfx(PlainSafe(Repeat(Seq({Oid({0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x0c,
                                              0x0a, 0x01, 0x06}),
                                        Tlv(0xa0, Tlv(0x30, Repeat(CertBag(), 300)))}),
                                   2)),
                  1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(PfxIsPfxBlob(c.file));
    CertStore store;
    EXPECT_EQ(PfxImportCertStore(c.file, u"guess", 0, db_, &store), win32::kErrorNotEnoughQuota);
  }
  EXPECT_EQ(containerCount(), 0);
  // The same shape within the limits gets as far as the password.
  CertStore store;
  EXPECT_EQ(PfxImportCertStore(HostilePfx(PlainSafe(ShroudedKeyBag(1000)), 1000), u"guess", 0,
                               db_, &store),
            win32::kErrorInvalidPassword);
}

// Our file, read by OpenSSL's command line (without -legacy) and by
// Python's cryptography, with a non-ASCII password.
TEST_F(Pkcs12Test, ExportOpensInOpensslAndCryptography) {
  CertStore source = importedEndEntity(kCryptExportable, "-certfile " + material() + "/ca.pem");
  std::vector<CertContext> list = contents(source);
  ASSERT_EQ(list.size(), 2u);
  const std::u16string name = u"\u00c5lice \u8b49\u66f8";
  ASSERT_EQ(list[0].setFriendlyName(name), 0u);
  ByteBuffer out;
  ASSERT_EQ(PfxExportCertStore(source, kNonAscii,
                               kExportPrivateKeys | kReportNotAbleToExportPrivateKey, db_, &out),
            0u);
  const fs::path file = dir_ / "ours.p12";
  WriteFile(file, out.bytes());
  const std::string f = file.string();
  SetToolPassword(kNonAscii);

  int status = -1;
  const std::string info =
      Capture("openssl pkcs12 -in " + f + " -info -noout -passin env:QV_P12_PASS", &status);
  EXPECT_EQ(status, 0) << info;
  EXPECT_NE(info.find("MAC: sha256, Iteration 10000"), std::string::npos) << info;
  const std::string scheme = "PBES2, PBKDF2, AES-256-CBC, Iteration 10000, PRF hmacWithSHA256";
  size_t schemes = 0;
  for (size_t at = info.find(scheme); at != std::string::npos; at = info.find(scheme, at + 1)) {
    ++schemes;
  }
  EXPECT_EQ(schemes, 2u) << info;  // the certificates' safe and the key bag

  ASSERT_EQ(RunQuiet("openssl pkcs12 -in " + f + " -nokeys -passin env:QV_P12_PASS -out " +
                     (dir_ / "certs.pem").string()),
            0);
  EXPECT_EQ(PemCertificates(dir_ / "certs.pem"), (std::vector<Bytes>{Made().eeDer, Made().caDer}));
  ASSERT_EQ(RunQuiet("openssl pkcs12 -in " + f + " -nocerts -nodes -passin env:QV_P12_PASS -out " +
                     (dir_ / "key.pem").string()),
            0);
  EXPECT_EQ(PemKeyModulus(dir_ / "key.pem"), Made().eeModulus);
  SetToolPassword(u"p\u00e4ssw\u00f6rd");
  EXPECT_NE(RunQuiet("openssl pkcs12 -in " + f + " -nokeys -passin env:QV_P12_PASS"), 0);

  if (!HavePython()) GTEST_SKIP() << "no cryptography for " << kPython;
  const std::vector<std::string> lines = pythonRead(out.bytes(), kNonAscii, &status);
  ASSERT_EQ(status, 0);
  const std::string utf8Name = Utf8FromWide(name);
  EXPECT_EQ(
      lines,
      (std::vector<std::string>{
          "key " + Made().eeModulus,
          "cert " + Hex(Made().eeDer) + " " +
              Hex(std::span(reinterpret_cast<const uint8_t*>(utf8Name.data()), utf8Name.size())),
          "cert " + Hex(Made().caDer) + " 2d",  // "-": no name
      }));
  pythonRead(out.bytes(), u"passw\u00f6rd", &status);
  EXPECT_NE(status, 0);
}

// Our file, read by Java's keytool; keytool's own copy of it (which needs
// the private key decrypted) is read back by OpenSSL and by us.
TEST_F(Pkcs12Test, ExportOpensInKeytool) {
  if (!HaveKeytool()) GTEST_SKIP() << "no keytool";
  CertStore source = importedEndEntity(kCryptExportable);
  ByteBuffer out;
  ASSERT_EQ(PfxExportCertStore(source, u"keytool-pass", kExportPrivateKeys, db_, &out), 0u);
  const fs::path file = dir_ / "ours.p12";
  WriteFile(file, out.bytes());

  int status = -1;
  const std::string fingerprint =
      Capture("openssl x509 -in " + material() + "/ee.pem -noout -fingerprint -sha256", &status);
  ASSERT_NE(fingerprint.find('='), std::string::npos);
  const std::string sha256 = fingerprint.substr(fingerprint.find('=') + 1, 95);
  const std::string listing = Capture(
      "keytool -list -v -storetype PKCS12 -keystore " + file.string() + " -storepass keytool-pass",
      &status);
  EXPECT_EQ(status, 0) << listing;
  EXPECT_NE(listing.find("Alias name: alice"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Entry type: PrivateKeyEntry"), std::string::npos) << listing;
  EXPECT_NE(listing.find("SHA256: " + sha256), std::string::npos) << listing;
  Capture("keytool -list -storetype PKCS12 -keystore " + file.string() + " -storepass wrong-pass",
          &status);
  EXPECT_NE(status, 0);

  const fs::path copy = dir_ / "java.p12";
  const std::string copied =
      Capture("keytool -importkeystore -noprompt -srckeystore " + file.string() +
                  " -srcstoretype PKCS12 -srcstorepass keytool-pass -destkeystore " +
                  copy.string() + " -deststoretype PKCS12 -deststorepass java-pass",
              &status);
  ASSERT_EQ(status, 0) << copied;
  ASSERT_EQ(
      RunQuiet("openssl pkcs12 -in " + copy.string() + " -nocerts -nodes -passin pass:java-pass" +
               " -out " + (dir_ / "key.pem").string()),
      0);
  EXPECT_EQ(PemKeyModulus(dir_ / "key.pem"), Made().eeModulus);

  const Bytes java = ReadFile(copy);
  EXPECT_TRUE(PfxVerifyPassword(java, u"java-pass", 0));
  EXPECT_FALSE(PfxVerifyPassword(java, u"keytool-pass", 0));
  CertStore imported;
  ASSERT_EQ(PfxImportCertStore(java, u"java-pass", 0, db_, &imported), 0u);
  const std::vector<CertContext> list = contents(imported);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(Encoded(list[0]), Made().eeDer);
  const std::unique_ptr<CryptKey> key = keyOf(list[0]);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(ModulusHex(key->rsaKey()), Made().eeModulus);
}

TEST_F(Pkcs12Test, ExportFlagsDecideAboutKeys) {
  enum class Source { kExportable, kNotExportable, kNoKeyInfo, kContainerGone, kKeyContext };
  struct Case {
    const char* label;
    Source source;
    uint32_t flags;
    uint32_t error;
    int keys;
  };
  const uint32_t all = kExportPrivateKeys | kReportNotAbleToExportPrivateKey | kReportNoPrivateKey;
  const Case cases[] = {
      {"exportable", Source::kExportable, all, 0, 1},
      {"exportable, certificates only", Source::kExportable, 0, 0, 0},
      {"exportable, report flag alone", Source::kExportable, kReportNoPrivateKey, 0, 0},
      {"not exportable, reported", Source::kNotExportable,
       kExportPrivateKeys | kReportNotAbleToExportPrivateKey, win32::kNteBadKey, 0},
      {"not exportable, not reported", Source::kNotExportable,
       kExportPrivateKeys | kReportNoPrivateKey, 0, 0},
      {"no key information, reported", Source::kNoKeyInfo, all, win32::kNteNoKey, 0},
      {"no key information, not reported", Source::kNoKeyInfo,
       kExportPrivateKeys | kReportNotAbleToExportPrivateKey, 0, 0},
      {"container deleted, reported", Source::kContainerGone, all, win32::kNteNoKey, 0},
      {"container deleted, not reported", Source::kContainerGone,
       kExportPrivateKeys | kReportNotAbleToExportPrivateKey, 0, 0},
      {"key context property", Source::kKeyContext, all, 0, 1},
      {"unknown flag", Source::kExportable, kExportPrivateKeys | 0x8, win32::kNteBadFlags, 0},
  };
  // The end-entity key as a PRIVATEKEYBLOB, written by OpenSSL.
  ASSERT_EQ(RunQuiet("openssl rsa -in " + material() + "/ee.key -outform MSBLOB -out " +
                     (dir_ / "ee.blob").string()),
            0);
  const Bytes blob = ReadFile(dir_ / "ee.blob");

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CertStore store;
    if (c.source == Source::kExportable || c.source == Source::kNotExportable ||
        c.source == Source::kContainerGone) {
      store = importedEndEntity(c.source == Source::kNotExportable ? 0 : kCryptExportable);
    } else {
      store = CertStore::OpenMemory();
      CertContext added;
      ASSERT_EQ(store.addEncoded(Made().eeDer, AddDisposition::kAlways, &added), 0u);
      if (c.source == Source::kKeyContext) {
        std::unique_ptr<ProviderContext> context;
        ASSERT_EQ(ProviderContext::Acquire("", kMsEnhancedProv, kProvRsaFull, kCryptVerifycontext,
                                           &context),
                  0u);
        std::unique_ptr<CryptKey> key;
        ASSERT_EQ(context->importKey(blob, kCryptExportable, &key), 0u);
        added.setKeyContext(
            CertKeyContext{std::shared_ptr<ProviderContext>(std::move(context)), kAtKeyExchange});
      }
    }
    if (c.source == Source::kContainerGone) {
      KeyProviderInfo info;
      ASSERT_EQ(contents(store)[0].keyProviderInfo(&info), 0u);
      std::unique_ptr<ProviderContext> none;
      ASSERT_EQ(ProviderContext::AcquireUtf8(Utf8FromWide(info.containerName), "", kProvRsaFull,
                                             kCryptDeletekeyset, &none, db_),
                0u);
    }
    ByteBuffer out;
    ASSERT_EQ(PfxExportCertStore(store, u"flags", c.flags, db_, &out), c.error);
    if (c.error != 0) {
      EXPECT_TRUE(out.empty());
      continue;
    }
    const Parsed parsed = ParseWithOpenssl(out, "flags");
    ASSERT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.keys, c.keys);
    EXPECT_EQ(parsed.certificates, 1);
  }
}

// The NULL password: the file opens with no password in every reader, and
// through the platform's open rule (the empty password first, then NULL).
TEST_F(Pkcs12Test, NullPasswordExport) {
  CertStore source = importedEndEntity(kCryptExportable);
  ByteBuffer out;
  ASSERT_EQ(PfxExportCertStore(source, nullptr, kExportPrivateKeys, db_, &out), 0u);
  uint32_t error = 0;
  EXPECT_FALSE(PfxVerifyPassword(out.bytes(), u"", 0, &error));
  EXPECT_EQ(error, win32::kErrorInvalidPassword);
  EXPECT_TRUE(PfxVerifyPassword(out.bytes(), nullptr, 0));

  const Parsed parsed = ParseWithOpenssl(out, nullptr);
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.keys, 1);
  const fs::path file = dir_ / "null.p12";
  WriteFile(file, out.bytes());
  ASSERT_EQ(RunQuiet("openssl pkcs12 -in " + file.string() +
                     " -nocerts -nodes -passin pass: -out " + (dir_ / "key.pem").string()),
            0);
  EXPECT_EQ(PemKeyModulus(dir_ / "key.pem"), Made().eeModulus);
  if (HavePython()) {
    int status = -1;
    const std::vector<std::string> lines = pythonRead(out.bytes(), std::nullopt, &status);
    ASSERT_EQ(status, 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "key " + Made().eeModulus);
  }
}

// Each certificate once, in store order, whether added twice or linked;
// an empty store still gives a file.
TEST_F(Pkcs12Test, ExportWritesEachCertificateOnce) {
  CertStore store = CertStore::OpenMemory();
  CertContext ee;
  ASSERT_EQ(store.addEncoded(Made().eeDer, AddDisposition::kAlways, &ee), 0u);
  ASSERT_EQ(store.addLink(ee, AddDisposition::kAlways), 0u);
  ASSERT_EQ(store.addEncoded(Made().caDer, AddDisposition::kAlways), 0u);
  ASSERT_EQ(store.addEncoded(Made().eeDer, AddDisposition::kAlways), 0u);
  ByteBuffer out;
  ASSERT_EQ(PfxExportCertStore(store, u"once", kExportPrivateKeys, db_, &out), 0u);
  const fs::path file = dir_ / "once.p12";
  WriteFile(file, out.bytes());
  ASSERT_EQ(RunQuiet("openssl pkcs12 -in " + file.string() + " -nokeys -passin pass:once -out " +
                     (dir_ / "certs.pem").string()),
            0);
  EXPECT_EQ(PemCertificates(dir_ / "certs.pem"), (std::vector<Bytes>{Made().eeDer, Made().caDer}));

  ByteBuffer empty;
  ASSERT_EQ(PfxExportCertStore(CertStore::OpenMemory(), u"once", kExportPrivateKeys, db_, &empty),
            0u);
  EXPECT_TRUE(PfxIsPfxBlob(empty.bytes()));
  const Parsed parsed = ParseWithOpenssl(empty, "once");
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.certificates, 0);
}

}  // namespace quorvant
