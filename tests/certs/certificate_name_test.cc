// The X.500 string form over names written byte by byte from X.690 and the
// string types' own encodings (Unicode code points of the characters).
#include "platform/certificates/certificate_name.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/certificates/certificate.h"

namespace quorvant {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  if (content.size() < 0x80) {
    out.push_back(static_cast<uint8_t>(content.size()));
  } else {
    out.push_back(0x82);
    out.push_back(static_cast<uint8_t>(content.size() >> 8));
    out.push_back(static_cast<uint8_t>(content.size()));
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Attr {
  Bytes oid;  // content octets
  uint8_t tag;
  Bytes value;
};

Bytes AttrDer(const Attr& a) {
  Bytes body = Tlv(0x06, a.oid);
  const Bytes value = Tlv(a.tag, a.value);
  body.insert(body.end(), value.begin(), value.end());
  return Tlv(0x30, body);
}

Bytes Name(const std::vector<std::vector<Attr>>& rdns) {
  Bytes sequence;
  for (const auto& rdn : rdns) {
    Bytes set;
    for (const Attr& a : rdn) {
      const Bytes der = AttrDer(a);
      set.insert(set.end(), der.begin(), der.end());
    }
    const Bytes wrapped = Tlv(0x31, set);
    sequence.insert(sequence.end(), wrapped.begin(), wrapped.end());
  }
  return Tlv(0x30, sequence);
}

const Bytes kCn = {0x55, 0x04, 0x03};
const Bytes kOu = {0x55, 0x04, 0x0B};
const Bytes kC = {0x55, 0x04, 0x06};

TEST(X500NameTextTest, DecodesEveryStringType) {
  struct Case {
    const char* name;
    uint8_t tag;
    Bytes value;
    std::u16string expected;
  };
  const Case cases[] = {
      {"PrintableString", 0x13, Text("TW"), u"TW"},
      {"IA5String", 0x16, Text("a@b.example"), u"a@b.example"},
      {"NumericString", 0x12, Text("0123"), u"0123"},
      {"VisibleString", 0x1A, Text("visible"), u"visible"},
      {"T61String Latin-1", 0x14, {'C', 'a', 'f', 0xE9}, u"Café"},
      {"T61String holding UTF-8", 0x14, {'C', 'a', 'f', 0xC3, 0xA9}, u"Café"},
      {"UTF8String", 0x0C, {0xE7, 0x8E, 0x8B, 0xE5, 0xB0, 0x8F}, u"王小"},
      {"UTF8String four bytes", 0x0C, {0xF0, 0x9F, 0x98, 0x80}, u"\U0001F600"},
      {"UTF8String invalid byte", 0x0C, {0xFF, 'A'}, u"\uFFFDA"},
      {"UTF8String overlong", 0x0C, {0xC0, 0x80}, u"\uFFFD"},
      {"UTF8String surrogate", 0x0C, {0xED, 0xA0, 0x80}, u"\uFFFD"},
      {"UTF8String cut short", 0x0C, {'A', 0xE7, 0x8E}, u"A\uFFFD"},
      {"embedded zero", 0x0C, {'A', 0x00, 'B'}, u"A\uFFFDB"},
      {"BMPString", 0x1E, {0x73, 0x8B, 0x5C, 0x0F}, u"王小"},
      {"BMPString pair", 0x1E, {0xD8, 0x3D, 0xDE, 0x00}, u"\U0001F600"},
      {"BMPString odd length", 0x1E, {0x73, 0x8B, 0x5C}, u"王\uFFFD"},
      {"UniversalString", 0x1C, {0x00, 0x01, 0xF6, 0x00, 0x00, 0x00, 0x73, 0x8B},
       u"\U0001F600王"},
      {"UniversalString beyond Unicode", 0x1C, {0x00, 0x11, 0x00, 0x00}, u"\uFFFD"},
      {"OCTET STRING", 0x04, {0x01, 0xAB}, u"#01AB"},
      {"INTEGER", 0x02, {0x05}, u"#020105"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(X500NameText(Name({{{kCn, c.tag, c.value}}})), u"CN=" + c.expected);
  }
}

TEST(X500NameTextTest, ShortKeysAndIdentifiers) {
  struct Case {
    Bytes oid;
    std::u16string key;
  };
  const Case cases[] = {
      {{0x55, 0x04, 0x03}, u"CN"},
      {{0x55, 0x04, 0x07}, u"L"},
      {{0x55, 0x04, 0x0A}, u"O"},
      {{0x55, 0x04, 0x0B}, u"OU"},
      {{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x01}, u"E"},
      {{0x55, 0x04, 0x06}, u"C"},
      {{0x55, 0x04, 0x08}, u"S"},
      {{0x55, 0x04, 0x09}, u"STREET"},
      {{0x55, 0x04, 0x0C}, u"T"},
      {{0x55, 0x04, 0x2A}, u"G"},
      {{0x55, 0x04, 0x2B}, u"I"},
      {{0x55, 0x04, 0x04}, u"SN"},
      {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x19}, u"DC"},
      {{0x55, 0x04, 0x05}, u"SERIALNUMBER"},
      {{0x55, 0x04, 0x0D}, u"Description"},
      {{0x55, 0x04, 0x11}, u"PostalCode"},
      {{0x55, 0x04, 0x12}, u"POBox"},
      {{0x55, 0x04, 0x14}, u"Phone"},
      {{0x55, 0x04, 0x18}, u"X21Address"},
      {{0x55, 0x04, 0x2E}, u"dnQualifier"},
      // No short key: businessCategory, pseudonym, userId.
      {{0x55, 0x04, 0x0F}, u"OID.2.5.4.15"},
      {{0x55, 0x04, 0x41}, u"OID.2.5.4.65"},
      {{0x09, 0x92, 0x26, 0x89, 0x93, 0xF2, 0x2C, 0x64, 0x01, 0x01},
       u"OID.0.9.2342.19200300.100.1.1"},
      {{0x2A, 0x03, 0x04}, u"OID.1.2.3.4"},
      {{0x88, 0x37, 0x01}, u"OID.2.999.1"},
      // 2^64 - 1 and 2^64 as the last arc.
      {{0x2A, 0x03, 0x81, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
       u"OID.1.2.3.18446744073709551615"},
      {{0x2A, 0x03, 0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
       u"OID.1.2.3.18446744073709551616"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key.begin(), c.key.end()));
    EXPECT_EQ(X500NameText(Name({{{c.oid, 0x13, Text("v")}}})), c.key + u"=v");
  }
}

TEST(X500NameTextTest, LayoutOfRelativeNames) {
  struct Case {
    const char* name;
    Bytes der;
    std::u16string expected;
  };
  const Case cases[] = {
      {"encoding order, not reversed",
       Name({{{kC, 0x13, Text("TW")}}, {{kOu, 0x0C, Text("Unit")}}, {{kCn, 0x0C, Text("Me")}}}),
       u"C=TW, OU=Unit, CN=Me"},
      {"multi-valued in encoding order",
       Name({{{kOu, 0x0C, Text("b")}, {kCn, 0x0C, Text("a")}, {kOu, 0x0C, Text("c")}}}),
       u"OU=b + CN=a + OU=c"},
      {"never quoted", Name({{{kCn, 0x0C, Text("Doe, John + \"Jr\" = <x>; #1")}}}),
       u"CN=Doe, John + \"Jr\" = <x>; #1"},
      {"empty value", Name({{{kCn, 0x0C, {}}}, {{kC, 0x13, Text("TW")}}}), u"CN=, C=TW"},
      {"empty relative name skipped", Name({{{kC, 0x13, Text("TW")}}, {}, {{kCn, 0x0C, Text("x")}}}),
       u"C=TW, CN=x"},
      {"empty name", Name({}), u""},
      {"truncated", Bytes{0x30, 0x05, 0x31, 0x03, 0x30, 0x01}, u""},
      {"attribute without a value", Tlv(0x30, Tlv(0x31, Tlv(0x30, Tlv(0x06, kCn)))), u""},
      {"not a sequence", Tlv(0x31, {}), u""},
      {"identifier cut short", Name({{{Bytes{0x2A, 0x83}, 0x0C, Text("x")}}}), u""},
      {"bytes after the name", [] {
         Bytes b = Name({{{kCn, 0x0C, Text("x")}}});
         b.push_back(0);
         return b;
       }(),
       u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(X500NameText(c.der), c.expected);
  }
}

TEST(NameAttributeTextTest, FirstAttributeOfTheType) {
  const Bytes name = Name({{{kC, 0x13, Text("TW")}},
                           {{kOu, 0x0C, Text("u")}, {kCn, 0x0C, Text("first")}},
                           {{kCn, 0x1E, {0x73, 0x8B}}}});
  EXPECT_EQ(NameAttributeText(name, "2.5.4.3"), std::optional<std::u16string>(u"first"));
  EXPECT_EQ(NameAttributeText(name, "2.5.4.6"), std::optional<std::u16string>(u"TW"));
  EXPECT_EQ(NameAttributeText(name, "2.5.4.10"), std::nullopt);
  EXPECT_EQ(NameAttributeText(Bytes{0x30, 0x03}, "2.5.4.3"), std::nullopt);
}

TEST(Asn1TimeTest, UtcAndGeneralizedTime) {
  struct Case {
    uint8_t tag;
    const char* text;
    std::optional<int64_t> expected;  // seconds since 1970, from Python's calendar.timegm
  };
  const Case cases[] = {
      {0x17, "130624033115Z", 1372044675},
      {0x17, "1306240331Z", 1372044660},
      {0x17, "130624113115+0800", 1372044675},
      {0x17, "130623193115-0800", 1372044675},
      {0x17, "491231235959Z", 2524607999},
      {0x17, "500101000000Z", -631152000},
      {0x17, "691231235959Z", -1},
      {0x18, "20500101000000Z", 2524608000},
      {0x18, "20500101000000.123Z", 2524608000},
      {0x18, "99991231235959Z", 253402300799},
      {0x18, "2000022900Z", 951782400},
      {0x17, "130230000000Z", std::nullopt},
      {0x17, "130624033115", std::nullopt},
      {0x17, "13062403311Z", std::nullopt},
      {0x17, "130024033115Z", std::nullopt},
      {0x17, "130624243115Z", std::nullopt},
      {0x17, "130624033160Z", std::nullopt},
      {0x17, "130624033115Z ", std::nullopt},
      {0x18, "19000229000000Z", std::nullopt},
      {0x18, "20500101000000.Z", std::nullopt},
      {0x04, "130624033115Z", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    EXPECT_EQ(ParseAsn1Time(c.tag, Bytes(text.begin(), text.end())), c.expected);
  }
}

}  // namespace
}  // namespace quorvant
