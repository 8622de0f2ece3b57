// The PFX test and password verification over arbitrary bytes, with the
// password the corpus files were made with ("fuzz"), the empty password and
// the NULL password: never a crash, and the two answers agree. No import:
// that would create key containers in the user's database.
//
// Seeds (a 512-bit RSA key and its self-signed certificate, to keep them
// small): `openssl pkcs12 -export -passout pass:fuzz` with its default
// algorithms, with -legacy, each with and without -nomac; an unprotected
// file (-keypbe NONE -certpbe NONE -nomac); Python cryptography's
// NoEncryption file (a MAC under the NULL password); a truncated file and
// plain text.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "base/win32_errors.h"
#include "platform/pkcs12/pkcs12.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvant;
  if (size > 65536) return 0;
  const std::span<const uint8_t> input(data, size);
  const bool isPfx = PfxIsPfxBlob(input);
  for (const char16_t* password :
       {static_cast<const char16_t*>(u"fuzz"), static_cast<const char16_t*>(u""),
        static_cast<const char16_t*>(nullptr)}) {
    uint32_t error = 0;
    const bool verified = PfxVerifyPassword(input, password, 0, &error);
    // Verified exactly when no error; a blob that is no PFX never verifies
    // and gives the decoding error.
    if (verified != (error == 0)) std::abort();
    if (!isPfx && (verified || error != win32::kCryptEBadEncode)) std::abort();
  }
  return 0;
}
