// Base64Decode over arbitrary text: it must never crash, must agree byte for
// byte with the plain reference reader, and must read back what
// Base64Encode writes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encoding/base64.h"
#include "encoding/base64_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using quorvant::ByteBuffer;
  if (size > (1u << 20)) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);

  ByteBuffer out;
  const bool ok = quorvant::Base64Decode(text.c_str(), out);
  std::vector<uint8_t> expected;
  const bool expectedOk = quorvant::test_support::ReferenceBase64Decode(text.c_str(), expected);
  if (ok != expectedOk || out.size() != static_cast<int32_t>(expected.size()) ||
      (!expected.empty() && std::memcmp(out.data(), expected.data(), expected.size()) != 0)) {
    std::abort();
  }
  // The content is always followed by two zero bytes, even when empty.
  const uint8_t* terminated = out.bytes().data();
  if (terminated[out.size()] != 0 || terminated[out.size() + 1] != 0) std::abort();

  if (size > 0) {
    ByteBuffer encoded;
    ByteBuffer decoded;
    if (!quorvant::Base64Encode(data, static_cast<int32_t>(size), encoded) ||
        !quorvant::Base64Decode(encoded.c_str(), decoded) ||
        decoded.size() != static_cast<int32_t>(size) ||
        std::memcmp(decoded.data(), data, size) != 0) {
      std::abort();
    }
  }
  return 0;
}
