#include "enroll/pkcs10_request.h"

#include <openssl/x509.h>

#include <algorithm>

#include "base/openssl.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "digest/sha1_digest.h"
#include "digest/sha256_digest.h"
#include "encoding/der_writer.h"
#include "platform/keys/crypto_provider.h"

namespace quorvant {
namespace {

using der::Append;
using der::Element;
using der::kBitString;
using der::kBmpString;
using der::kInteger;
using der::kNull;
using der::kOid;
using der::kSequence;
using der::kSet;
constexpr uint8_t kAttributes = der::kContext0;  // [0] IMPLICIT SET OF

// 2.5.4.3, 1.2.840.113549.1.1.5 and 1.2.840.113549.1.1.11 as content octets.
constexpr uint8_t kCommonNameOid[] = {0x55, 0x04, 0x03};
constexpr uint8_t kSha1WithRsaOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05};
constexpr uint8_t kSha256WithRsaOid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};

std::vector<uint8_t> SubjectName(std::u16string_view commonName) {
  std::vector<uint8_t> value;
  value.reserve(commonName.size() * 2);
  for (char16_t c : commonName) {
    value.push_back(static_cast<uint8_t>(c >> 8));
    value.push_back(static_cast<uint8_t>(c & 0xFF));
  }
  std::vector<uint8_t> attribute;
  Append(attribute, kOid, kCommonNameOid);
  Append(attribute, kBmpString, value);
  return Element(kSequence, Element(kSet, Element(kSequence, attribute)));
}

std::vector<uint8_t> SignatureAlgorithm(uint32_t providerType) {
  std::vector<uint8_t> algorithm;
  if (providerType == kProvRsaAes) {
    Append(algorithm, kOid, kSha256WithRsaOid);
  } else {
    Append(algorithm, kOid, kSha1WithRsaOid);
  }
  Append(algorithm, kNull, {});
  return Element(kSequence, algorithm);
}

}  // namespace

Result<std::vector<uint8_t>> BuildRequest(ProviderContext& context, const CryptKey& key,
                                          uint32_t keySpec, std::u16string_view commonName,
                                          uint32_t providerType) {
  OpensslErrorScope errors;
  // The public key info as the platform exports it: rsaEncryption, NULL
  // parameters, the RSAPublicKey.
  if (key.rsaKey() == nullptr) return Outcome::Fail(rc::kKeyGenerationFailed, win32::kNteBadKey);
  unsigned char* spki = nullptr;
  const int spkiLength = i2d_PUBKEY(key.rsaKey(), &spki);
  if (spkiLength <= 0) return Outcome::Fail(rc::kKeyGenerationFailed, win32::kNteBadKey);
  std::vector<uint8_t> info;
  const uint8_t version[] = {0x00};
  Append(info, kInteger, version);
  const std::vector<uint8_t> subject = SubjectName(commonName);
  info.insert(info.end(), subject.begin(), subject.end());
  info.insert(info.end(), spki, spki + spkiLength);
  OPENSSL_free(spki);
  Append(info, kAttributes, {});
  const std::vector<uint8_t> requestInfo = Element(kSequence, info);

  // The digest of the request information, signed by the container's key.
  const bool sha256 = providerType == kProvRsaAes;
  ByteBuffer digest;
  if (sha256) {
    Sha256Digest engine;
    if (!engine.digest(requestInfo.data(), static_cast<int32_t>(requestInfo.size())) ||
        !digest.append(engine.output().bytes())) {
      return Outcome::Fail(rc::kAllocationFailed);
    }
  } else {
    Sha1Digest engine;
    if (!engine.digest(requestInfo.data(), static_cast<int32_t>(requestInfo.size())) ||
        !digest.append(engine.output().bytes())) {
      return Outcome::Fail(rc::kAllocationFailed);
    }
  }
  std::unique_ptr<CryptHash> hash;
  if (const uint32_t error = context.createHash(sha256 ? kCalgSha256 : kCalgSha1, &hash)) {
    return Outcome::Fail(rc::kKeyGenerationFailed, error);
  }
  if (const uint32_t error = hash->setHashValue(digest.bytes())) {
    return Outcome::Fail(rc::kKeyGenerationFailed, error);
  }
  ByteBuffer signature;
  if (const uint32_t error = context.signHash(*hash, keySpec, 0, &signature)) {
    return Outcome::Fail(rc::kKeyGenerationFailed, error);
  }
  // The provider gives the signature least significant byte first.
  std::vector<uint8_t> bits;
  bits.reserve(static_cast<size_t>(signature.size()) + 1);
  bits.push_back(0);  // no unused bits
  const auto sig = signature.bytes();
  bits.insert(bits.end(), sig.rbegin(), sig.rend());

  std::vector<uint8_t> request = requestInfo;
  const std::vector<uint8_t> algorithm = SignatureAlgorithm(providerType);
  request.insert(request.end(), algorithm.begin(), algorithm.end());
  Append(request, kBitString, bits);
  return Element(kSequence, request);
}

}  // namespace quorvant
