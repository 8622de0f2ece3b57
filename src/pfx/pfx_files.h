// File helpers of the PFX operations: whole-file read, write and delete, and
// the rule that joins a folder and a file name. Paths are narrow text in the
// component's code page; they reach the OS as UTF-8.
#ifndef QUORVANT_PFX_PFX_FILES_H_
#define QUORVANT_PFX_PFX_FILES_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "encoding/byte_buffer.h"

namespace quorvant {

// The folder, then "/" when the folder is longer than one character, then
// the name: the root "/" joins a name without a second separator, as a
// drive root did.
std::string JoinPfxPath(std::string_view folder, std::string_view name);

// Reads the whole file through RegularFile (base/file_reader.h): never
// blocks, and refuses a directory, device or FIFO unread. False (with a
// system error number) for an empty path, a file that cannot be opened or
// read, one that is not regular, an empty file, or one too large for a
// ByteBuffer or larger than `maxSize` (ERROR_FILE_TOO_LARGE, found before
// anything is read).
bool ReadWholeFile(std::string_view path, ByteBuffer* out, uint32_t* error, size_t maxSize);

// Writes the whole buffer to the file, readable and writable by its owner
// only. The data go to a temporary file beside the target, which is renamed
// over it once complete, so a failed write leaves an existing file exactly as
// it was.
bool WriteWholeFile(std::string_view path, const ByteBuffer& data, uint32_t* error);

// Replaces the file at `path` (a symbolic link is followed to the file it
// names) with `data` without ever destroying the old contents: the data go
// to a temporary file beside the target, are synced, read back and handed
// to `verify` (when given), and only when it accepts them does a rename put
// them in place. An existing file's permission bits are kept; a new file is
// readable and writable by its owner only. On any failure the old file is
// byte for byte as it was and no temporary file is left. `verify` returns
// 0 to accept or a system error number, which becomes *error.
using ReadBackCheck = std::function<uint32_t(const ByteBuffer& readBack)>;
bool ReplaceWholeFile(std::string_view path, const ByteBuffer& data, const ReadBackCheck& verify,
                      uint32_t* error);

// True when the path is not empty and the file was removed.
bool DeleteWholeFile(std::string_view path, uint32_t* error);

}  // namespace quorvant

#endif  // QUORVANT_PFX_PFX_FILES_H_
