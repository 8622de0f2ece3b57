#include "base/automation_string.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace quorvant {
namespace {

// The length prefix sits in the last four bytes of an 8-byte header, so the
// characters start 8-aligned as the platform's allocator gives them.
constexpr size_t kHeaderSize = 8;
constexpr size_t kPrefixOffset = 4;

uint8_t* BlockOf(BSTR text) { return reinterpret_cast<uint8_t*>(text) - kHeaderSize; }

}  // namespace

BSTR AllocateAutomationString(const OLECHAR* source, uint32_t length) {
  // The byte length must fit the 32-bit prefix.
  if (length > (std::numeric_limits<uint32_t>::max() - kHeaderSize - 2) / 2) return nullptr;
  const size_t bytes = size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<uint8_t*>(std::malloc(kHeaderSize + bytes + sizeof(OLECHAR)));
  if (block == nullptr) return nullptr;
  const uint32_t prefix = static_cast<uint32_t>(bytes);
  std::memset(block, 0, kPrefixOffset);
  std::memcpy(block + kPrefixOffset, &prefix, sizeof(prefix));
  auto* chars = reinterpret_cast<OLECHAR*>(block + kHeaderSize);
  if (source != nullptr) {
    std::memcpy(chars, source, bytes);
  } else {
    std::memset(chars, 0, bytes);
  }
  chars[length] = 0;
  return chars;
}

BSTR MakeAutomationString(std::u16string_view text) {
  if (text.size() > std::numeric_limits<uint32_t>::max()) return nullptr;
  return AllocateAutomationString(text.data(), static_cast<uint32_t>(text.size()));
}

uint32_t AutomationStringLength(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, BlockOf(text) + kPrefixOffset, sizeof(bytes));
  return bytes / sizeof(OLECHAR);
}

void FreeAutomationString(BSTR text) {
  if (text != nullptr) std::free(BlockOf(text));
}

std::u16string_view ArgumentText(const OLECHAR* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

}  // namespace quorvant

