#include "certs/certificate_info.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "certs/test_certificates.h"
#include "support/scoped_time_zone.h"
#include "encoding/code_page.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

using testing::MakeTestCertificate;
using testing::OpenSslSha1Hex;
using testing::ReadTestData;
using testing::TestCertificateOptions;

// Taipei (UTC+8, no daylight saving since 1980) and Big5, as on the systems
// the component serves.
class CertificateInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SetActiveCodePage(950));
  }

 private:
  testing::ScopedTimeZone zone_{"Asia/Taipei"};
};

std::u16string Wide(const std::string& narrow) { return ToInterfaceText(narrow); }

struct FileCase {
  const char* file;
  std::u16string subject;
  std::u16string issuer;
  std::u16string subjectCn;
  std::u16string issuerCn;
  const char* serial;
  int32_t keyUsage;
  bool ca;
  const char* notBefore;  // compact, Taipei; null: made at generation time
  const char* notAfter;
};

// What each file holds, as the generating commands in tests/certs/data say.
const FileCase kFiles[] = {
    {"chinese_bmp.der", u"C=TW, O=測試銀行, OU=營業部, CN=王小明",
     u"C=TW, O=測試憑證中心, CN=測試憑證中心 Root CA", u"王小明", u"測試憑證中心 Root CA",
     "008F12", 0xC0, false, "20130624113115", "20160101000000"},
    {"chinese_utf8_ca.der",
     u"CN=陳大文, E=alice@example.com, OID.1.3.6.1.4.1.99999.1=custom, L=臺北市",
     u"CN=陳大文, E=alice@example.com, OID.1.3.6.1.4.1.99999.1=custom, L=臺北市", u"陳大文",
     u"陳大文", "01", 0x06, true, "19500101080000", "20500101080000"},
    {"multi_valued.der",
     u"C=TW, O=Example Bank, OU=Cards + OU=Retail, CN=Alice Chen + SERIALNUMBER=A123456789",
     u"C=TW, O=Example Bank, CN=Example Issuing CA", u"Alice Chen", u"Example Issuing CA",
     "7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", 0, false, "20200229200000",
     "20500101075959"},
    {"self_issued.der", u"CN=Self Issued", u"CN=Self Issued", u"Self Issued", u"Self Issued",
     "00FF", 0, true, "20000101080000", "100000101075959"},
    {"openssl_names.der",
     u"DC=tw, DC=example, O=Example Bank, OU=Cards + OU=Retail, CN=Bob Lin, E=bob@example.com",
     u"DC=tw, DC=example, O=Example Bank, OU=Cards + OU=Retail, CN=Bob Lin, E=bob@example.com",
     u"Bob Lin", u"Bob Lin", "008F12", 0xA0, true, nullptr, nullptr},
    {"long_serial.der", u"C=TW, CN=王大明", u"C=TW, CN=王大明", u"王大明", u"王大明",
     "0102030405060708090A0B0C0D0E0F10111213141516171819", 0, true, nullptr, nullptr},
};

TEST_F(CertificateInfoTest, FieldsOfCertificatesFromOtherTools) {
  for (const FileCase& c : kFiles) {
    SCOPED_TRACE(c.file);
    const std::vector<uint8_t> der = ReadTestData(c.file);
    const CertificateInfo info(der);
    ASSERT_TRUE(info.valid());
    EXPECT_EQ(info.parseError(), 0u);
    EXPECT_TRUE(info.owned());
    EXPECT_EQ(Wide(info.subject()), c.subject);
    EXPECT_EQ(Wide(info.issuer()), c.issuer);
    EXPECT_EQ(Wide(info.subjectCommonName()), c.subjectCn);
    EXPECT_EQ(Wide(info.issuerCommonName()), c.issuerCn);
    EXPECT_EQ(info.serial(), c.serial);
    EXPECT_EQ(info.keyUsage(), c.keyUsage);
    EXPECT_EQ(info.IsCaCertificate(), c.ca);
    EXPECT_EQ(info.thumbprint(), OpenSslSha1Hex(der));
    std::string base64(4 * ((der.size() + 2) / 3), '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(base64.data()), der.data(),
                    static_cast<int>(der.size()));
    EXPECT_EQ(info.base64(), base64);
    if (c.notBefore != nullptr) {
      EXPECT_EQ(info.notBefore(), c.notBefore);
      EXPECT_EQ(info.notAfter(), c.notAfter);
    }
  }
}

TEST_F(CertificateInfoTest, TimeForms) {
  const CertificateInfo info(ReadTestData("chinese_bmp.der"));
  EXPECT_EQ(info.notBefore(TimeForm::kDate), "2013/06/24");
  EXPECT_EQ(info.notBefore(TimeForm::kDateTime), "2013/06/24 11:31:15");
  EXPECT_EQ(info.notAfter(TimeForm::kDateTime), "2016/01/01 00:00:00");
  // Both ends belong to the validity period.
  EXPECT_EQ(info.verifyTimeValidity(1372044675 - 1), -1);
  EXPECT_EQ(info.verifyTimeValidity(1372044675), 0);
  EXPECT_EQ(info.verifyTimeValidity(1451577600), 0);
  EXPECT_EQ(info.verifyTimeValidity(1451577600 + 1), 1);
}

TEST_F(CertificateInfoTest, KeyUsageIsTheFirstOctet) {
  struct Case {
    int bits;
    int32_t expected;
    bool ca;
  };
  const Case cases[] = {
      {-1, 0, false},
      {KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION, 0xC0, false},
      {KU_KEY_ENCIPHERMENT | KU_DECIPHER_ONLY, 0x20, false},  // second octet ignored
      {KU_ENCIPHER_ONLY, 0x01, false},
      {KU_CRL_SIGN, 0x02, true},
      {KU_KEY_CERT_SIGN | KU_DIGITAL_SIGNATURE, 0x84, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    TestCertificateOptions options;
    options.issuerCommonName = "Another Issuer";
    options.keyUsage = c.bits;
    const CertificateInfo info(MakeTestCertificate(options));
    EXPECT_EQ(info.keyUsage(), c.expected);
    EXPECT_EQ(info.IsCaCertificate(), c.ca);
  }
}

TEST_F(CertificateInfoTest, NamesAreCutAtCharacterBoundaries) {
  // 60 characters of two bytes each in Big5: 49 fit in 99 bytes.
  std::string sixtyWang;
  for (int i = 0; i < 60; ++i) sixtyWang += "\xE7\x8E\x8B";  // 王
  TestCertificateOptions options;
  options.commonName = sixtyWang;
  options.unknownAttribute = std::string(600, 'o');
  const CertificateInfo info(MakeTestCertificate(options));
  EXPECT_EQ(Wide(info.subjectCommonName()), std::u16string(49, u'王'));
  EXPECT_EQ(info.subject(), "OID.1.2.3.4=" + std::string(499, 'o'));

  // 12 + 390 + 5 bytes before the common name leave 104: 52 characters.
  options.unknownAttribute = std::string(390, 'o');
  EXPECT_EQ(CertificateInfo(MakeTestCertificate(options)).subject().size(), 511u);
  // One more leaves an odd 103: the 52nd character does not fit.
  options.unknownAttribute = std::string(391, 'o');
  const std::string cut = CertificateInfo(MakeTestCertificate(options)).subject();
  EXPECT_EQ(cut.size(), 510u);
  EXPECT_EQ(Wide(cut), u"OID.1.2.3.4=" + std::u16string(391, u'o') + u", CN=" +
                           std::u16string(51, u'王'));
}

TEST_F(CertificateInfoTest, CommonNameFromTheAlternativeNameWhenTheSubjectIsEmpty) {
  TestCertificateOptions options;
  options.commonName = "";
  options.issuerCommonName = "Issuer";
  options.altDirectoryCommonName = "Directory Name";
  const CertificateInfo info(MakeTestCertificate(options));
  ASSERT_TRUE(info.valid());
  EXPECT_EQ(info.subject(), "");
  EXPECT_EQ(info.subjectCommonName(), "Directory Name");
  EXPECT_EQ(info.issuerCommonName(), "Issuer");
}

TEST_F(CertificateInfoTest, MadeFromAStoreContextBorrowsIt) {
  const std::vector<uint8_t> der = ReadTestData("chinese_bmp.der");
  CertContext context;
  ASSERT_EQ(CertContext::Create(der, &context), 0u);
  const CertificateInfo info(context);
  ASSERT_TRUE(info.valid());
  EXPECT_FALSE(info.owned());
  EXPECT_TRUE(info.context().sameElement(context));
  EXPECT_EQ(info.serial(), "008F12");
}

std::vector<uint8_t> Replace(std::vector<uint8_t> der, const std::string& from,
                             const std::string& to) {
  const std::string text(der.begin(), der.end());
  const size_t at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("pattern not in certificate");
  std::copy(to.begin(), to.end(), der.begin() + static_cast<ptrdiff_t>(at));
  return der;
}

TEST_F(CertificateInfoTest, RejectsWhatIsNotOneCertificate) {
  const std::vector<uint8_t> good = ReadTestData("chinese_bmp.der");
  std::vector<uint8_t> truncated(good.begin(), good.end() - 1);
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0x00);
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o'};
  std::vector<uint8_t> indefinite = good;
  indefinite[1] = 0x80;
  struct Case {
    const char* name;
    std::vector<uint8_t> der;
    uint32_t error;
  };
  const Case cases[] = {
      {"empty", {}, win32::kCryptEAsn1Eod},
      {"truncated", truncated, win32::kCryptEAsn1Eod},
      {"trailing byte", trailing, win32::kCryptEAsn1Corrupt},
      {"not DER", text, win32::kCryptEAsn1Badtag},
      {"indefinite length", indefinite, win32::kCryptEAsn1Corrupt},
      {"month 13", Replace(good, "130624033115Z", "131324033115Z"), win32::kCryptEAsn1Corrupt},
      {"30 February", Replace(good, "130624033115Z", "130230033115Z"),
       win32::kCryptEAsn1Corrupt},
      {"no zone", Replace(good, "130624033115Z", "1306240331150"), win32::kCryptEAsn1Corrupt},
      {"serial not an INTEGER",
       Replace(good, std::string("\x02\x03\x00\x8F\x12", 5),
               std::string("\x04\x03\x00\x8F\x12", 5)),
       win32::kCryptEAsn1Badtag},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CertificateInfo info(c.der);
    EXPECT_FALSE(info.valid());
    EXPECT_EQ(info.parseError(), c.error);
    EXPECT_EQ(info.subject(), "");
    EXPECT_EQ(info.serial(), "");
    EXPECT_EQ(info.thumbprint(), "");
    EXPECT_EQ(info.notAfter(), "");
    EXPECT_EQ(info.base64(), "");
    EXPECT_EQ(info.keyUsage(), 0);
    EXPECT_FALSE(info.IsCaCertificate());
  }
}

}  // namespace
}  // namespace quorvant
