// Texts of the Windows system error messages, for the numbers this component
// reports in capiErrorCode, and (from base/) the translation of POSIX errno
// values into the Win32 codes Windows would report for the same failure.
//
// On Windows the message of a system error number comes from the system's
// message tables through FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM |
// FORMAT_MESSAGE_IGNORE_INSERTS) with language 0. Callers show and compare
// those texts byte for byte, so ours are the en-US texts exactly as that call
// returns them: every line ends in CR LF (including the last), insert markers
// such as "%1" stay literal, and the punctuation is whatever the system's
// table has (several CryptoAPI texts end without a period).
#ifndef QUORVANT_HOST_SYSTEM_MESSAGES_H_
#define QUORVANT_HOST_SYSTEM_MESSAGES_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Win32ErrorFromErrno, which the file reader below every subsystem uses too.
#include "base/win32_from_errno.h"

namespace quorvant {

struct SystemMessageEntry {
  uint32_t code;
  std::string_view text;  // static storage, CR LF terminated
};

// The message table, sorted by code. Exposed so that callers (and tests) can
// walk it; lookups go through SystemMessageView.
std::span<const SystemMessageEntry> SystemMessageTable() noexcept;

// The text FormatMessage gives for code, or an empty view for a number the
// system has no message for. An HRESULT of FACILITY_WIN32 (0x8007xxxx) gives
// the text of the Win32 code xxxx. The view points to static storage.
std::string_view SystemMessageView(uint32_t code) noexcept;

// SystemMessageView as an owned string. Empty for unknown codes, and empty if
// the copy cannot be allocated.
std::string SystemMessageText(uint32_t code) noexcept;

// The text as one line for a person to read: without its closing line break.
std::string_view SystemMessageLine(uint32_t code) noexcept;

// The message of a capiErrorCode as the engine reports it, in the engine's
// code page (950): 0 gives "成功(0)" (Big5 bytes A6 A8 A5 5C then "(0)");
// any other code gives SystemMessageText(code) followed by "(0x%08X)", so an
// unknown code gives the bare "(0x........)". Empty only if allocation fails.
std::string CapiErrorMessage(uint32_t code) noexcept;

}  // namespace quorvant

#endif  // QUORVANT_HOST_SYSTEM_MESSAGES_H_
