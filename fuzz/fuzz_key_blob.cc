// Key blob parsers over arbitrary bytes: never a crash; a blob that parses
// writes back as the same bytes (reserved header bytes aside), and importing
// it into a provider context agrees with the parser.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "platform/keys/crypto_provider.h"
#include "platform/keys/key_blob.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvant;
  if (size > 4096) return 0;  // 16384-bit private blobs are 9236 bytes; smaller keys suffice
  const std::span<const uint8_t> input(data, size);

  // What the encoders would write: the input with its reserved bytes zero.
  auto sameAsInput = [&](const ByteBuffer& written) {
    if (static_cast<size_t>(written.size()) != size) return false;
    return std::memcmp(written.data(), data, 2) == 0 && written.data()[2] == 0 &&
           written.data()[3] == 0 && std::memcmp(written.data() + 4, data + 4, size - 4) == 0;
  };

  OsslPtr<EVP_PKEY> key;
  BlobHeader header;
  const uint32_t rsaError = ParseRsaKeyBlob(input, &key, &header);
  if ((rsaError == 0) != (key != nullptr)) std::abort();
  if (rsaError == 0) {
    ByteBuffer again;
    const uint32_t encoded = header.type == 7
                                 ? EncodeRsaPrivateKeyBlob(key.get(), header.algId, &again)
                                 : EncodeRsaPublicKeyBlob(key.get(), header.algId, &again);
    if (encoded != 0 || !sameAsInput(again)) std::abort();
  }

  uint32_t algId = 0;
  ByteBuffer symmetric;
  const uint32_t plainError = ParsePlaintextKeyBlob(input, &algId, &symmetric);
  if (plainError == 0) {
    ByteBuffer again;
    if (EncodePlaintextKeyBlob(algId, symmetric.bytes(), &again) != 0 || !sameAsInput(again)) {
      std::abort();
    }
  }

  static std::unique_ptr<ProviderContext> context = [] {
    std::unique_ptr<ProviderContext> ctx;
    if (ProviderContext::Acquire("", kMsEnhancedProv, kProvRsaFull, kCryptVerifycontext, &ctx) !=
        0) {
      std::abort();
    }
    return ctx;
  }();
  std::unique_ptr<CryptKey> imported;
  const uint32_t importError = context->importKey(input, kCryptExportable, &imported);
  const bool parsed = rsaError == 0 || plainError == 0;
  if ((importError == 0) != parsed || (importError == 0) != (imported != nullptr)) std::abort();
  if (imported) {
    ByteBuffer exported;
    const uint8_t type = size > 0 ? data[0] : 0;
    if (imported->exportKey(type, 0, &exported) != 0 || !sameAsInput(exported)) std::abort();
  }
  return 0;
}
