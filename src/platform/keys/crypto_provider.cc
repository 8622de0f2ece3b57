#include "platform/keys/crypto_provider.h"

#include <openssl/err.h>
#include <pwd.h>
#include <unistd.h>

#include <new>
#include <vector>

#include "encoding/code_page.h"
#include "base/win32_errors.h"
#include "platform/keys/key_blob.h"
#include "platform/keys/symmetric_key.h"

namespace quorvant {
namespace {

// In the platform's enumeration order, which is by name.
constexpr CryptoProviderInfo kProviders[] = {
    {kMsDefProv, kProvRsaFull, 512, false, false},
    {kMsEnhancedProv, kProvRsaFull, 1024, true, false},
    {kMsEnhRsaAesProv, kProvRsaAes, 1024, true, true},
    {kMsStrongProv, kProvRsaFull, 1024, true, false},
};

constexpr uint32_t kMaxProviderType = 999;
// MAX_PATH: the longest container name the platform takes.
constexpr size_t kMaxContainerName = 260;
constexpr uint32_t kKnownAcquireFlags =
    kCryptVerifycontext | kCryptNewkeyset | kCryptDeletekeyset | kCryptMachineKeyset | kCryptSilent;
constexpr uint32_t kKeyFlags = kCryptExportable | kCryptUserProtected | kCryptArchivable;
constexpr uint32_t kImportFlags = kCryptExportable | kCryptUserProtected;

// The default container is named after the user, as on the platform.
std::string DefaultContainerName() {
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name && found->pw_name[0] != '\0') {
    return found->pw_name;
  }
  return "uid" + std::to_string(geteuid());
}

// AT_KEYEXCHANGE / AT_SIGNATURE for a key pair algorithm or key spec; 0 for
// anything else.
uint32_t KeySpecOf(uint32_t algIdOrSpec) {
  if (algIdOrSpec == kAtKeyExchange || algIdOrSpec == kCalgRsaKeyx) return kAtKeyExchange;
  if (algIdOrSpec == kAtSignature || algIdOrSpec == kCalgRsaSign) return kAtSignature;
  return 0;
}

uint32_t AlgorithmOf(uint32_t keySpec) {
  return keySpec == kAtSignature ? kCalgRsaSign : kCalgRsaKeyx;
}

bool ValidKeySpec(uint32_t keySpec) { return keySpec == kAtKeyExchange || keySpec == kAtSignature; }

}  // namespace

std::span<const CryptoProviderInfo> CryptoProviders::All() { return kProviders; }

uint32_t CryptoProviders::Enumerate(uint32_t index, const CryptoProviderInfo** out) {
  *out = nullptr;
  if (index >= std::size(kProviders)) return win32::kErrorNoMoreItems;
  *out = &kProviders[index];
  return 0;
}

const CryptoProviderInfo* CryptoProviders::Find(std::string_view name) {
  for (const CryptoProviderInfo& provider : kProviders) {
    if (provider.name == name) return &provider;
  }
  return nullptr;
}

uint32_t CryptoProviders::Resolve(std::string_view name, uint32_t type,
                                  const CryptoProviderInfo** out) {
  *out = nullptr;
  if (type == 0 || type > kMaxProviderType) return win32::kNteBadProvType;
  if (name.empty()) {
    if (type == kProvRsaFull) name = kMsStrongProv;
    if (type == kProvRsaAes) name = kMsEnhRsaAesProv;
    if (name.empty()) return win32::kNteProvTypeNotDef;
  }
  const CryptoProviderInfo* provider = Find(name);
  if (provider == nullptr) return win32::kNteKeysetNotDef;
  if (provider->type != type) return win32::kNteProvTypeNoMatch;
  *out = provider;
  return 0;
}

uint32_t ProviderContext::Acquire(std::string_view container, std::string_view providerName,
                                  uint32_t providerType, uint32_t flags,
                                  std::unique_ptr<ProviderContext>* out,
                                  std::shared_ptr<PlatformDatabase> db) {
  out->reset();
  std::u16string wide;
  if (!container.empty() && !WideFromNarrow(container, &wide)) return win32::kNteNoMemory;
  return AcquireUtf8(Utf8FromWide(wide), providerName, providerType, flags, out, std::move(db));
}

uint32_t ProviderContext::AcquireUtf8(std::string_view container, std::string_view providerName,
                                      uint32_t providerType, uint32_t flags,
                                      std::unique_ptr<ProviderContext>* out,
                                      std::shared_ptr<PlatformDatabase> db) {
  out->reset();
  const bool verify = (flags & kCryptVerifycontext) != 0;
  const uint32_t action = flags & (kCryptNewkeyset | kCryptDeletekeyset);
  if ((flags & ~kKnownAcquireFlags) != 0 || (flags & kCryptMachineKeyset) != 0 ||
      (verify && (flags & kCryptVerifycontext) != kCryptVerifycontext) ||
      action == (kCryptNewkeyset | kCryptDeletekeyset) ||
      (verify && (action != 0 || !container.empty()))) {
    return win32::kNteBadFlags;
  }
  if (container.size() > kMaxContainerName || container.find('\0') != std::string_view::npos) {
    return win32::kNteBadKeysetParam;
  }
  const CryptoProviderInfo* provider = nullptr;
  if (const uint32_t error = CryptoProviders::Resolve(providerName, providerType, &provider)) {
    return error;
  }
  const bool silent = (flags & kCryptSilent) != 0;
  try {
    if (verify) {
      *out = std::make_unique<ProviderContext>(ConstructionToken(), *provider, std::string(), 0,
                                               silent, nullptr);
      return 0;
    }
    if (!db) {
      uint32_t openError = 0;
      db = PlatformDatabase::Open(PlatformDatabase::DefaultPath(), &openError);
      if (!db) return openError == win32::kErrorAccessDenied ? win32::kNtePerm : win32::kNteFail;
    }
    auto store = std::make_unique<KeyContainerStore>(std::move(db));
    if (const uint32_t error = store->prepare()) return error;

    const std::string name = container.empty() ? DefaultContainerName() : std::string(container);
    if (action == kCryptDeletekeyset) return store->remove(name);
    KeyContainerStore::Container found;
    const uint32_t error = action == kCryptNewkeyset ? store->create(name, provider->name, &found)
                                                     : store->open(name, &found);
    if (error != 0) return error;
    *out = std::make_unique<ProviderContext>(ConstructionToken(), *provider, std::move(found.name),
                                             found.id, silent, std::move(store));
  } catch (const std::bad_alloc&) {
    return win32::kNteNoMemory;
  }
  return 0;
}

ProviderContext::ProviderContext(ConstructionToken, const CryptoProviderInfo& provider,
                                 std::string container, int64_t containerId, bool silent,
                                 std::unique_ptr<KeyContainerStore> store)
    : provider_(provider),
      container_(std::move(container)),
      containerId_(containerId),
      silent_(silent),
      store_(std::move(store)) {}

ProviderContext::~ProviderContext() = default;

KeyProviderInfo ProviderContext::keyProviderInfo(uint32_t keySpec) const {
  KeyProviderInfo info;
  info.containerName = WideFromUtf8(container_);
  info.providerName = WideFromUtf8(provider_.name);
  info.providerType = provider_.type;
  info.flags = 0;
  info.keySpec = keySpec;
  return info;
}

uint32_t ProviderContext::storeKey(uint32_t keySpec, uint32_t flags, const ByteBuffer& blob) {
  if (store_) return store_->putKey(containerId_, keySpec, flags, blob.bytes());
  KeyContainerStore::StoredKey& slot = ephemeral_[keySpec - 1];
  slot.blob.clear();
  if (!slot.blob.append(blob.bytes())) return win32::kNteNoMemory;
  slot.flags = flags;
  return 0;
}

uint32_t ProviderContext::loadKey(uint32_t keySpec, KeyContainerStore::StoredKey* out) {
  out->blob.clear();
  if (store_) return store_->getKey(containerId_, keySpec, out);
  const KeyContainerStore::StoredKey& slot = ephemeral_[keySpec - 1];
  if (slot.blob.empty()) return win32::kNteNoKey;
  out->flags = slot.flags;
  return out->blob.append(slot.blob.bytes()) ? 0 : win32::kNteNoMemory;
}

uint32_t ProviderContext::genKey(uint32_t algId, uint32_t flags, std::unique_ptr<CryptKey>* out) {
  out->reset();
  const uint32_t keySpec = KeySpecOf(algId);
  if (keySpec == 0) return win32::kNteBadAlgid;
  const uint32_t bits = (flags >> 16) != 0 ? flags >> 16 : provider_.defaultKeyBits;
  const uint32_t keyFlags = flags & 0xFFFF;
  // Whole 16-bit steps keep the primes and CRT numbers at L/16 bytes, the
  // width the private key blob gives them.
  if ((keyFlags & ~kKeyFlags) != 0 || bits < kRsaMinGeneratedBits || bits > kRsaMaxBits ||
      bits % 16 != 0) {
    return win32::kNteBadFlags;
  }
  if (silent_ && (keyFlags & kCryptUserProtected) != 0) return win32::kNteSilentContext;

  OsslPtr<EVP_PKEY> key;
  ByteBuffer blob;
  const uint32_t keyAlg = AlgorithmOf(keySpec);
  if (uint32_t error = GenerateRsaKey(bits, &key)) return error;
  if (uint32_t error = EncodeRsaPrivateKeyBlob(key.get(), keyAlg, &blob)) return error;
  if (uint32_t error = storeKey(keySpec, keyFlags, blob)) return error;
  // The handle of creation may export an archivable key.
  const bool exportable = (keyFlags & (kCryptExportable | kCryptArchivable)) != 0;
  try {
    *out = std::make_unique<CryptKey>(CryptKey::ConstructionToken(), std::move(key), keyAlg,
                                      keySpec, keyFlags, exportable, silent_);
  } catch (const std::bad_alloc&) {
    return win32::kNteNoMemory;
  }
  return 0;
}

uint32_t ProviderContext::getUserKey(uint32_t keySpec, std::unique_ptr<CryptKey>* out) {
  out->reset();
  if (!ValidKeySpec(keySpec)) return win32::kNteBadKey;
  KeyContainerStore::StoredKey stored;
  if (uint32_t error = loadKey(keySpec, &stored)) return error;
  OsslPtr<EVP_PKEY> key;
  BlobHeader header;
  if (ParseRsaKeyBlob(stored.blob.bytes(), &key, &header) != 0 || header.type != kPrivatekeyblob) {
    return win32::kNteKeysetEntryBad;
  }
  try {
    *out = std::make_unique<CryptKey>(CryptKey::ConstructionToken(), std::move(key), header.algId,
                                      keySpec, stored.flags, (stored.flags & kCryptExportable) != 0,
                                      silent_);
  } catch (const std::bad_alloc&) {
    return win32::kNteNoMemory;
  }
  return 0;
}

uint32_t ProviderContext::importKey(std::span<const uint8_t> blob, uint32_t flags,
                                    std::unique_ptr<CryptKey>* out) {
  out->reset();
  BlobHeader header;
  if (!ReadBlobHeader(blob, &header)) return win32::kNteBadData;
  try {
    if (header.type == kPlaintextkeyblob) {
      if ((flags & ~kCryptExportable) != 0) return win32::kNteBadFlags;
      if (!provider_.blockCiphers) return win32::kNteBadAlgid;
      uint32_t algId = 0;
      ByteBuffer keyBytes;
      std::unique_ptr<SymmetricKey> symmetric;
      if (uint32_t error = ParsePlaintextKeyBlob(blob, &algId, &keyBytes)) return error;
      if (uint32_t error = SymmetricKey::Create(algId, keyBytes.bytes(), &symmetric)) {
        return error;
      }
      *out = std::make_unique<CryptKey>(CryptKey::ConstructionToken(), std::move(symmetric), flags);
      return 0;
    }
    if (header.type != kPublickeyblob && header.type != kPrivatekeyblob) {
      return win32::kNteBadType;
    }
    if ((flags & ~kImportFlags) != 0) return win32::kNteBadFlags;
    OsslPtr<EVP_PKEY> key;
    if (uint32_t error = ParseRsaKeyBlob(blob, &key, &header)) return error;
    if (header.type == kPublickeyblob) {
      *out = std::make_unique<CryptKey>(CryptKey::ConstructionToken(), std::move(key), header.algId,
                                        0, flags, false, silent_);
      return 0;
    }
    if (silent_ && (flags & kCryptUserProtected) != 0) return win32::kNteSilentContext;
    const uint32_t keySpec = KeySpecOf(header.algId);
    // Stored as this layer writes blobs (reserved bytes zero).
    ByteBuffer canonical;
    if (uint32_t error = EncodeRsaPrivateKeyBlob(key.get(), header.algId, &canonical)) {
      return error;
    }
    if (uint32_t error = storeKey(keySpec, flags, canonical)) return error;
    *out = std::make_unique<CryptKey>(CryptKey::ConstructionToken(), std::move(key), header.algId,
                                      keySpec, flags, (flags & kCryptExportable) != 0, silent_);
  } catch (const std::bad_alloc&) {
    return win32::kNteNoMemory;
  }
  return 0;
}

uint32_t ProviderContext::createHash(uint32_t algId, std::unique_ptr<CryptHash>* out) const {
  out->reset();
  const EVP_MD* md = DigestOfAlgorithm(algId);
  if (md == nullptr || (!provider_.sha2 && algId != kCalgMd5 && algId != kCalgSha1)) {
    return win32::kNteBadAlgid;
  }
  OsslPtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) <= 0) {
    ERR_clear_error();
    return win32::kNteNoMemory;
  }
  try {
    *out = std::make_unique<CryptHash>(CryptHash::ConstructionToken(), algId, std::move(ctx));
  } catch (const std::bad_alloc&) {
    return win32::kNteNoMemory;
  }
  return 0;
}

uint32_t ProviderContext::signHash(CryptHash& hash, uint32_t keySpec, uint32_t flags,
                                   ByteBuffer* signature) {
  signature->clear();
  if ((flags & ~kCryptNohashoid) != 0) return win32::kNteBadFlags;
  if (!ValidKeySpec(keySpec)) return win32::kNteBadAlgid;
  std::unique_ptr<CryptKey> key;
  if (uint32_t error = getUserKey(keySpec, &key)) return error;
  if (silent_ && (key->flags() & kCryptUserProtected) != 0) return win32::kNteSilentContext;
  if (uint32_t error = hash.finish()) return error;
  return SignDigestPkcs1(key->rsaKey(), hash.algId(), hash.value_.bytes(),
                         (flags & kCryptNohashoid) == 0, signature);
}

uint32_t AcquireCertificatePrivateKey(const KeyProviderInfo& info, uint32_t flags,
                                      std::unique_ptr<ProviderContext>* context, uint32_t* keySpec,
                                      std::shared_ptr<PlatformDatabase> db) {
  context->reset();
  *keySpec = 0;
  if ((flags & ~(kCryptAcquireCacheFlag | kCryptAcquireSilentFlag)) != 0) {
    return win32::kNteBadFlags;
  }
  // Only the flags that choose how to open carry over from the information.
  uint32_t acquireFlags = info.flags & (kCryptSilent | kCryptMachineKeyset);
  if ((flags & kCryptAcquireSilentFlag) != 0) acquireFlags |= kCryptSilent;
  std::unique_ptr<ProviderContext> opened;
  if (uint32_t error = ProviderContext::AcquireUtf8(
          Utf8FromWide(info.containerName), Utf8FromWide(info.providerName), info.providerType,
          acquireFlags, &opened, std::move(db))) {
    return error;
  }
  std::unique_ptr<CryptKey> key;
  if (uint32_t error = opened->getUserKey(info.keySpec, &key)) return error;
  *keySpec = info.keySpec;
  *context = std::move(opened);
  return 0;
}

}  // namespace quorvant
