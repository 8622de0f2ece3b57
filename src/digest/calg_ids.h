// CryptoAPI algorithm identifiers (ALG_ID) of the block ciphers this
// component uses. Shared by DesCipher and the provider-backed cipher so the
// two read an algorithm field the same way.
#ifndef QUORVANT_DIGEST_CALG_IDS_H_
#define QUORVANT_DIGEST_CALG_IDS_H_

#include <cstdint>

namespace quorvant {

inline constexpr int32_t CALG_DES = 0x6601;
inline constexpr int32_t CALG_3DES = 0x6603;      // three independent keys
inline constexpr int32_t CALG_3DES_112 = 0x6609;  // two keys, K3 = K1

}  // namespace quorvant

#endif  // QUORVANT_DIGEST_CALG_IDS_H_
