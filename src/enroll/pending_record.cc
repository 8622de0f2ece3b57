#include "enroll/pending_record.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>

#include "base/result_codes.h"
#include "encoding/byte_order.h"
#include "encoding/code_page.h"
#include "host/registry/registry.h"
#include "platform/keys/crypto_provider_constants.h"

namespace quorvant {
namespace {

std::string Join(std::string_view path, std::string_view name) {
  std::string out(path);
  out += '\\';
  out += name;
  return out;
}

std::vector<uint8_t> DwordBytes(uint32_t value) {
  std::vector<uint8_t> out(4);
  StoreLe32(out.data(), value);
  return out;
}

std::optional<uint32_t> ReadDword(Registry& registry, const std::string& key,
                                  std::string_view name) {
  RegValue value;
  if (registry.queryValue(RegRoot::kCurrentUser, key, name, &value) != reg::kErrSuccess ||
      value.type != reg::kDword || value.data.size() != 4) {
    return std::nullopt;
  }
  return LoadLe32(value.data.data());
}

std::optional<std::vector<uint8_t>> ReadTyped(Registry& registry, const std::string& key,
                                              std::string_view name, uint32_t type) {
  RegValue value;
  if (registry.queryValue(RegRoot::kCurrentUser, key, name, &value) != reg::kErrSuccess ||
      value.type != type) {
    return std::nullopt;
  }
  return std::move(value.data);
}

}  // namespace

std::optional<std::string> RandomContainerName() {
  uint8_t b[16];
  size_t got = 0;
  while (got < sizeof b) {
    const ssize_t n = ::getrandom(b + got, sizeof b - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    got += static_cast<size_t>(n);
  }
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return std::string(text);
}

Outcome ProbeRegistryWritable(Registry* registry, std::string_view parent) {
  if (registry == nullptr) return Outcome::Fail(rc::kAccessDenied, reg::kErrAccessDenied);
  if (const uint32_t error = registry->createKey(RegRoot::kCurrentUser, parent)) {
    return Outcome::Fail(rc::kAccessDenied, error);
  }
  const std::optional<std::string> name = RandomContainerName();
  if (!name) return Outcome::Fail(rc::kAccessDenied, reg::kErrOutOfMemory);
  if (const uint32_t error = registry->setValue(RegRoot::kCurrentUser, parent, *name, reg::kDword,
                                                DwordBytes(0))) {
    return Outcome::Fail(rc::kAccessDenied, error);
  }
  if (const uint32_t error = registry->deleteValue(RegRoot::kCurrentUser, parent, *name)) {
    return Outcome::Fail(rc::kAccessDenied, error);
  }
  return Outcome::Ok();
}

std::vector<uint8_t> RegistryStringBytes(std::string_view narrow) {
  const std::u16string wide = ToInterfaceText(narrow);
  std::vector<uint8_t> out;
  out.reserve(wide.size() * 2);
  for (char16_t c : wide) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

std::string NarrowFromRegistryString(std::span<const uint8_t> bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;  // a terminator written by someone else
    wide.push_back(c);
  }
  return ToNarrow(wide);
}

Outcome WritePendingRecord(Registry& registry, std::string_view recordPath,
                           const PendingKeyRecord& record) {
  const std::string key = Join(recordPath, record.container);
  if (const uint32_t error = registry.createKey(RegRoot::kCurrentUser, key)) {
    return Outcome::Fail(kPendingRecordFailure, error);
  }
  struct Item {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  const Item items[] = {
      {"ProviderName", reg::kSz, RegistryStringBytes(record.providerName)},
      {"ProviderType", reg::kDword, DwordBytes(record.providerType)},
      {"KeySpec", reg::kDword, DwordBytes(record.keySpec)},
      {"PublicKey", reg::kBinary, record.publicKey},
      {"DateTime", reg::kSz, RegistryStringBytes(record.dateTime)},
      {"CommonName", reg::kSz, RegistryStringBytes(record.commonName)},
  };
  for (const Item& item : items) {
    if (const uint32_t error =
            registry.setValue(RegRoot::kCurrentUser, key, item.name, item.type, item.data)) {
      return Outcome::Fail(kPendingRecordFailure, error);
    }
  }
  return Outcome::Ok();
}

std::optional<PendingKeyRecord> ReadPendingRecord(Registry& registry, std::string_view recordPath,
                                                  const std::string& container) {
  const std::string key = Join(recordPath, container);
  PendingKeyRecord record;
  record.container = container;
  const auto providerType = ReadDword(registry, key, "ProviderType");
  const auto keySpec = ReadDword(registry, key, "KeySpec");
  auto publicKey = ReadTyped(registry, key, "PublicKey", reg::kBinary);
  const auto providerName = ReadTyped(registry, key, "ProviderName", reg::kSz);
  if (!providerType || (*providerType != kProvRsaFull && *providerType != kProvRsaAes)) {
    return std::nullopt;
  }
  if (!keySpec || (*keySpec != kAtKeyExchange && *keySpec != kAtSignature)) return std::nullopt;
  if (!publicKey || publicKey->size() <= 8 || (*publicKey)[0] != kPublickeyblob) {
    return std::nullopt;
  }
  if (!providerName) return std::nullopt;
  record.providerName = NarrowFromRegistryString(*providerName);
  if (record.providerName.empty() || record.providerName.size() > 255) return std::nullopt;
  record.providerType = *providerType;
  record.keySpec = *keySpec;
  record.publicKey = std::move(*publicKey);
  if (auto text = ReadTyped(registry, key, "DateTime", reg::kSz)) {
    record.dateTime = NarrowFromRegistryString(*text);
  }
  if (auto text = ReadTyped(registry, key, "CommonName", reg::kSz)) {
    record.commonName = NarrowFromRegistryString(*text);
  }
  return record;
}

}  // namespace quorvant
