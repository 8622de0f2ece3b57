#include "pfx/mobile_export.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/result_codes.h"
#include "digest/calg_ids.h"
#include "digest/des_cipher.h"
#include "digest/sha1_digest.h"
#include "encoding/base64.h"
#include "encoding/hex.h"
#include "platform/keys/key_blob.h"

namespace quorvant {
namespace {

constexpr char kMagic[4] = {'M', 'O', 'R', 'L'};
constexpr uint8_t kPrivateKeyBlob = 7;
constexpr size_t kTimeFieldLength = 14;

uint32_t ReadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

class RecordWriter {
 public:
  explicit RecordWriter(ByteBuffer* out) : out_(out) {}
  bool ok() const { return ok_; }
  void bytes(const void* data, size_t length) {
    if (length == 0) return;
    ok_ = ok_ && length <= INT32_MAX && out_->append(data, static_cast<int32_t>(length));
  }
  void u32(uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    bytes(b, sizeof b);
  }
  // A little-endian number of the key blob, most significant byte first.
  void reversed(const uint8_t* data, size_t length) {
    std::vector<uint8_t> number(data, data + length);
    for (size_t i = 0; i < length / 2; ++i) std::swap(number[i], number[length - 1 - i]);
    bytes(number.data(), number.size());
    std::memset(number.data(), 0, number.size());
  }
  void counted(const void* data, size_t length) {
    u32(static_cast<uint32_t>(length));
    bytes(data, length);
  }

 private:
  ByteBuffer* out_;
  bool ok_ = true;
};

}  // namespace

Result<ByteBuffer> BuildMobileRecord(const CertificateInfo& certificate,
                                     std::span<const uint8_t> privateKeyBlob) {
  const Outcome failed = Outcome::Fail(rc::kEncryptionFailed);
  if (!certificate.valid()) return failed;
  // The blob's own parser checks every length and that the numbers belong
  // together, so the fields below are read from a sound key.
  OsslPtr<EVP_PKEY> key;
  BlobHeader header;
  if (ParseRsaKeyBlob(privateKeyBlob, &key, &header) != 0 || header.type != kPrivateKeyBlob) {
    return failed;
  }
  const uint8_t* rsaPubKey = privateKeyBlob.data() + kBlobHeaderSize;
  const uint32_t bits = ReadLe32(rsaPubKey + 4);
  const uint32_t exponent = ReadLe32(rsaPubKey + 8);
  const size_t full = bits / 8;
  const size_t half = bits / 16;

  const std::string commonName = certificate.subjectCommonName();
  ByteBuffer serial;
  ByteBuffer thumbprint;
  if (!HexDecode(certificate.serial().c_str(), serial) ||
      !HexDecode(certificate.thumbprint().c_str(), thumbprint) || thumbprint.size() != 20) {
    return failed;
  }
  const std::string notBefore = certificate.notBefore(TimeForm::kCompact);
  const std::string notAfter = certificate.notAfter(TimeForm::kCompact);
  if (notBefore.size() != kTimeFieldLength || notAfter.size() != kTimeFieldLength) return failed;
  const ByteBuffer& der = certificate.encoding();

  ByteBuffer record;
  RecordWriter out(&record);
  out.bytes(kMagic, sizeof kMagic);
  out.u32(bits);
  out.u32(exponent);
  const uint8_t* number = privateKeyBlob.data() + kRsaBlobPrefixSize;
  const size_t widths[] = {full, half, half, half, half, half, full};
  for (size_t width : widths) {
    out.reversed(number, width);
    number += width;
  }
  out.counted(commonName.data(), commonName.size());
  out.counted(serial.data(), static_cast<size_t>(serial.size()));
  out.bytes(thumbprint.data(), 20);
  out.bytes(notBefore.data(), kTimeFieldLength);
  out.bytes(notAfter.data(), kTimeFieldLength);
  out.counted(der.data(), static_cast<size_t>(der.size()));
  if (!out.ok()) return failed;
  return record;
}

Result<std::string> BuildMobileText(const CertificateInfo& certificate,
                                    std::span<const uint8_t> privateKeyBlob,
                                    std::string_view password) {
  if (password.empty()) return Outcome::Fail(rc::kBadArgument);
  Result<ByteBuffer> record = BuildMobileRecord(certificate, privateKeyBlob);
  if (!record.ok()) return record.outcome();

  Sha1Digest sha1;
  if (!sha1.digest(password.data(), static_cast<int32_t>(password.size()))) {
    return Outcome::Fail(rc::kDigestFailed);
  }
  ByteBuffer cipherKey;
  if (!cipherKey.append(sha1.output().data(), Sha1Digest::kDigestLength) ||
      !cipherKey.append(kMagic, sizeof kMagic)) {
    return Outcome::Fail(rc::kEncryptionFailed);
  }
  DesCipher cipher;
  cipher.setAlgorithm(CALG_3DES);
  cipher.setKey(cipherKey.data(), cipherKey.size());
  if (!cipher.encrypt(record->data(), record->size())) return Outcome::Fail(rc::kEncryptionFailed);
  ByteBuffer text;
  if (!Base64Encode(cipher.output().data(), cipher.output().size(), text) || text.empty()) {
    return Outcome::Fail(rc::kEncryptionFailed);
  }
  return std::string(text.view());
}

}  // namespace quorvant
