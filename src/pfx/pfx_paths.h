// Names and folders of the PFX operations' files: the export file name, the
// rule that keeps a name inside its folder, and the folder an export writes
// into. Text is narrow, in the component's code page.
#ifndef QUORVANT_PFX_PFX_PATHS_H_
#define QUORVANT_PFX_PFX_PATHS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "base/outcome.h"

namespace quorvant {

// A name that stays one entry of the folder it is joined to: "/" and "\",
// control characters and DEL become "_", and a name of only dots (".",
// "..") or an empty one becomes `fallback` (itself made safe the same way,
// and "_" when that is empty too).
std::string SafeFileName(std::string_view name, std::string_view fallback);

// The export's file name: `defaultName` when set, with ".pfx" appended
// unless its lower-cased form already contains ".pfx"; otherwise the
// certificate's common name with ".pfx" (the serial number when the
// certificate has no common name). Either way made safe as a file name.
std::string ExportFileName(std::string_view defaultName, std::string_view commonName,
                           std::string_view serial);

// True when something exists at `path` (PathFileExists).
bool PathExists(std::string_view path);

// The folder an export writes to: an existing directory, or one level
// created (0700). 1001 with the system error when it names something that
// is not a directory or cannot be created.
[[nodiscard]] Outcome EnsureExportDirectory(std::string_view directory);

}  // namespace quorvant

#endif  // QUORVANT_PFX_PFX_PATHS_H_
