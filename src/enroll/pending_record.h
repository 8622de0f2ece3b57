// Pending-key records: one registry key per generated key pair under
// HKEY_CURRENT_USER\Software\MORL\QuorvantATL\<container name>, the only link
// between a request and the reply that answers it.
//
//   "ProviderName"  REG_SZ     the provider, no terminator
//   "ProviderType"  REG_DWORD  1 or 24
//   "KeySpec"       REG_DWORD  1 (AT_KEYEXCHANGE) or 2 (AT_SIGNATURE)
//   "PublicKey"     REG_BINARY the key's PUBLICKEYBLOB
//   "DateTime"      REG_SZ     "%4d/%02d/%02d %02d:%02d:%02d", local time
//   "CommonName"    REG_SZ     the request's common name in the code page
//
// Strings are kept as the registry keeps them, in UTF-16 (registry.h).
#ifndef QUORVANT_ENROLL_PENDING_RECORD_H_
#define QUORVANT_ENROLL_PENDING_RECORD_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"

namespace quorvant {

class Registry;

inline constexpr char kRecordParentPath[] = "Software\\MORL";
inline constexpr char kRecordPath[] = "Software\\MORL\\QuorvantATL";

// The code the component has always left when a key's public half cannot be
// exported or its record cannot be made; it has no message of its own.
inline constexpr int32_t kPendingRecordFailure = 5;

struct PendingKeyRecord {
  std::string container;     // the registry key's name
  std::string providerName;  // narrow, code page
  uint32_t providerType = 0;
  uint32_t keySpec = 0;
  std::vector<uint8_t> publicKey;  // PUBLICKEYBLOB
  std::string dateTime;
  std::string commonName;  // narrow, code page
};

// 36 characters: 16 bytes from the system's random source as upper-case hex
// in groups of 8-4-4-4-12 digits. Nothing when the source fails.
std::optional<std::string> RandomContainerName();

// RegCreateKey of `parent`, then a DWORD value of a random name set and
// deleted again: the user's registry can be written. 5906 with the
// registry's error otherwise.
Outcome ProbeRegistryWritable(Registry* registry, std::string_view parent = kRecordParentPath);

// Creates the record's key and writes its six values in the order above.
// Code 5 with the registry's error when the key or any value cannot be
// written (the caller removes what was made).
Outcome WritePendingRecord(Registry& registry, std::string_view recordPath,
                           const PendingKeyRecord& record);

// The record of one container, with every value checked: the types above,
// a PUBLICKEYBLOB of at least its header, ProviderType 1 or 24, KeySpec 1
// or 2, a provider name of at most 255 bytes. Nothing for a record that is
// missing or does not pass.
std::optional<PendingKeyRecord> ReadPendingRecord(Registry& registry, std::string_view recordPath,
                                                  const std::string& container);

// The registry's UTF-16 string bytes for narrow text, and back.
std::vector<uint8_t> RegistryStringBytes(std::string_view narrow);
std::string NarrowFromRegistryString(std::span<const uint8_t> bytes);

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_PENDING_RECORD_H_
