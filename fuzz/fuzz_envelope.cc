// The envelope reader over arbitrary bytes, then its opening with the key
// of a recipient that a memory store knows (so an envelope for that
// recipient reaches the key transport and the content decryption), and the
// reader of recipient lists: never a crash, and the answers are the ones
// the callers map.
//
// Seeds: `openssl cms -encrypt -binary` to the fuzz recipient with -des3,
// -aes256 and -des (legacy provider), one to it and a second certificate,
// an RC4 envelope written by `quorvant encrypt --to`, a certificate bundle
// (`openssl crl2pkcs7 -nocrl`), the recipient's certificate, a truncated
// envelope and plain text.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "base/openssl.h"
#include "base/win32_errors.h"
#include "crypt/envelope.h"
#include "envelope_fuzz_recipient.h"
#include "platform/stores/cert_store.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/keys/key_blob.h"

namespace {

using namespace quorvant;

// A memory store with the fuzz recipient, its key in a verification
// context (nothing on disk).
CertStore MakeRecipientStore() {
  CertStore store = CertStore::OpenMemory();
  const unsigned char* at = kFuzzRecipientKey;
  OsslPtr<EVP_PKEY> key(d2i_AutoPrivateKey(nullptr, &at, sizeof kFuzzRecipientKey));
  ByteBuffer blob;
  std::unique_ptr<ProviderContext> context;
  std::unique_ptr<CryptKey> imported;
  CertContext added;
  if (!key || EncodeRsaPrivateKeyBlob(key.get(), kCalgRsaKeyx, &blob) != 0 ||
      ProviderContext::Acquire({}, kMsEnhancedProv, kProvRsaFull, kCryptVerifycontext, &context) !=
          0 ||
      context->importKey(blob.bytes(), 0, &imported) != 0 ||
      store.addEncoded(std::span(kFuzzRecipientCert, sizeof kFuzzRecipientCert),
                       AddDisposition::kAlways, &added) != 0) {
    std::abort();
  }
  added.setKeyContext(CertKeyContext{std::shared_ptr<ProviderContext>(std::move(context)),
                                     kAtKeyExchange});
  return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const CertStore store = MakeRecipientStore();
  if (size > 65536) return 0;
  const std::span<const uint8_t> input(data, size);

  EnvelopeMessage message;
  if (EnvelopeMessage::Read(input, &message) == 0) {
    if (message.recipients().empty() || message.recipients().size() > kMaxRecipients) std::abort();
    ByteBuffer content;
    const uint32_t error = message.decrypt(store, &content);
    if (error != 0 && !content.empty()) std::abort();
    const int32_t code = DecryptResultCode(error);
    if ((error == 0) != (code == 0)) std::abort();
  }

  std::vector<ByteBuffer> certificates;
  const Outcome read = ReadRecipientList(input, &certificates);
  if (!read.ok() && !certificates.empty()) std::abort();
  if (certificates.size() > kMaxRecipients) std::abort();
  return 0;
}
