// Calling any flat export by name with arguments parsed from the command
// line, typed by the export's own declaration in QuorvantATL.h.
#ifndef QUORVANT_TOOLS_EXPORT_CALLS_H_
#define QUORVANT_TOOLS_EXPORT_CALLS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvant::cli {

struct CallOutcome {
  bool textResult = false;
  std::string text;      // UTF-8, for exports that return a string
  int32_t value = 0;     // for exports that return an integer
};

struct ExportInfo {
  std::string_view name;
  std::string signature;  // e.g. "text (text, int)"
};

const std::vector<ExportInfo>& ExportList();

// Calls the export `name` with `args` (strings as given, integers in decimal
// or 0x hex). Returns nothing and sets *problem when the name is unknown or
// the arguments do not fit the signature.
std::optional<CallOutcome> CallExport(std::string_view name,
                                      const std::vector<std::string>& args,
                                      std::string* problem);

// Parses a 32-bit integer: decimal (with sign) or 0x hex up to 0xFFFFFFFF.
std::optional<int32_t> ParseInt32(std::string_view text);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_EXPORT_CALLS_H_
