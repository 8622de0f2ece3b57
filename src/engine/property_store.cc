// The engine's accessors over the cross-process property store. They leave
// errorCode and capiErrorCode alone and turn every failure into a neutral
// result.
#include <cstring>
#include <vector>

#include "base/win32_errors.h"
#include "engine/security_engine.h"
#include "host/shared_memory/shared_memory.h"

namespace quorvant {

cSharedMemory& SecurityEngine::ensurePropertyStore() {
  // Kept even when mapping failed: every operation on it then fails (4312).
  if (!propertyStore) {
    propertyStore = std::make_unique<cSharedMemory>(services.host.propertyStoreName,
                                                    cSharedMemory::kDefaultSize);
  }
  return *propertyStore;
}

int32_t SecurityEngine::GetIntProperty(std::string_view key) {
  if (!propertyStore) return -1;
  return propertyStore->GetIntValue(key, -1);
}

std::string SecurityEngine::GetStringProperty(std::string_view key) {
  if (!propertyStore) return std::string();
  uint32_t length = 0;
  if (!propertyStore->GetValue(key, nullptr, &length)) return std::string();
  // A zero-filled buffer of length + 2 read as a terminated narrow string.
  std::vector<char> buffer(size_t{length} + 2, '\0');
  if (!propertyStore->GetValue(key, buffer.data(), &length)) return std::string();
  return std::string(buffer.data());
}

bool SecurityEngine::GetBytesProperty(std::string_view key, ByteBuffer& out) {
  out.clear();
  if (!propertyStore) return false;
  uint32_t length = 0;
  if (!propertyStore->GetValue(key, nullptr, &length) || length == 0 ||
      length > static_cast<uint32_t>(INT32_MAX - 2) ||
      !out.allocate(static_cast<int32_t>(length))) {
    return false;
  }
  if (!propertyStore->GetValue(key, out.data(), &length)) {
    out.clear();
    return false;
  }
  return true;
}

void SecurityEngine::SetStringProperty(std::string_view key, std::string_view text) {
  cSharedMemory& store = ensurePropertyStore();
  if (store.KeyExists(key)) store.DeleteValue(key);
  if (!text.empty()) {
    store.AddValue(key, static_cast<uint32_t>(text.size()), text.data());
  }
}

void SecurityEngine::PublishSigner() {
  cSharedMemory& store = ensurePropertyStore();
  // Failures of single steps are ignored; the next step runs.
  if (store.KeyExists("signerMedia")) {
    store.SetIntValue("signerMedia", signerMedia);
  } else {
    store.AddIntValue("signerMedia", signerMedia);
  }
  // A certificate no longer than the one stored replaces it in place (the
  // stored length stays; readers take the DER and ignore the zeros after
  // it). A longer one cannot fit in place: rather than leave the previous
  // signer's certificate beside the new signer's thumbprint, its record is
  // replaced.
  const uint32_t length = static_cast<uint32_t>(signerCertBytes.size());
  if (store.KeyExists("signerCertBytes")) {
    // What the store answers for a value that does not fit in place.
    constexpr int32_t kLongerThanStored = static_cast<int32_t>(win32::kErrorNotEnoughMemory);
    if (!store.SetValue("signerCertBytes", signerCertBytes.data(), length) &&
        store.lastError() == kLongerThanStored && store.DeleteValue("signerCertBytes")) {
      store.AddValue("signerCertBytes", length, signerCertBytes.data());
    }
  } else {
    store.AddValue("signerCertBytes", length, signerCertBytes.data());
  }
  SetStringProperty("signerCertHash", signerCertHash);
  SetStringProperty("signerCertPasswd", signerCertPasswd);
  SetStringProperty("signerCertFilePath", signerCertFilePath);
  SetStringProperty("signerCertFileName", signerCertFileName);
}

}  // namespace quorvant
