#include "platform/stores/certificate_chain.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <ostream>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/win32_errors.h"

namespace quorvant {
namespace {

using Der = std::vector<uint8_t>;

// A root, an intermediate with keyCertSign and leaves, made by the openssl
// command line so that the chains are not of our own making:
//   leaf      issued by the intermediate, valid from now for 20 years
//   expired   issued by the intermediate, valid 2001-01-01 .. 2002-01-01
//   forged    names the intermediate as issuer but is signed by another key
//             (and names no authority key, so only the signature tells)
class ChainFiles {
 public:
  ChainFiles() {
    char pattern[] = "/tmp/quorvant-chain-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    const std::string script = R"(set -e
cd ")" + dir_ + R"("
q() { "$@" >/dev/null 2>&1; }
cat > ca.ext <<X
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
X
cat > leaf.ext <<X
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature
X
cat leaf.ext > forged.ext
echo "authorityKeyIdentifier=none" >> forged.ext
q openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -subj "/CN=Chain Root" \
  -days 7300 -set_serial 1 -addext keyUsage=critical,keyCertSign,cRLSign -outform DER -out root.der
q openssl req -newkey rsa:2048 -nodes -keyout inter.key -subj "/CN=Chain Intermediate" -out inter.csr
q openssl x509 -req -in inter.csr -CA root.der -CAform DER -CAkey root.key -set_serial 2 \
  -days 7300 -extfile ca.ext -outform DER -out inter.der
q openssl req -newkey rsa:2048 -nodes -keyout leaf.key -subj "/CN=Chain Leaf" -out leaf.csr
q openssl x509 -req -in leaf.csr -CA inter.der -CAform DER -CAkey inter.key -set_serial 3 \
  -days 7300 -extfile leaf.ext -outform DER -out leaf.der
mkdir ca && touch ca/index.txt && echo 04 > ca/serial
q openssl x509 -inform DER -in inter.der -out inter.pem
cat > ca.cnf <<X
[ca]
default_ca = c
[c]
dir = ca
database = ca/index.txt
serial = ca/serial
new_certs_dir = ca
certificate = inter.pem
private_key = inter.key
default_md = sha256
policy = p
x509_extensions = e
[p]
commonName = supplied
[e]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
X
q openssl ca -batch -config ca.cnf -in leaf.csr -startdate 20010101000000Z -enddate 20020101000000Z -out expired.pem
q openssl x509 -in expired.pem -outform DER -out expired.der
q openssl req -x509 -newkey rsa:2048 -nodes -keyout other.key -subj "/CN=Chain Intermediate" \
  -days 7300 -set_serial 5 -outform DER -out other.der
q openssl x509 -req -in leaf.csr -CA other.der -CAform DER -CAkey other.key -set_serial 6 \
  -days 7300 -extfile forged.ext -outform DER -out forged.der
)";
    if (std::system(script.c_str()) != 0) std::abort();
  }
  ~ChainFiles() { std::filesystem::remove_all(dir_); }
  Der read(const std::string& name) const {
    std::ifstream in(dir_ + "/" + name + ".der", std::ios::binary);
    return Der(std::istreambuf_iterator<char>(in), {});
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

const ChainFiles& Files() {
  static const ChainFiles files;
  return files;
}

// A day from now: every certificate but the expired one is valid then.
const int64_t kTomorrow = static_cast<int64_t>(::time(nullptr)) + 86400;

struct ChainCase {
  const char* name;
  std::vector<const char*> root;        // into ROOT
  std::vector<const char*> ca;          // into CA
  std::vector<const char*> additional;  // into the additional store
  const char* endEntity;
  uint32_t status;
  std::vector<const char*> elements;
};

void PrintTo(const ChainCase& c, std::ostream* os) { *os << c.name; }

class CertificateChainTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(CertificateChainTest, BuildsTheChainWithItsTrustStatus) {
  const ChainCase& c = GetParam();
  const std::string db = Files().dir() + "/" + c.name + ".db";
  std::filesystem::remove(db);
  const auto stores = MakeDatabaseCertificateStores(db);
  auto fill = [&](const char* store, const std::vector<const char*>& names) {
    CertStore s;
    ASSERT_EQ(stores->openSystemStore(store, &s), 0u);
    for (const char* n : names) ASSERT_EQ(s.addEncoded(Files().read(n), AddDisposition::kNew), 0u);
  };
  fill("ROOT", c.root);
  fill("CA", c.ca);
  CertStore additional = CertStore::OpenMemory();
  for (const char* n : c.additional) {
    ASSERT_EQ(additional.addEncoded(Files().read(n), AddDisposition::kNew), 0u);
  }

  Result<CertificateChain> chain =
      BuildCertificateChain(*stores, Files().read(c.endEntity), &additional, kTomorrow);
  ASSERT_TRUE(chain.ok());
  EXPECT_EQ(chain->trustErrorStatus, c.status);
  std::vector<Der> expected;
  for (const char* n : c.elements) expected.push_back(Files().read(n));
  std::vector<Der> got;
  for (const ByteBuffer& e : chain->elements) got.emplace_back(e.bytes().begin(), e.bytes().end());
  EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Chains, CertificateChainTest,
    ::testing::Values(
        ChainCase{"trusted", {"root"}, {"inter"}, {}, "leaf", kCertTrustNoError,
                  {"leaf", "inter", "root"}},
        ChainCase{"intermediate_in_additional", {"root"}, {}, {"inter"}, "leaf",
                  kCertTrustNoError, {"leaf", "inter", "root"}},
        ChainCase{"root_not_trusted", {}, {"inter", "root"}, {}, "leaf",
                  kCertTrustIsUntrustedRoot, {"leaf", "inter", "root"}},
        ChainCase{"issuer_missing", {"root"}, {}, {}, "leaf", kCertTrustIsPartialChain, {"leaf"}},
        ChainCase{"expired", {"root"}, {"inter"}, {}, "expired", kCertTrustIsNotTimeValid,
                  {"expired", "inter", "root"}},
        ChainCase{"forged", {"root"}, {"inter"}, {}, "forged", kCertTrustIsNotSignatureValid,
                  {"forged", "inter", "root"}},
        ChainCase{"self_signed_trusted", {"root"}, {}, {}, "root", kCertTrustNoError, {"root"}}),
    [](const ::testing::TestParamInfo<ChainCase>& info) { return std::string(info.param.name); });

TEST(CertificateChain, AnEndEntityThatDoesNotParseFails) {
  const std::string db = Files().dir() + "/garbage.db";
  const auto stores = MakeDatabaseCertificateStores(db);
  const Der garbage = {0x30, 0x03, 0x02, 0x01, 0x01};
  Result<CertificateChain> chain = BuildCertificateChain(*stores, garbage, nullptr, kTomorrow);
  ASSERT_FALSE(chain.ok());
  EXPECT_NE(chain.outcome().systemError(), 0u);
}

}  // namespace
}  // namespace quorvant
