#include "pfx/pfx_paths.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "encoding/code_page.h"
#include "host/system/system_messages.h"

namespace quorvant {
namespace {

// Replaces what would let the name reach another folder or confuse a
// terminal. Multi-byte code-page characters are left alone: their bytes are
// all 0x40 or above, and a trail byte of "\" (0x5C) in Big5 stays with its
// lead byte.
std::string Sanitise(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    if (c >= 0x81 && c <= 0xFE && i + 1 < name.size()) {
      out.push_back(name[i]);
      const auto trail = static_cast<unsigned char>(name[i + 1]);
      // A lone "/" after a lead byte is no character of the code page.
      out.push_back(trail == '/' || trail < 0x20 ? '_' : name[i + 1]);
      ++i;
      continue;
    }
    out.push_back(c == '/' || c == '\\' || c < 0x20 || c == 0x7F ? '_' : name[i]);
  }
  if (std::all_of(out.begin(), out.end(), [](char c) { return c == '.'; })) out.clear();
  return out;
}

}  // namespace

std::string SafeFileName(std::string_view name, std::string_view fallback) {
  std::string safe = Sanitise(name);
  if (safe.empty()) safe = Sanitise(fallback);
  if (safe.empty()) safe.assign(1, '_');
  return safe;
}

std::string ExportFileName(std::string_view defaultName, std::string_view commonName,
                           std::string_view serial) {
  std::string fallback(serial);
  fallback.append(".pfx");
  if (!defaultName.empty()) {
    std::string name(defaultName);
    std::string lower(defaultName);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    if (lower.find(".pfx") == std::string::npos) name.append(".pfx");
    return SafeFileName(name, fallback);
  }
  std::string name = SafeFileName(commonName, serial);
  name.append(".pfx");
  return name;
}

bool PathExists(std::string_view path) {
  if (path.empty()) return false;
  struct stat st{};
  return ::stat(OsPathFromNarrow(path).c_str(), &st) == 0;
}

Outcome EnsureExportDirectory(std::string_view directory) {
  const std::string osPath = OsPathFromNarrow(directory);
  if (osPath.empty()) return Outcome::Fail(rc::kCannotCreateDirectory, win32::kErrorPathNotFound);
  struct stat st{};
  if (::stat(osPath.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Outcome::Ok();
    return Outcome::Fail(rc::kCannotCreateDirectory, win32::kErrorAlreadyExists);
  }
  if (::mkdir(osPath.c_str(), 0700) != 0) {
    return Outcome::Fail(rc::kCannotCreateDirectory, Win32ErrorFromErrno(errno));
  }
  return Outcome::Ok();
}

}  // namespace quorvant
