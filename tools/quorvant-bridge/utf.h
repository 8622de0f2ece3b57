// UTF-8 and UTF-16 for the host's own boundary: JSON is UTF-8, the
// component's interface UTF-16. The host links only the shared library, so
// it cannot borrow the engine's converters.
#ifndef QUORVANT_BRIDGE_UTF_H_
#define QUORVANT_BRIDGE_UTF_H_

#include <optional>
#include <string>
#include <string_view>

namespace quorvant::bridge {

// Nothing for ill-formed UTF-8 (overlong forms, surrogates, past U+10FFFF).
std::optional<std::u16string> Utf16FromUtf8(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf8FromUtf16(std::u16string_view utf16);

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_UTF_H_
