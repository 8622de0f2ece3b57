// Key provider information (the platform's CRYPT_KEY_PROV_INFO): where the
// private key of a certificate lives. Kept as a certificate property and
// used to find the key again.
#ifndef QUORVANT_PLATFORM_KEY_PROVIDER_INFO_H_
#define QUORVANT_PLATFORM_KEY_PROVIDER_INFO_H_

#include <cstdint>
#include <string>

namespace quorvant {

inline constexpr uint32_t kAtKeyExchange = 1;  // AT_KEYEXCHANGE
inline constexpr uint32_t kAtSignature = 2;    // AT_SIGNATURE

struct KeyProviderInfo {
  std::u16string containerName;
  std::u16string providerName;
  uint32_t providerType = 0;
  uint32_t flags = 0;
  uint32_t keySpec = 0;

  bool operator==(const KeyProviderInfo&) const = default;
};

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_KEY_PROVIDER_INFO_H_
