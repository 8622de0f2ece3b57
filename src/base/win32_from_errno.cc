#include "base/win32_from_errno.h"

#include <cerrno>

#include "base/win32_errors.h"

namespace quorvant {

uint32_t Win32ErrorFromErrno(int err) noexcept {
  switch (err) {
    case 0:
      return win32::kErrorSuccess;
    case ENOENT:
      return win32::kErrorFileNotFound;
    case ENOTDIR:  // a component of the path is not a directory
      return win32::kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return win32::kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:  // CreateFile on a directory is refused as access denied
      return win32::kErrorAccessDenied;
    case EBADF:
      return win32::kErrorInvalidHandle;
    case ENOMEM:
      return win32::kErrorNotEnoughMemory;
    case EXDEV:
      return win32::kErrorNotSameDevice;
    case EROFS:
      return win32::kErrorWriteProtect;
    case ETXTBSY:
      return win32::kErrorSharingViolation;
    case EAGAIN:  // a lock that a non-blocking attempt could not take
      return win32::kErrorLockViolation;
    case ENOSYS:
    case ENOTSUP:
      return win32::kErrorNotSupported;
    case EEXIST:
      return win32::kErrorFileExists;
    case EINVAL:
      return win32::kErrorInvalidParameter;
    case EPIPE:
      return win32::kErrorBrokenPipe;
    case ENOSPC:
      return win32::kErrorDiskFull;
    case ENOTEMPTY:
      return win32::kErrorDirNotEmpty;
    case EBUSY:
      return win32::kErrorBusy;
    case ENAMETOOLONG:
      return win32::kErrorFilenameExcedRange;
    case EFBIG:
      return win32::kErrorFileTooLarge;
    case EOVERFLOW:
      return win32::kErrorArithmeticOverflow;
    case EINTR:
      return win32::kErrorOperationAborted;
    case EFAULT:
      return win32::kErrorNoaccess;
    case EIO:
      return win32::kErrorIoDevice;
    case ECANCELED:
      return win32::kErrorCancelled;
    case EDQUOT:
      return win32::kErrorDiskQuotaExceeded;
    case ETIMEDOUT:
      return win32::kErrorTimeout;
    default:
      return win32::kErrorGenFailure;
  }
}

}  // namespace quorvant
