// Removal of PEM-style armour (RFC 7468) from certificate text before the
// Base64 inside it is checked and decoded.
#ifndef QUORVANT_ENCODING_PEM_H_
#define QUORVANT_ENCODING_PEM_H_

#include <string>
#include <string_view>

namespace quorvant {

// When `text` begins with "-----", returns it without every occurrence of
// "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----",
// "-----BEGIN PKCS #7-----" and "-----END PKCS #7-----" (removed in that
// order), then without every LF and every CR. Nothing else is removed: other
// marker lines, spaces and tabs stay. Any other text is returned unchanged.
std::string StripPemArmour(std::string_view text);

}  // namespace quorvant

#endif  // QUORVANT_ENCODING_PEM_H_
