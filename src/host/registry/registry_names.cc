#include "host/registry/registry_names.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>

#include "host/registry/registry.h"

namespace quorvant {

size_t Utf16Length(std::string_view utf8) {
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  int32_t length = static_cast<int32_t>(utf8.size());
  size_t units = 0;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    units += (c > 0xFFFF) ? 2 : 1;
  }
  return units;
}

std::string FoldName(std::string_view name) {
  const auto* s = reinterpret_cast<const uint8_t*>(name.data());
  int32_t length = static_cast<int32_t>(name.size());
  std::string out;
  out.reserve(name.size());
  for (int32_t i = 0; i < length;) {
    int32_t start = i;
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0 || c > 0xFFFF) {
      // Invalid bytes, and characters outside the BMP (which the registry's
      // per-unit upper-casing leaves alone), are compared as they are.
      out.append(name.substr(start, i - start));
      continue;
    }
    UChar32 upper = u_toupper(c);
    if (upper > 0xFFFF) upper = c;
    uint8_t buffer[U8_MAX_LENGTH];
    int32_t n = 0;
    U8_APPEND_UNSAFE(buffer, n, upper);
    out.append(reinterpret_cast<const char*>(buffer), n);
  }
  return out;
}

uint32_t SplitKeyPath(std::string_view path, std::vector<std::string>* out) {
  out->clear();
  if (path.empty()) return reg::kErrSuccess;
  if (path.find('\0') != std::string_view::npos) {
    return reg::kErrInvalidParameter;
  }
  if (path.front() == '\\') return reg::kErrBadPathname;
  // RegCreateKeyEx and RegOpenKeyEx accept one trailing separator.
  if (path.back() == '\\') path.remove_suffix(1);
  // Counted before anything is built, so a hostile path of a million levels
  // costs one scan, never a million rows under the write lock.
  if (static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) >= reg::kMaxKeyDepth) {
    return reg::kErrInvalidParameter;
  }
  while (true) {
    size_t cut = path.find('\\');
    std::string_view part = path.substr(0, cut);
    if (part.empty()) return reg::kErrBadPathname;
    if (Utf16Length(part) > reg::kMaxKeyNameUnits) {
      return reg::kErrInvalidParameter;
    }
    out->emplace_back(part);
    if (cut == std::string_view::npos) return reg::kErrSuccess;
    path.remove_prefix(cut + 1);
  }
}

uint32_t CheckValueName(std::string_view name) {
  if (name.find('\0') != std::string_view::npos ||
      Utf16Length(name) > reg::kMaxValueNameUnits) {
    return reg::kErrInvalidParameter;
  }
  return reg::kErrSuccess;
}

}  // namespace quorvant
