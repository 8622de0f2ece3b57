// Key path and name rules shared by every registry store (see registry.h).
#ifndef QUORVANT_HOST_REGISTRY_NAMES_H_
#define QUORVANT_HOST_REGISTRY_NAMES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvant {

// Splits a key path into its components. "" gives none (the root). Returns
// reg::kErrBadPathname for a leading '\' or an empty component,
// reg::kErrInvalidParameter for a NUL byte or a component longer than
// reg::kMaxKeyNameUnits. May throw std::bad_alloc.
uint32_t SplitKeyPath(std::string_view path, std::vector<std::string>* out);

// reg::kErrInvalidParameter for a value name with a NUL byte or longer than
// reg::kMaxValueNameUnits; 0 otherwise.
uint32_t CheckValueName(std::string_view name);

// The form names are compared in: every BMP code point of the UTF-8 text
// upper-cased with the simple Unicode mapping, as the registry upper-cases
// UTF-16 units. Bytes that are not valid UTF-8 are kept as they are.
std::string FoldName(std::string_view name);

// Length in UTF-16 code units; an invalid byte counts as one unit.
size_t Utf16Length(std::string_view utf8);

}  // namespace quorvant

#endif  // QUORVANT_HOST_REGISTRY_NAMES_H_
