// System information and registry access: the adapters' hardware addresses,
// the OS name, the home folder (computed at construction) and simple values
// under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
#include <cstdio>
#include <cstring>

#include "encoding/code_page.h"
#include "base/result_codes.h"
#include "engine/security_engine.h"
#include "host/registry/registry.h"
#include "host/system/system_info.h"

namespace quorvant {
namespace {

// RegQueryValueExA reads a string into a buffer of this many bytes.
constexpr size_t kRegistryStringBuffer = 255;

std::vector<uint8_t> Utf16LeBytes(std::u16string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

std::u16string FromUtf16LeBytes(const std::vector<uint8_t>& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
  }
  return text;
}

}  // namespace

// Key path and value name of a registry name argument, as the store wants
// them (UTF-8).
struct SecurityEngine::RegistryName {
  std::string keyPath;
  std::string valueName;
};

Text SecurityEngine::GetMacAddress() {
  clearCodes();
  if (refuseInProtectedMode()) return Text();
  std::vector<AdapterAddress> adapters;
  std::optional<std::string> text;
  if (services.host.adapters && services.host.adapters->list(&adapters)) {
    text = MacAddressText(adapters);
  }
  if (!text) {
    errorCode = rc::kGeneralError;
    return Text();
  }
  return ToInterfaceText(*text);
}

Text SecurityEngine::GetOSName() {
  OsVersionInfo record;
  const bool readable = services.host.osVersion && services.host.osVersion->read(&record);
  const bool serverR2 = readable && services.host.osVersion->isServerR2();
  return OsNameText(readable ? &record : nullptr, serverR2);
}

// The name is taken as narrow text, as the platform's ANSI registry calls
// take it; the split at the last backslash is made on characters, not bytes,
// so a Big5 character whose second byte is 0x5C (功, 許, 蓋 ...) is never cut
// in two.
bool SecurityEngine::parseRegistryName(TextArg strName, RegistryName* out) {
  const std::u16string name = ToInterfaceText(ToNarrow(strName));
  const size_t split = name.rfind(u'\\');
  if (name.empty() || split == std::u16string::npos) {
    errorCode = rc::kBadArgument;
    return false;
  }
  if (refuseInProtectedMode()) return false;
  out->keyPath = Utf8FromWide(std::u16string_view(name).substr(0, split));
  out->valueName = Utf8FromWide(std::u16string_view(name).substr(split + 1));
  return true;
}

int32_t SecurityEngine::RegWriteHKCUInt(TextArg strName, int32_t dw) {
  errorCode = 0;  // capiErrorCode keeps its value
  RegistryName name;
  if (!parseRegistryName(strName, &name)) return errorCode;
  Registry* registry = services.host.registry.get();
  uint8_t data[4];
  std::memcpy(data, &dw, sizeof(data));  // REG_DWORD is little-endian
  if (registry == nullptr ||
      registry->createKey(RegRoot::kCurrentUser, name.keyPath) != reg::kErrSuccess ||
      registry->setValue(RegRoot::kCurrentUser, name.keyPath, name.valueName, reg::kDword,
                         data) != reg::kErrSuccess) {
    errorCode = rc::kAccessDenied;
  }
  return errorCode;
}

int32_t SecurityEngine::RegWriteHKCUStr(TextArg strName, TextArg str) {
  errorCode = 0;
  RegistryName name;
  if (!parseRegistryName(strName, &name)) return errorCode;
  Registry* registry = services.host.registry.get();
  // The ANSI bytes of the text, exactly its length, no terminator; kept as
  // the registry keeps strings, in UTF-16.
  const std::vector<uint8_t> data = Utf16LeBytes(ToInterfaceText(ToNarrow(str)));
  if (registry == nullptr ||
      registry->createKey(RegRoot::kCurrentUser, name.keyPath) != reg::kErrSuccess ||
      registry->setValue(RegRoot::kCurrentUser, name.keyPath, name.valueName, reg::kSz,
                         data) != reg::kErrSuccess) {
    errorCode = rc::kAccessDenied;
  }
  return errorCode;
}

Text SecurityEngine::RegReadHKCU(TextArg strName) {
  return readRegistryValue(static_cast<int>(RegRoot::kCurrentUser), strName);
}

Text SecurityEngine::RegReadHKLM(TextArg strName) {
  return readRegistryValue(static_cast<int>(RegRoot::kLocalMachine), strName);
}

Text SecurityEngine::readRegistryValue(int rootIndex, TextArg strName) {
  errorCode = 0;
  RegistryName name;
  if (!parseRegistryName(strName, &name)) return Text();
  const auto root = static_cast<RegRoot>(rootIndex);
  Registry* registry = services.host.registry.get();
  if (registry == nullptr || registry->keyExists(root, name.keyPath) != reg::kErrSuccess) {
    errorCode = rc::kAccessDenied;
    return Text();
  }
  RegValue value;
  // A missing value, a value too long for the buffer and a value of another
  // type all read as empty text with code 0.
  if (registry->queryValue(root, name.keyPath, name.valueName, &value) != reg::kErrSuccess) {
    return Text();
  }
  if (value.type == reg::kSz) {
    std::string narrow = ToNarrow(FromUtf16LeBytes(value.data));
    if (narrow.size() > kRegistryStringBuffer) return Text();
    return ToInterfaceText(narrow.c_str());  // up to the first zero byte
  }
  if (value.type == reg::kDword && value.data.size() <= 4) {
    uint8_t bytes[4] = {0, 0, 0, 0};
    std::memcpy(bytes, value.data.data(), value.data.size());
    int32_t number = 0;
    std::memcpy(&number, bytes, sizeof(number));
    char text[16];
    std::snprintf(text, sizeof(text), "%d", number);
    return ToInterfaceText(text);
  }
  return Text();
}

}  // namespace quorvant
