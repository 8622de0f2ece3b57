// What the tool reads itself: files named on its command line and standard
// input. The same rules as the component's own reader: a path is opened
// without blocking and must be a regular file no larger than the limit of
// what it holds, checked on the descriptor before anything is allocated;
// standard input, which may be a pipe or a terminal, is read up to the same
// limit. A directory, device or FIFO is refused, never waited on.
#ifndef QUORVANT_TOOLS_INPUT_FILE_H_
#define QUORVANT_TOOLS_INPUT_FILE_H_

#include <cstddef>
#include <optional>
#include <string>

#include "base/file_limits.h"  // constants only

namespace quorvant::cli {

// Text the tool hands to an operation as one string (encrypt, decrypt,
// sign); it crosses the interface as UTF-16, twice its size.
inline constexpr size_t kTextInputMaxSize = size_t{16} << 20;

// The whole file at `path`, or standard input when there is no path. On
// failure nullopt, with the system's reason in *why ("Is a directory").
std::optional<std::string> ReadInput(const std::optional<std::string>& path, size_t limit,
                                     std::string* why);

// "quorvant: cannot read NAME: WHY" on standard error, then the result line
// of an unreadable file; the exit status.
int InputFailure(const std::optional<std::string>& path, const std::string& why);

}  // namespace quorvant::cli

#endif  // QUORVANT_TOOLS_INPUT_FILE_H_
