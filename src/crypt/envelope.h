// PKCS #7 (RFC 2315) enveloped data for certificate recipients: the list of
// recipients a caller gives (one certificate or a certificate bundle), the
// envelope the component writes, and its opening with a private key found
// through a certificate store.
//
// The envelope written is the platform's: EnvelopedData version 0, one
// KeyTransRecipientInfo per recipient named by issuer and serial number,
// RSA PKCS #1 v1.5 key transport (rsaEncryption with NULL parameters), inner
// content type data, the content-encryption algorithm with its IV as the
// parameters (RC4 has none), and the content bytes exactly as given (never
// turned into canonical text).
#ifndef QUORVANT_CRYPT_ENVELOPE_H_
#define QUORVANT_CRYPT_ENVELOPE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/outcome.h"
#include "encoding/byte_buffer.h"
#include "platform/stores/cert_store.h"

namespace quorvant {

enum class ContentCipher { kTripleDes, kDes, kRc4 };

// iAlgorithm 1 is DES-CBC, 2 is RC4, anything else DES-EDE3-CBC.
ContentCipher ContentCipherFromAlgorithm(int32_t iAlgorithm);
// The algorithm's object identifier in dotted form.
const char* ContentCipherOid(ContentCipher cipher);

// Hostile input is refused before any parsing or key work beyond counting.
inline constexpr size_t kMaxEnvelopeBytes = 64u << 20;
inline constexpr size_t kMaxRecipients = 256;

// The recipients in `der`: the certificates of a PKCS #7 message's
// certificate set (those that parse), or `der` itself when it is one
// certificate. 5040 when it is neither, when the message type has no
// certificate set (the system error then says why), when the set is empty,
// or when it holds more than kMaxRecipients certificates.
Outcome ReadRecipientList(std::span<const uint8_t> der, std::vector<ByteBuffer>* certificates);

// The envelope of `content` for every certificate of `recipients` that
// parses, each encoding once, in their order. 5040 when none is left, 9004
// when the envelope cannot be built (a key that is not RSA, no random
// numbers, no cipher).
Outcome BuildEnvelope(std::span<const uint8_t> content, const std::vector<ByteBuffer>& recipients,
                      ContentCipher cipher, ByteBuffer* envelope);

// One recipient of an envelope that was read.
struct EnvelopeRecipient {
  std::vector<uint8_t> issuer;  // the encoded Name
  std::vector<uint8_t> serial;  // INTEGER content octets, minimal form
  bool rsaKeyTransport = false;
  std::span<const uint8_t> encryptedKey;  // into the envelope's storage
};

// An envelope checked for its structure and limits; it holds the parse.
class EnvelopeMessage {
 public:
  EnvelopeMessage();
  ~EnvelopeMessage();
  EnvelopeMessage(EnvelopeMessage&&) noexcept;
  EnvelopeMessage& operator=(EnvelopeMessage&&) noexcept;

  // 0, CRYPT_E_ASN1_LARGE (over kMaxEnvelopeBytes or kMaxRecipients),
  // CRYPT_E_ASN1_BADTAG (not a PKCS #7 message), CRYPT_E_INVALID_MSG_TYPE
  // (a message of another type), NTE_BAD_DATA (no encrypted content, or no
  // recipient).
  [[nodiscard]] static uint32_t Read(std::span<const uint8_t> der, EnvelopeMessage* out);

  const std::vector<EnvelopeRecipient>& recipients() const { return recipients_; }

  // Opens the envelope with the private key of the first recipient that
  // has a certificate with a usable key in `store`; only that recipient's
  // key is ever tried. Returns 0 with the content in *content, or
  // CRYPT_E_NO_DECRYPT_CERT (no such recipient), NTE_BAD_KEY (the key
  // there is a signature key), NTE_BAD_ALGID (a content or key-transport
  // algorithm not offered) or NTE_BAD_DATA. A key that does not unwrap and
  // content whose padding is wrong give the same NTE_BAD_DATA after the
  // same work, so a caller learns nothing about the key transport.
  // `keys`: the key database the certificates' containers live in (a PFX
  // file's own, in memory); the user's when null.
  [[nodiscard]] uint32_t decrypt(const CertStore& store, ByteBuffer* content,
                                 std::shared_ptr<PlatformDatabase> keys = nullptr) const;

 private:
  struct Parsed;
  std::unique_ptr<Parsed> parsed_;
  std::vector<EnvelopeRecipient> recipients_;
};

// CryptDecryptMessage's system error as the result code of envelope
// decryption.
int32_t DecryptResultCode(uint32_t systemError);

}  // namespace quorvant

#endif  // QUORVANT_CRYPT_ENVELOPE_H_
