#include "crypt/envelope.h"

#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <optional>

#include "base/openssl.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "certs/certificate_info.h"
#include "platform/certificates/certificate.h"
#include "platform/keys/crypto_provider.h"

namespace quorvant {
namespace {

struct CipherChoice {
  ContentCipher cipher;
  const char* oid;
  const char* name;  // as OpenSSL fetches it
};

constexpr CipherChoice kWritten[] = {
    {ContentCipher::kTripleDes, "1.2.840.113549.3.7", "DES-EDE3-CBC"},
    {ContentCipher::kDes, "1.3.14.3.2.7", "DES-CBC"},
    {ContentCipher::kRc4, "1.2.840.113549.3.4", "RC4"},
};

// What an envelope may be encrypted with: the ciphers the component writes,
// and AES-CBC, which other writers choose by default. RC2's parameters and
// effective key bits are not read; such envelopes are refused.
constexpr int kReadable[] = {NID_des_ede3_cbc, NID_des_cbc, NID_rc4,
                             NID_aes_128_cbc,  NID_aes_192_cbc, NID_aes_256_cbc};

const CipherChoice& Choice(ContentCipher cipher) {
  for (const CipherChoice& c : kWritten) {
    if (c.cipher == cipher) return c;
  }
  return kWritten[0];
}

// The content octets of a DER INTEGER without redundant leading octets, so
// a serial number written with a superfluous 00 still matches.
std::vector<uint8_t> MinimalInteger(std::span<const uint8_t> content) {
  size_t skip = 0;
  while (content.size() - skip > 1 &&
         ((content[skip] == 0x00 && content[skip + 1] < 0x80) ||
          (content[skip] == 0xFF && content[skip + 1] >= 0x80))) {
    ++skip;
  }
  return std::vector<uint8_t>(content.begin() + static_cast<ptrdiff_t>(skip), content.end());
}

bool AppendEncoding(unsigned char* der, int length, ByteBuffer* out) {
  const bool ok = der != nullptr && length > 0 && out->append(der, length);
  OPENSSL_free(der);
  return ok;
}

// The private key that would open an envelope for `cert`, when the store
// knows one: the certificate's key context, else its key provider
// information.
struct RecipientKey {
  std::unique_ptr<ProviderContext> acquired;
  std::unique_ptr<CryptKey> key;
  uint32_t keySpec = 0;
};

bool FindKey(const CertContext& cert, const std::shared_ptr<PlatformDatabase>& keys,
             RecipientKey* out) {
  if (std::optional<CertKeyContext> context = cert.keyContext(); context && context->provider) {
    if (context->provider->getUserKey(context->keySpec, &out->key) == 0) {
      out->keySpec = context->keySpec;
      return true;
    }
  }
  KeyProviderInfo info;
  if (cert.keyProviderInfo(&info) != 0) return false;
  uint32_t keySpec = 0;
  if (AcquireCertificatePrivateKey(info, 0, &out->acquired, &keySpec, keys) != 0) return false;
  if (out->acquired->getUserKey(keySpec, &out->key) != 0) return false;
  out->keySpec = keySpec;
  return true;
}

// The IV of a CBC cipher: the parameters are the IV as an OCTET STRING.
bool ReadIv(const X509_ALGOR* algorithm, int ivLength, uint8_t* iv) {
  const ASN1_TYPE* parameter = algorithm->parameter;
  if (parameter == nullptr || parameter->type != V_ASN1_OCTET_STRING) return false;
  const ASN1_OCTET_STRING* octets = parameter->value.octet_string;
  if (octets == nullptr || ASN1_STRING_length(octets) != ivLength) return false;
  std::memcpy(iv, ASN1_STRING_get0_data(octets), static_cast<size_t>(ivLength));
  return true;
}

}  // namespace

ContentCipher ContentCipherFromAlgorithm(int32_t iAlgorithm) {
  if (iAlgorithm == 1) return ContentCipher::kDes;
  if (iAlgorithm == 2) return ContentCipher::kRc4;
  return ContentCipher::kTripleDes;
}

const char* ContentCipherOid(ContentCipher cipher) { return Choice(cipher).oid; }

Outcome ReadRecipientList(std::span<const uint8_t> der, std::vector<ByteBuffer>* certificates) {
  certificates->clear();
  if (der.empty()) return Outcome::Fail(rc::kBadCertificate, win32::kCryptEAsn1Eod);
  if (der.size() > kMaxEnvelopeBytes) return Outcome::Fail(rc::kBadCertificate, win32::kCryptEAsn1Large);
  const OpensslErrorScope errors;
  const unsigned char* at = der.data();
  const OsslPtr<PKCS7> message(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
  if (!message) {
    const CertificateInfo single(der);
    if (!single.valid()) return Outcome::Fail(rc::kBadCertificate, single.parseError());
    ByteBuffer copy;
    if (!copy.append(der)) return Outcome::Fail(rc::kAllocationFailed);
    certificates->push_back(std::move(copy));
    return Outcome::Ok();
  }
  // Only signed messages carry a certificate set.
  STACK_OF(X509)* set = nullptr;
  switch (OBJ_obj2nid(message->type)) {
    case NID_pkcs7_signed:
      set = message->d.sign != nullptr ? message->d.sign->cert : nullptr;
      break;
    case NID_pkcs7_signedAndEnveloped:
      set = message->d.signed_and_enveloped != nullptr ? message->d.signed_and_enveloped->cert
                                                       : nullptr;
      break;
    default:
      return Outcome::Fail(rc::kBadCertificate, win32::kCryptEInvalidMsgType);
  }
  const int count = set != nullptr ? sk_X509_num(set) : 0;
  if (count <= 0) return Outcome::Fail(rc::kBadCertificate);
  if (static_cast<size_t>(count) > kMaxRecipients) {
    return Outcome::Fail(rc::kBadCertificate, win32::kCryptEAsn1Large);
  }
  for (int i = 0; i < count; ++i) {
    unsigned char* encoded = nullptr;
    const int length = i2d_X509(sk_X509_value(set, i), &encoded);
    ByteBuffer copy;
    if (!AppendEncoding(encoded, length, &copy)) continue;
    if (CertificateInfo(copy).valid()) certificates->push_back(std::move(copy));
  }
  return Outcome::Ok();
}

Outcome BuildEnvelope(std::span<const uint8_t> content, const std::vector<ByteBuffer>& recipients,
                      ContentCipher cipher, ByteBuffer* envelope) {
  envelope->clear();
  if (content.size() > static_cast<size_t>(INT_MAX)) return Outcome::Fail(rc::kEncryptFailed);
  const OpensslErrorScope errors;
  OsslPtr<X509Stack> certificates(sk_X509_new_null());
  if (!certificates) return Outcome::Fail(rc::kAllocationFailed);
  std::vector<const ByteBuffer*> taken;
  for (const ByteBuffer& entry : recipients) {
    if (std::any_of(taken.begin(), taken.end(), [&](const ByteBuffer* t) {
          return std::ranges::equal(t->bytes(), entry.bytes());
        })) {
      continue;
    }
    const unsigned char* at = entry.data();
    OsslPtr<X509> parsed(d2i_X509(nullptr, &at, entry.size()));
    if (!parsed || at != entry.data() + entry.size()) continue;
    if (sk_X509_push(certificates.get(), parsed.get()) <= 0) return Outcome::Fail(rc::kAllocationFailed);
    (void)parsed.release();
    taken.push_back(&entry);
  }
  if (taken.empty()) return Outcome::Fail(rc::kBadCertificate);
  if (taken.size() > kMaxRecipients) return Outcome::Fail(rc::kBadCertificate, win32::kCryptEAsn1Large);

  const OsslPtr<EVP_CIPHER> contentCipher(
      EVP_CIPHER_fetch(OpensslContext(), Choice(cipher).name, nullptr));
  const OsslPtr<BIO> input(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
  if (!contentCipher || !input) return Outcome::Fail(rc::kEncryptFailed);
  // Binary: the bytes as given, no conversion of line ends to canonical text.
  const OsslPtr<PKCS7> message(PKCS7_encrypt_ex(certificates.get(), input.get(),
                                                contentCipher.get(), PKCS7_BINARY,
                                                OpensslContext(), nullptr));
  if (!message) return Outcome::Fail(rc::kEncryptFailed);
  const int length = i2d_PKCS7(message.get(), nullptr);
  if (length <= 0 || !envelope->allocate(length)) return Outcome::Fail(rc::kEncryptFailed);
  unsigned char* out = envelope->data();
  if (i2d_PKCS7(message.get(), &out) != length) {
    envelope->clear();
    return Outcome::Fail(rc::kEncryptFailed);
  }
  return Outcome::Ok();
}

struct EnvelopeMessage::Parsed {
  OsslPtr<PKCS7> message;
};

EnvelopeMessage::EnvelopeMessage() = default;
EnvelopeMessage::~EnvelopeMessage() = default;
EnvelopeMessage::EnvelopeMessage(EnvelopeMessage&&) noexcept = default;
EnvelopeMessage& EnvelopeMessage::operator=(EnvelopeMessage&&) noexcept = default;

uint32_t EnvelopeMessage::Read(std::span<const uint8_t> der, EnvelopeMessage* out) {
  if (der.size() > kMaxEnvelopeBytes) return win32::kCryptEAsn1Large;
  const OpensslErrorScope errors;
  const unsigned char* at = der.data();
  auto parsed = std::make_unique<Parsed>();
  parsed->message.reset(d2i_PKCS7(nullptr, &at, static_cast<long>(der.size())));
  if (!parsed->message) return win32::kCryptEAsn1Badtag;
  if (OBJ_obj2nid(parsed->message->type) != NID_pkcs7_enveloped) {
    return win32::kCryptEInvalidMsgType;
  }
  const PKCS7_ENVELOPE* envelope = parsed->message->d.enveloped;
  if (envelope == nullptr || envelope->enc_data == nullptr ||
      envelope->enc_data->algorithm == nullptr || envelope->enc_data->enc_data == nullptr) {
    return win32::kNteBadData;
  }
  const int count = sk_PKCS7_RECIP_INFO_num(envelope->recipientinfo);
  if (count <= 0) return win32::kNteBadData;
  if (static_cast<size_t>(count) > kMaxRecipients) return win32::kCryptEAsn1Large;

  std::vector<EnvelopeRecipient> recipients;
  recipients.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const PKCS7_RECIP_INFO* info = sk_PKCS7_RECIP_INFO_value(envelope->recipientinfo, i);
    if (info == nullptr || info->issuer_and_serial == nullptr || info->enc_key == nullptr ||
        info->key_enc_algor == nullptr) {
      return win32::kNteBadData;
    }
    EnvelopeRecipient r;
    unsigned char* name = nullptr;
    const int nameLength = i2d_X509_NAME(info->issuer_and_serial->issuer, &name);
    if (nameLength <= 0) return win32::kNteBadData;
    r.issuer.assign(name, name + nameLength);
    OPENSSL_free(name);
    unsigned char* serial = nullptr;
    const int serialLength = i2d_ASN1_INTEGER(info->issuer_and_serial->serial, &serial);
    if (serialLength < 3) {
      OPENSSL_free(serial);
      return win32::kNteBadData;
    }
    // Past the tag and the (short or long form) length.
    const size_t header = serial[1] < 0x80 ? 2 : 2 + (serial[1] & 0x7F);
    r.serial = MinimalInteger(std::span<const uint8_t>(serial + header,
                                                       static_cast<size_t>(serialLength) - header));
    OPENSSL_free(serial);
    r.rsaKeyTransport = OBJ_obj2nid(info->key_enc_algor->algorithm) == NID_rsaEncryption;
    r.encryptedKey = std::span<const uint8_t>(ASN1_STRING_get0_data(info->enc_key),
                                              static_cast<size_t>(ASN1_STRING_length(info->enc_key)));
    recipients.push_back(std::move(r));
  }
  out->parsed_ = std::move(parsed);
  out->recipients_ = std::move(recipients);
  return 0;
}

uint32_t EnvelopeMessage::decrypt(const CertStore& store, ByteBuffer* content,
                                  std::shared_ptr<PlatformDatabase> keys) const {
  content->clear();
  if (!parsed_) return win32::kNteBadData;
  const OpensslErrorScope errors;
  const PKCS7_ENC_CONTENT* encrypted = parsed_->message->d.enveloped->enc_data;

  // The content cipher first: an envelope we cannot open needs no key.
  const int nid = OBJ_obj2nid(encrypted->algorithm->algorithm);
  if (std::find(std::begin(kReadable), std::end(kReadable), nid) == std::end(kReadable)) {
    return win32::kNteBadAlgid;
  }
  const OsslPtr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(OpensslContext(), OBJ_nid2sn(nid), nullptr));
  if (!cipher) return win32::kNteBadAlgid;
  const int ivLength = EVP_CIPHER_get_iv_length(cipher.get());
  uint8_t iv[EVP_MAX_IV_LENGTH] = {};
  if (ivLength < 0 || ivLength > EVP_MAX_IV_LENGTH ||
      (ivLength > 0 && !ReadIv(encrypted->algorithm, ivLength, iv))) {
    return win32::kNteBadData;
  }

  // The first recipient with a usable key in the store, and no other.
  std::vector<CertContext> certificates;
  if (store.valid()) {
    if (const uint32_t error = store.enumerate(&certificates)) return error;
  }
  std::vector<std::optional<Certificate>> parsedCertificates(certificates.size());
  for (size_t i = 0; i < certificates.size(); ++i) {
    Certificate c;
    if (Certificate::Parse(certificates[i].encoded(), &c) == 0) parsedCertificates[i] = std::move(c);
  }
  const EnvelopeRecipient* chosen = nullptr;
  RecipientKey key;
  for (const EnvelopeRecipient& r : recipients_) {
    for (size_t i = 0; i < certificates.size() && chosen == nullptr; ++i) {
      const std::optional<Certificate>& c = parsedCertificates[i];
      if (!c || !std::ranges::equal(c->issuer(), r.issuer) ||
          MinimalInteger(c->serialNumber()) != r.serial) {
        continue;
      }
      RecipientKey candidate;
      if (FindKey(certificates[i], keys, &candidate)) {
        key = std::move(candidate);
        chosen = &r;
      }
    }
    if (chosen != nullptr) break;
  }
  if (chosen == nullptr) return win32::kCryptENoDecryptCert;
  if (key.keySpec == kAtSignature || key.key->rsaKey() == nullptr) return win32::kNteBadKey;
  if (!chosen->rsaKeyTransport) return win32::kNteBadAlgid;

  const OsslPtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
  if (!ctx || EVP_CipherInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, 0, nullptr) <= 0) {
    return win32::kNteFail;
  }
  const int keyLength = EVP_CIPHER_CTX_get_key_length(ctx.get());
  if (keyLength <= 0 || keyLength > EVP_MAX_KEY_LENGTH) return win32::kNteFail;

  // Key transport, RSA PKCS #1 v1.5 (RFC 2315, 10.3). Whatever its outcome,
  // the content is decrypted next, under a random key when the unwrapping
  // failed, and both failures end in the same error.
  EVP_PKEY* rsa = key.key->rsaKey();
  std::vector<uint8_t> unwrapped(static_cast<size_t>(std::max(EVP_PKEY_get_size(rsa), keyLength)));
  size_t unwrappedLength = unwrapped.size();
  const OsslPtr<EVP_PKEY_CTX> keyContext(EVP_PKEY_CTX_new_from_pkey(OpensslContext(), rsa, nullptr));
  bool keyOk = keyContext && EVP_PKEY_decrypt_init(keyContext.get()) > 0 &&
               EVP_PKEY_CTX_set_rsa_padding(keyContext.get(), RSA_PKCS1_PADDING) > 0 &&
               EVP_PKEY_decrypt(keyContext.get(), unwrapped.data(), &unwrappedLength,
                                chosen->encryptedKey.data(), chosen->encryptedKey.size()) > 0;
  if (keyOk && unwrappedLength != static_cast<size_t>(keyLength)) {
    // RC4 takes the key length it is given; the block ciphers do not.
    keyOk = nid == NID_rc4 && unwrappedLength > 0 && unwrappedLength <= EVP_MAX_KEY_LENGTH &&
            EVP_CIPHER_CTX_set_key_length(ctx.get(), static_cast<int>(unwrappedLength)) > 0;
  }
  if (!keyOk) {
    unwrappedLength = static_cast<size_t>(keyLength);
    if (RAND_bytes_ex(OpensslContext(), unwrapped.data(), unwrappedLength, 0) <= 0) {
      OPENSSL_cleanse(unwrapped.data(), unwrapped.size());
      return win32::kNteFail;
    }
  }

  const ASN1_OCTET_STRING* data = encrypted->enc_data;
  const int dataLength = ASN1_STRING_length(data);
  std::vector<uint8_t> plain(static_cast<size_t>(dataLength) + EVP_MAX_BLOCK_LENGTH);
  int written = 0;
  int finalWritten = 0;
  const bool contentOk =
      EVP_CipherInit_ex2(ctx.get(), nullptr, unwrapped.data(), ivLength > 0 ? iv : nullptr, 0,
                         nullptr) > 0 &&
      EVP_CipherUpdate(ctx.get(), plain.data(), &written, ASN1_STRING_get0_data(data),
                       dataLength) > 0 &&
      EVP_CipherFinal_ex(ctx.get(), plain.data() + written, &finalWritten) > 0;
  OPENSSL_cleanse(unwrapped.data(), unwrapped.size());
  uint32_t result = 0;
  if (!keyOk || !contentOk) {
    result = win32::kNteBadData;
  } else if (written + finalWritten > 0 && !content->append(plain.data(), written + finalWritten)) {
    result = win32::kNteNoMemory;
  }
  OPENSSL_cleanse(plain.data(), plain.size());
  return result;
}

int32_t DecryptResultCode(uint32_t systemError) {
  switch (systemError) {
    case 0:
      return rc::kSuccess;
    case win32::kNteBadKey:
      return rc::kCertUsageMismatch;
    case win32::kNteBadAlgid:
    case win32::kCryptEInvalidMsgType:
      return rc::kBadPkcs7;
    case win32::kCryptENoDecryptCert:
      return rc::kNoDecryptCertificate;
    default:
      return rc::kDecryptFailed;
  }
}

}  // namespace quorvant
