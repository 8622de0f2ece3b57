// StripPemArmour over arbitrary text, then Base64Decode of the result as
// certificate text is handled: never a crash; text not starting with five
// dashes is left alone; armoured text loses every line break and never
// grows.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoding/base64.h"
#include "encoding/pem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string stripped = quorvant::StripPemArmour(text);
  if (!text.starts_with("-----")) {
    if (stripped != text) std::abort();
  } else if (stripped.size() > text.size() ||
             stripped.find_first_of("\r\n") != std::string::npos) {
    std::abort();
  }
  quorvant::ByteBuffer der;
  (void)quorvant::Base64Decode(stripped.c_str(), der);
  return 0;
}
