#include "host/system/system_info.h"

#include <cstdio>

namespace quorvant {

std::optional<std::string> MacAddressText(const std::vector<AdapterAddress>& adapters) {
  if (adapters.size() > kMaxAdapters) return std::nullopt;
  std::string text;
  for (size_t i = 0; i < adapters.size(); ++i) {
    const auto& b = adapters[i].bytes;
    char entry[18];
    std::snprintf(entry, sizeof(entry), "%02X-%02X-%02X-%02X-%02X-%02X", b[0], b[1], b[2],
                  b[3], b[4], b[5]);
    if (i > 0) text += '\n';
    text += entry;
  }
  return text;
}

std::u16string OsNameText(const OsVersionInfo* record, bool serverR2) {
  if (record == nullptr) return u"Windows 作業系統偵測錯誤!";
  const bool workstation = record->productType == kVerNtWorkstation;
  const uint32_t minor = record->minorVersion;
  switch (record->majorVersion) {
    case 4:
      if (minor == 0 && record->platformId == kVerPlatformWin32Nt) {
        return u"Microsoft Windows NT 4.0";
      }
      if (minor == 0 && record->platformId == kVerPlatformWin32Windows) {
        return u"Microsoft Windows 95";
      }
      if (minor == 10) return u"Microsoft Windows 98";
      if (minor == 90) return u"Microsoft Windows Me";
      return u"";
    case 5:
      if (minor == 0) return u"Microsoft Windows 2000";
      if (minor == 1) return u"Microsoft Windows XP";
      if (minor == 2) {
        if (workstation) return u"Microsoft Windows XP Professional x64 Edition";
        if (serverR2) return u"Microsoft Windows Server 2003 R2";
        return u"Microsoft Windows Server 2003";
      }
      return u"";
    case 6:
      if (minor == 0) {
        return workstation ? u"Microsoft Windows Vista" : u"Microsoft Windows Server 2008";
      }
      if (minor == 1) {
        return workstation ? u"Microsoft Windows 7" : u"Microsoft Windows Server 2008 R2";
      }
      if (minor == 2) {
        return workstation ? u"Microsoft Windows 8" : u"Microsoft Windows Server 2012";
      }
      return u"";
    default:
      return u"Windows 系統無法識別";
  }
}

}  // namespace quorvant
