// SignPkcs1 and SignPkcs7 against OpenSSL's command line: every PKCS #1
// signature must equal what `openssl dgst -sign` makes of the same bytes with
// the same key, and every PKCS #7 message must verify with `openssl cms` and
// `openssl smime`, carry its certificates in order, and, without
// authenticated attributes, equal `openssl smime -sign` byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/result_codes.h"
#include "encoding/base64.h"
#include "sign/sign_fixture.h"

namespace quorvant::testing {
namespace {

std::string Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

Bytes FromBase64(const std::u16string& text) {
  ByteBuffer out;
  const std::string narrow = Utf8FromWide(text);
  if (!Base64Decode(narrow.c_str(), out)) return {};
  return Bytes(out.data(), out.data() + out.size());
}

// The bytes the component signs: UTF-16LE code units, or the Big5 bytes.
Bytes Signed(const std::u16string& text, bool ansi) {
  if (ansi) {
    const std::string narrow = ToNarrow(text);
    return Bytes(narrow.begin(), narrow.end());
  }
  Bytes out;
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

const std::u16string kText = u"QuorvantATL 簽章測試 0123";

// --- PKCS #1 -------------------------------------------------------------------

class Pkcs1Test : public SignTest, public ::testing::WithParamInterface<std::tuple<int, int>> {};

TEST_P(Pkcs1Test, EqualsOpensslDgstSignForEveryDigestOrderAndForm) {
  const auto [bits, media] = GetParam();
  const Signer& s = signer(bits);
  ASSERT_NO_FATAL_FAILURE(select(s, media));
  struct Case {
    int32_t flags;
    const char* digest;   // openssl dgst's digest option
    bool md5First;        // 0x2000: SHA-1 of the MD5 digest
  };
  const Case cases[] = {
      {0x0, "-sha1", false},    {0x100, "-sha1", false},  {0x800, "-sha1", false},
      {0x1000, "-md5", false},  {0x3000, "-md5", false},  {0x2000, "-sha1", true},
      {0x4000, "-sha1", false}, {0x4900, "-sha1", false}, {0x2900, "-sha1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    const std::u16string result = engine_->SignPkcs1(kText, c.flags);
    ASSERT_EQ(engine_->GetErrorCode(), 0);
    Bytes data = Signed(kText, (c.flags & 0x800) != 0);
    const fs::path in = scratch("in.bin"), sig = scratch("sig.bin");
    if (c.md5First) {
      WriteBytes(scratch("raw.bin"), data.data(), data.size());
      ASSERT_EQ(RunQuiet("openssl dgst -md5 -binary -out " + in.string() + " " + scratch("raw.bin").string()), 0);
    } else {
      WriteBytes(in, data.data(), data.size());
    }
    ASSERT_EQ(RunQuiet(std::string("openssl dgst ") + c.digest + " -sign " + s.key.string() +
                  " -out " + sig.string() + " " + in.string()),
              0);
    Bytes expected = ReadBytes(sig);
    ASSERT_EQ(expected.size(), static_cast<size_t>(bits / 8));
    if (c.flags & 0x4000) std::reverse(expected.begin(), expected.end());
    const Bytes ours = (c.flags & 0x100) ? FromBase64(result)
                                         : Bytes(result.begin(), result.end());
    if (c.flags & 0x100) {
      EXPECT_EQ(ours, expected);
    } else {
      EXPECT_EQ(Utf8FromWide(result), Hex(expected));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(KeysAndMedia, Pkcs1Test,
                         ::testing::Combine(::testing::Values(1024, 2048, 4096),
                                            ::testing::Values(1, 2)));

TEST_F(SignTest, Pkcs1SignatureOfAChangedTextDoesNotVerify) {
  const Signer& s = signer(2048);
  ASSERT_NO_FATAL_FAILURE(select(s, 1));
  const std::u16string result = engine_->SignPkcs1(kText, 0x100);
  ASSERT_EQ(engine_->GetErrorCode(), 0);
  const Bytes sig = FromBase64(result);
  WriteBytes(scratch("sig.bin"), sig.data(), sig.size());
  RunQuiet("openssl x509 -in " + s.cert.string() + " -pubkey -noout -out " + scratch("pub.pem").string());
  const Bytes original = Signed(kText, false);
  // The signed bytes verify; any change of one bit, a byte more, or one less
  // does not.
  std::vector<std::pair<Bytes, bool>> texts = {{original, true}};
  Bytes flipped = original;
  flipped[3] ^= 0x01;
  texts.push_back({flipped, false});
  Bytes longer = original;
  longer.push_back(0);
  texts.push_back({longer, false});
  texts.push_back({Bytes(original.begin(), original.end() - 1), false});
  texts.push_back({Signed(kText, true), false});
  for (const auto& [bytes, verifies] : texts) {
    WriteBytes(scratch("in.bin"), bytes.data(), bytes.size());
    EXPECT_EQ(RunQuiet("openssl dgst -sha1 -verify " + scratch("pub.pem").string() + " -signature " +
                  scratch("sig.bin").string() + " " + scratch("in.bin").string()) == 0,
              verifies);
  }
}

// --- PKCS #7 -------------------------------------------------------------------

class Pkcs7Test : public SignTest, public ::testing::WithParamInterface<int> {
 protected:
  // Writes the message and the signed bytes; returns the message's path.
  fs::path write(const std::u16string& base64, int32_t flags) {
    const Bytes der = FromBase64(base64);
    const Bytes data = Signed(kText, (flags & 0x800) != 0);
    WriteBytes(scratch("msg.der"), der.data(), der.size());
    WriteBytes(scratch("content.bin"), data.data(), data.size());
    return scratch("msg.der");
  }
  std::string verify(const std::string& tool, int32_t flags, const Signer& s, int* status) {
    std::string command = "openssl " + tool + " -verify -binary -inform DER -in " +
                          scratch("msg.der").string() + " -CAfile " +
                          material().caCert.string() + " -out " + scratch("out.bin").string();
    if (flags & 0x400) command += " -content " + scratch("content.bin").string();
    if ((flags & 0x100) && !(flags & 0x200)) command += " -certfile " + s.cert.string();
    return Capture(command, status);
  }
};

TEST_P(Pkcs7Test, VerifiesWithCmsAndSmimeAndCarriesTheCertificatesInOrder) {
  const int media = GetParam();
  const Signer& s = signer(2048);
  ASSERT_NO_FATAL_FAILURE(select(s, media));
  CertStore root = store("ROOT");
  ASSERT_EQ(root.addEncoded(PemToDer(material().caCert), AddDisposition::kNew), 0u);
  for (int32_t flags : {0x0, 0x100, 0x200, 0x300, 0x400, 0x500, 0x800, 0x1000, 0x2000, 0x2400,
                        0x3000, 0x3600, 0x2a00, 0x1c00}) {
    SCOPED_TRACE(flags);
    const std::u16string result = engine_->SignPkcs7(kText, flags);
    ASSERT_EQ(engine_->GetErrorCode(), 0) << engine_->GetCapiErrorCode();
    write(result, flags);
    for (const char* tool : {"cms", "smime"}) {
      int status = 0;
      const std::string out = verify(tool, flags, s, &status);
      EXPECT_EQ(status, 0) << tool << ": " << out;
      EXPECT_EQ(ReadBytes(scratch("out.bin")), Signed(kText, (flags & 0x800) != 0)) << tool;
    }
    // The certificates carried: none, the signer, or the signer and its CA.
    int status = 0;
    const std::string certs = Capture("openssl pkcs7 -inform DER -print_certs -noout -in " +
                                      scratch("msg.der").string(), &status);
    std::vector<std::string> subjects;
    for (size_t at = certs.find("subject="); at != std::string::npos;
         at = certs.find("subject=", at + 1)) {
      subjects.push_back(certs.substr(at, certs.find('\n', at) - at));
    }
    const size_t expected = (flags & 0x200) ? 2 : (flags & 0x100) ? 0 : 1;
    ASSERT_EQ(subjects.size(), expected) << certs;
    if (expected > 0) {
      EXPECT_NE(subjects[0].find(s.commonName), std::string::npos);
    }
    if (expected > 1) {
      EXPECT_NE(subjects[1].find("Quorvant Test Root"), std::string::npos);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Media, Pkcs7Test, ::testing::Values(1, 2));

TEST_F(SignTest, Pkcs7WithoutAttributesEqualsOpensslSmimeByteForByte) {
  const Signer& s = signer(2048);
  ASSERT_NO_FATAL_FAILURE(select(s, 1));
  const Bytes data = Signed(kText, false);
  WriteBytes(scratch("content.bin"), data.data(), data.size());
  struct Case {
    int32_t flags;
    const char* options;
  };
  const Case cases[] = {{0x0, "-nodetach"}, {0x400, ""}, {0x100, "-nodetach -nocerts"},
                        {0x500, "-nocerts"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    const Bytes ours = FromBase64(engine_->SignPkcs7(kText, c.flags));
    ASSERT_EQ(engine_->GetErrorCode(), 0);
    ASSERT_EQ(RunQuiet("openssl smime -sign -binary -noattr -nosmimecap -md sha1 -outform DER " +
                  std::string(c.options) + " -signer " + s.cert.string() + " -inkey " +
                  s.key.string() + " -in " + scratch("content.bin").string() + " -out " +
                  scratch("theirs.der").string()),
              0);
    EXPECT_EQ(Hex(ours), Hex(ReadBytes(scratch("theirs.der"))));
  }
}

TEST_F(SignTest, Pkcs7SigningTimeIsTheEnginesClock) {
  const Signer& s = signer(1024);
  ASSERT_NO_FATAL_FAILURE(select(s, 2));
  struct Case {
    int64_t now;
    const char* printed;
  };
  const Case cases[] = {{1371958275, "UTCTIME:Jun 23 03:31:15 2013 GMT"},
                        {2556144000, "GENERALIZEDTIME:Jan  1 00:00:00 2051 GMT"}};
  for (const Case& c : cases) {
    fakes_.clock->now = c.now;
    const Bytes der = FromBase64(engine_->SignPkcs7(kText, 0x2000));
    ASSERT_EQ(engine_->GetErrorCode(), 0);
    WriteBytes(scratch("msg.der"), der.data(), der.size());
    int status = 0;
    const std::string printed = Capture("openssl cms -cmsout -print -inform DER -in " +
                                        scratch("msg.der").string(), &status);
    EXPECT_NE(printed.find(c.printed), std::string::npos) << printed;
    EXPECT_NE(printed.find("signingTime"), std::string::npos);
    // Without 0x2000 there are no attributes at all.
    const Bytes plain = FromBase64(engine_->SignPkcs7(kText, 0));
    WriteBytes(scratch("msg.der"), plain.data(), plain.size());
    const std::string plainPrinted = Capture(
        "openssl cms -cmsout -print -inform DER -in " + scratch("msg.der").string(), &status);
    EXPECT_EQ(plainPrinted.find("signingTime"), std::string::npos);
    EXPECT_EQ(plainPrinted.find("messageDigest"), std::string::npos);
  }
}

}  // namespace
}  // namespace quorvant::testing
