#include "pfx/certificate_filter.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "certs/certificate_info.h"

namespace quorvant {
namespace {

// Leaves signed by one authority, made by the openssl command line
// (data/make_filter_certs.sh), in this store order:
//   alice  O=Bank, CN=Alice                        ku 0xC0  2020-01-01..2030-12-31
//   bob    CN=Bob                                  ku 0x30  2021-01-01..2025-12-31
//   doe    C=TW, O=Bank, CN=Doe, John              ku 0x80  2022-01-01..2032-01-01
//   wang   C=TW, O=Example Bank, OU=Retail, CN=Alice Wang
//                                                  ku 0xC0  2019-01-01..2029-12-31
//   carol  O=Bank, CN=Carol                        ku 0x80  2024-01-01..2028-01-01
// and the self-signed authority first, which the filter always skips.
class CertificateFilterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                     ("quorvant-filter-" + std::to_string(::getpid())));
    const auto script = std::filesystem::path(__FILE__).parent_path() / "data" /
                        "make_filter_certs.sh";
    const std::string command = "bash '" + script.string() + "' '" + dir_->string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }

  static std::vector<uint8_t> Der(const std::string& name) {
    std::ifstream in(*dir_ / (name + ".der"), std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  CertStore storeOf(const std::vector<std::string>& names) {
    CertStore store = CertStore::OpenMemory();
    for (const std::string& name : names) {
      EXPECT_EQ(store.addEncoded(Der(name), AddDisposition::kAlways), 0u) << name;
    }
    return store;
  }
  CertStore allLeaves() { return storeOf({"ca", "alice", "bob", "doe", "wang", "carol"}); }

  // The common names of the selected certificates, in order.
  static std::vector<std::string> Names(const std::vector<CertContext>& selected) {
    std::vector<std::string> names;
    for (const CertContext& c : selected) names.push_back(CertificateInfo(c).subjectCommonName());
    return names;
  }

  static inline std::filesystem::path* dir_ = nullptr;
};

constexpr int64_t k2018 = 1514764800;  // 2018-01-01
constexpr int64_t k2024 = 1717200000;  // 2024-06-01
constexpr int64_t k2026 = 1780272000;  // 2026-06-01
constexpr int64_t k2033 = 1988150400;  // 2033-01-01

struct FilterCase {
  const char* name;
  const char* filter;
  int32_t flags;
  int32_t keyUsage;
  int64_t time;
  int32_t code;
  std::vector<std::string> selected;
};

const std::vector<std::string> kAll = {"Alice", "Bob", "Doe, John", "Alice Wang", "Carol"};

TEST_F(CertificateFilterTest, EveryRule) {
  const FilterCase cases[] = {
      // Alternatives and pieces.
      {"no filter", "", 0, 0, k2024, 0, kAll},
      {"only separators", "//", 0, 0, k2024, 0, kAll},
      {"short pieces are dropped", "S_C//S_O", 0, 0, k2024, 0, kAll},
      {"alternatives", "S_CN=Alice,S_O=Bank//S_CN=Bob", 0, 0, k2024, 0, {"Alice", "Bob"}},
      {"continuation entry", "S_CN=Doe, John,S_O=Bank,S_C=TW", 0, 0, k2024, 0, {"Doe, John"}},
      {"backslash-n sequence", "S_CN=Alice\\nS_O=Bank", 0, 0, k2024, 0, {"Alice"}},
      {"line breaks", "S_CN=Alice\r\nS_O=Bank", 0, 0, k2024, 0, {"Alice"}},
      {"every attribute must be named", "S_CN=Alice", 0, 0, k2024, 5010, {}},
      {"no substring without 0x08", "S_CN=lic", 0, 0, k2024, 5010, {}},
      // Match-filter (0x08).
      {"CN substring", "S_CN=lic", 0x08, 0, k2024, 0, {"Alice", "Alice Wang"}},
      {"O exact", "S_O=Bank", 0x08, 0, k2024, 0, {"Alice", "Doe, John", "Carol"}},
      {"O %", "S_O=%Bank", 0x08, 0, k2024, 0, {"Alice", "Doe, John", "Alice Wang", "Carol"}},
      {"OU %", "S_OU=%Ret", 0x08, 0, k2024, 0, {"Alice Wang"}},
      {"C exact", "S_C=TW", 0x08, 0, k2024, 0, {"Doe, John", "Alice Wang"}},
      {"SN ignores case", "S_SN=0a11ce", 0x08, 0, k2024, 0, {"Alice"}},
      {"issuer %", "I_O=%Filter", 0x08, 0, k2024, 0, kAll},
      {"issuer and subject", "I_CN=Root,S_CN=Bob", 0x08, 0, k2024, 0, {"Bob"}},
      {"issuer mismatch", "I_O=%Other", 0x08, 0, k2024, 5010, {}},
      {"alternatives with 0x08", "S_CN=Car//S_C=TW", 0x08, 0, k2024, 0,
       {"Doe, John", "Alice Wang", "Carol"}},
      // Key usage.
      {"usage after a rejection", "", 0, 0x20, k2024, 0, {"Bob"}},
      {"usage pair", "", 0, 0xC0, k2024, 0, {"Alice", "Alice Wang"}},
      {"usage nobody has", "", 0, 0x01, k2024, 5017, {}},
      {"negative usage is no requirement", "", 0, -1, k2024, 0, kAll},
      // Validity (0x04) against a given time.
      {"one expired", "", 0x04, 0, k2026, 0, {"Alice", "Doe, John", "Alice Wang", "Carol"}},
      {"all expired", "", 0x04, 0, k2033, 5011, {}},
      {"none valid yet", "", 0x04, 0, k2018, 5012, {}},
      {"filtered and expired", "S_CN=Bob", 0x0C, 0, k2026, 5011, {}},
      {"validity not asked", "", 0, 0, k2033, 0, kAll},
      // Mode 2: the one preferred by date.
      {"latest NotBefore", "", 0x02, 0, k2024, 0, {"Carol"}},
      {"earliest NotBefore", "", 0x22, 0, k2024, 0, {"Alice Wang"}},
      {"latest NotAfter", "", 0x42, 0, k2024, 0, {"Doe, John"}},
      {"earliest NotAfter", "", 0x82, 0, k2024, 0, {"Bob"}},
      {"preference among matches", "S_O=Bank", 0x4A, 0, k2024, 0, {"Doe, John"}},
      {"a rejection before the preferred one", "", 0x02, 0x20, k2024, 0, {"Bob"}},
      {"modes 1 and 3 keep all", "", 0x03, 0, k2024, 0, kAll},
      {"only the low byte of the flags", "", 0x102, 0, k2024, 0, {"Carol"}},
  };
  const CertStore store = allLeaves();
  for (const FilterCase& c : cases) {
    std::vector<CertContext> selected;
    uint32_t lastError = 0;
    const CertificateFilterRequest request{c.filter, c.flags, c.keyUsage, c.time};
    EXPECT_EQ(FilterCertificates(store, request, &selected, &lastError), c.code) << c.name;
    EXPECT_EQ(Names(selected), c.selected) << c.name;
    EXPECT_EQ(lastError != 0, c.code != 0) << c.name;
  }
}

TEST_F(CertificateFilterTest, FirstCertificateOfAPfxStore) {
  const FilterCase cases[] = {
      {"first accepted", "", 0x02, 0, k2024, 0, {"Alice"}},
      {"no date preference", "", 0x42, 0, k2024, 0, {"Alice"}},
      {"after a rejection", "", 0, 0x20, k2024, 0, {"Bob"}},
      {"usage nobody has", "", 0, 0x01, k2024, 5017, {}},
      {"the last rejection decides", "", 0x04, 0, k2033, 5011, {}},
      {"nothing matches", "S_CN=Nobody", 0, 0, k2024, 5010, {}},
  };
  const CertStore store = allLeaves();
  for (const FilterCase& c : cases) {
    std::vector<CertContext> selected;
    uint32_t lastError = 0;
    const CertificateFilterRequest request{c.filter, c.flags, c.keyUsage, c.time};
    EXPECT_EQ(FilterFirstCertificate(store, request, &selected, &lastError), c.code) << c.name;
    EXPECT_EQ(Names(selected), c.selected) << c.name;
  }
}

TEST_F(CertificateFilterTest, AuthoritiesOnlyAndNoStore) {
  std::vector<CertContext> selected;
  uint32_t lastError = 0;
  const CertificateFilterRequest request{"", 0, 0, k2024};
  EXPECT_EQ(FilterCertificates(storeOf({"ca"}), request, &selected, &lastError), 5010);
  EXPECT_EQ(lastError, 0x80092004u);
  EXPECT_EQ(FilterCertificates(CertStore(), request, &selected, &lastError), 5010);
  EXPECT_EQ(FilterCertificates(allLeaves(), request, nullptr, &lastError), 5010);
  // The list is emptied before the walk.
  selected = {CertContext()};
  EXPECT_EQ(FilterCertificates(storeOf({"bob"}), request, &selected, &lastError), 0);
  EXPECT_EQ(Names(selected), (std::vector<std::string>{"Bob"}));
}

}  // namespace
}  // namespace quorvant
