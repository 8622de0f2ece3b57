// How large a file of each kind may be before it is refused unread. The
// limits are far above what a sound file holds and far below what would hurt
// the process: a hostile or mistaken path (a disk image, /dev/zero) costs a
// stat, never its size in memory. Constants only, so the quorvant tool, which
// links none of the component's code, keeps the same limits.
#ifndef QUORVANT_BASE_FILE_LIMITS_H_
#define QUORVANT_BASE_FILE_LIMITS_H_

#include <cstddef>

namespace quorvant {

// One certificate, DER or PEM (a few kilobytes; a PEM bundle of a chain
// stays far below this).
inline constexpr size_t kCertificateFileMaxSize = size_t{1} << 20;

// An authority's reply: at most 1 MiB of DER is accepted, which as Base64
// with line breaks grows by more than a third.
inline constexpr size_t kReplyFileMaxSize = size_t{4} << 20;

// PKCS #12 files: kPfxMaxFileSize in platform/pkcs12.h (16 MiB). Dialog
// scripts: kMaxScriptBytes in dialogs/dialog_script.h. HashFile streams a
// regular file of any size.

}  // namespace quorvant

#endif  // QUORVANT_BASE_FILE_LIMITS_H_
