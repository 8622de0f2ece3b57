// The machine as the engine reports it: adapter addresses and the OS name.
#ifndef QUORVANT_HOST_SYSTEM_INFO_H_
#define QUORVANT_HOST_SYSTEM_INFO_H_

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "host/system/services.h"

namespace quorvant {

// The adapter list has room for 16 records; a longer list cannot be read.
inline constexpr size_t kMaxAdapters = 16;

// "%02X-%02X-%02X-%02X-%02X-%02X" of the first six bytes of each address,
// whatever its length, joined by one line feed. Nothing when the list has
// more than kMaxAdapters entries.
std::optional<std::string> MacAddressText(const std::vector<AdapterAddress>& adapters);

// The OS name by major and minor version, platform and product type, as
// UTF-16 interface text: a name from the table, "Windows 系統無法識別" for an
// unknown major version, empty for an unknown combination inside a known
// one. `record` null means the version record could not be read.
std::u16string OsNameText(const OsVersionInfo* record, bool serverR2);

}  // namespace quorvant

#endif  // QUORVANT_HOST_SYSTEM_INFO_H_
