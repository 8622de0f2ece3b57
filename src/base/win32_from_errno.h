// The translation of POSIX errno values into the Win32 codes Windows would
// report for the same failure.
#ifndef QUORVANT_BASE_WIN32_FROM_ERRNO_H_
#define QUORVANT_BASE_WIN32_FROM_ERRNO_H_

#include <cstdint>

namespace quorvant {

// The Win32 error code that Windows reports for the failure that errno err
// describes on POSIX (ENOENT -> ERROR_FILE_NOT_FOUND, EACCES ->
// ERROR_ACCESS_DENIED, ...). 0 gives ERROR_SUCCESS; a value without a
// counterpart gives ERROR_GEN_FAILURE.
uint32_t Win32ErrorFromErrno(int err) noexcept;

}  // namespace quorvant

#endif  // QUORVANT_BASE_WIN32_FROM_ERRNO_H_
