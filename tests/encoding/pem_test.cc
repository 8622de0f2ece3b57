#include "encoding/pem.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "encoding/encoding_test_util.h"

namespace quorvant {
namespace {

using test_support::FakeDer;
using test_support::OpenSslBase64;
using test_support::OpenSslPem;
using test_support::WithCrLf;

TEST(StripPemArmourTest, Cases) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"certificate, CR LF",
       "-----BEGIN CERTIFICATE-----\r\nMIIB\r\nAAAA\r\n-----END CERTIFICATE-----\r\n",
       "MIIBAAAA"},
      {"PKCS #7, LF", "-----BEGIN PKCS #7-----\nMIIC\nBBBB\n-----END PKCS #7-----\n",
       "MIICBBBB"},
      {"other markers stay, breaks go",
       "-----BEGIN X509 CRL-----\nMIIB\n-----END X509 CRL-----",
       "-----BEGIN X509 CRL-----MIIB-----END X509 CRL-----"},
      {"spaces and tabs stay", "-----BEGIN CERTIFICATE----- \nMI IB\t\n", " MI IB\t"},
      {"lone CR and LF anywhere", "-----\rM\nI\r\n", "-----MI"},
      {"several certificates",
       "-----BEGIN CERTIFICATE-----\nMIIA\n-----END CERTIFICATE-----\n"
       "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n",
       "MIIAMIIB"},
      {"no leading dashes: unchanged",
       "\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n",
       "\n-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n"},
      {"space first: unchanged", " -----BEGIN CERTIFICATE-----\n",
       " -----BEGIN CERTIFICATE-----\n"},
      {"four dashes: unchanged", "----BEGIN CERTIFICATE----\nMIIB\n",
       "----BEGIN CERTIFICATE----\nMIIB\n"},
      {"bare Base64 with breaks: unchanged", "MIIB\r\nAAAA", "MIIB\r\nAAAA"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StripPemArmour(c.text), c.expected);
  }
}

TEST(StripPemArmourTest, LeavesOpenSslsBase64OfTheDer) {
  std::mt19937 rng(7468);
  for (const size_t n : {40u, 700u, 1500u}) {
    const auto der = FakeDer(rng, n);
    const std::string pem = OpenSslPem("CERTIFICATE", der);
    ASSERT_FALSE(pem.empty());
    const std::string expected = OpenSslBase64(der);
    EXPECT_EQ(StripPemArmour(pem), expected);
    EXPECT_EQ(StripPemArmour(WithCrLf(pem)), expected);
    EXPECT_EQ(StripPemArmour(pem).front(), 'M');
  }
}

}  // namespace
}  // namespace quorvant
