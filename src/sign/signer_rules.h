// The small rules of signer selection and signing that need no platform:
// the comparison date, the thumbprint form, and the flags of the two
// signature operations.
#ifndef QUORVANT_SIGN_SIGNER_RULES_H_
#define QUORVANT_SIGN_SIGNER_RULES_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvant {

// A comparison date "YYYYMMDDhhmmss": exactly 14 decimal digits naming a
// calendar date and time, read as UTC (the certificates' own times are
// UTC). Seconds since 1970; nothing for any other text, for fields out of
// range, and for dates the calendar lacks (month 0, 31 April, 29 February
// of a common year).
std::optional<int64_t> ParseCompareDate(std::string_view text);

// 40 upper-case hex digits: the thumbprint form the component writes.
bool IsThumbprintText(std::string_view text);

// Bits of SignPkcs1's and SignPkcs7's dwFlags.
inline constexpr int32_t kSignPkcs1Base64 = 0x100;
inline constexpr int32_t kSignPkcs7NoCertificates = 0x100;
inline constexpr int32_t kSignPkcs7Chain = 0x200;
inline constexpr int32_t kSignPkcs7Detached = 0x400;
inline constexpr int32_t kSignAnsiText = 0x800;
inline constexpr int32_t kSignMd5 = 0x1000;
inline constexpr int32_t kSignPkcs1Sha1OfMd5 = 0x2000;
inline constexpr int32_t kSignPkcs7SigningTime = 0x2000;
inline constexpr int32_t kSignPkcs1ProviderOrder = 0x4000;
inline constexpr int32_t kSignConfirm = 0x8000;

// The most certificates a message carries from a chain.
inline constexpr size_t kMaxCarriedChain = 10;

}  // namespace quorvant

#endif  // QUORVANT_SIGN_SIGNER_RULES_H_
