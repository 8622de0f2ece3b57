// Certificate stores with the platform's semantics: the current user's
// system stores ("MY", "CA", "ROOT", ...) kept in the per-user database, and
// memory stores that live as long as a handle refers to them.
//
// Model. A store holds elements; each element is an encoded certificate
// with its properties. A CertContext is a shared reference to one element
// as seen through one store (copying it is CertDuplicateCertificateContext),
// and keeps that store alive. Properties set through any reference are seen
// through every other reference to the same element; those of a system
// store's element are written to the database at once.
//
// Order and sharing. Enumeration returns the elements in the order they
// were added; replacing an element keeps its place. Each system store
// operation reads or writes the database afresh, so other processes'
// committed changes show at the next enumeration, and every change is one
// transaction, so concurrent writers lose nothing.
//
// Errors. Every operation returns 0 or the platform's error number
// (CRYPT_E_NOT_FOUND, CRYPT_E_EXISTS, CRYPT_E_ASN1_*, E_INVALIDARG,
// E_OUTOFMEMORY, or for the database ERROR_ACCESS_DENIED, ERROR_BUSY,
// ERROR_DISK_FULL, ERROR_BADDB, ERROR_REGISTRY_IO_FAILED); nothing throws.
// Out-parameters are written only on success.
#ifndef QUORVANT_PLATFORM_CERT_STORE_H_
#define QUORVANT_PLATFORM_CERT_STORE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/certificates/certificate.h"
#include "platform/certificates/key_provider_info.h"

namespace quorvant {

class PlatformDatabase;
class ProviderContext;

// Property identifiers (CERT_*_PROP_ID).
inline constexpr uint32_t kCertKeyProvInfoPropId = 2;
inline constexpr uint32_t kCertSha1HashPropId = 3;
inline constexpr uint32_t kCertKeyContextPropId = 5;
inline constexpr uint32_t kCertFriendlyNamePropId = 11;

// CERT_STORE_ADD_* dispositions. A certificate "exists" in a store when an
// element there has the same SHA-1 hash of its encoding.
enum class AddDisposition : uint32_t {
  kNew = 1,               // fails with CRYPT_E_EXISTS when it exists
  kUseExisting = 2,       // the existing element, given the new properties it lacks
  kReplaceExisting = 3,   // the existing element, its properties replaced by the new ones
  kAlways = 4,            // always a new element, duplicates allowed
  kReplaceExistingInheritProperties = 5,  // the existing element, new properties added over its own
};

// The key context property: an open provider and the key's kind. It lives
// in memory only and is never written to the database.
struct CertKeyContext {
  std::shared_ptr<ProviderContext> provider;  // owned jointly
  uint32_t keySpec = 0;            // kAtKeyExchange or kAtSignature
};

namespace cert_store_detail {
struct StoreCore;
struct Element;
struct Incoming;
}  // namespace cert_store_detail

class CertContext {
 public:
  // A reference to nothing.
  CertContext() = default;

  // CertCreateCertificateContext: a certificate in a store of its own.
  // A CRYPT_E_ASN1_* number when `der` is not one certificate.
  [[nodiscard]] static uint32_t Create(std::span<const uint8_t> der, CertContext* out);

  bool valid() const { return element_ != nullptr; }
  explicit operator bool() const { return valid(); }

  // The encoded certificate; empty for a reference to nothing.
  std::span<const uint8_t> encoded() const;
  // SHA-1 of the encoding (the SHA-1 hash property, always present).
  Sha1Hash sha1Hash() const;
  // True when both refer to the same element (possibly through different
  // stores, as a link does).
  bool sameElement(const CertContext& other) const { return element_ == other.element_; }

  // CertGetCertificateContextProperty / CertSetCertificateContextProperty
  // for the properties kept as bytes (every id but the SHA-1 hash and the
  // key context, which have their own forms). A missing property gives
  // CRYPT_E_NOT_FOUND; an empty `value` is stored as empty.
  // Removing a property that is not there succeeds.
  [[nodiscard]] uint32_t getProperty(uint32_t propId, std::vector<uint8_t>* out) const;
  [[nodiscard]] uint32_t setProperty(uint32_t propId, std::span<const uint8_t> value) const;
  [[nodiscard]] uint32_t removeProperty(uint32_t propId) const;

  // CERT_KEY_PROV_INFO_PROP_ID (ERROR_INVALID_DATA when the stored bytes
  // are damaged).
  [[nodiscard]] uint32_t keyProviderInfo(KeyProviderInfo* out) const;
  [[nodiscard]] uint32_t setKeyProviderInfo(const KeyProviderInfo& info) const;
  // CERT_FRIENDLY_NAME_PROP_ID, kept as UTF-16 (low byte first) with its
  // terminating zero; read back up to the first zero.
  [[nodiscard]] uint32_t friendlyName(std::u16string* out) const;
  [[nodiscard]] uint32_t setFriendlyName(std::u16string_view name) const;
  // CERT_KEY_CONTEXT_PROP_ID; nothing when not set. Setting nothing clears it.
  std::optional<CertKeyContext> keyContext() const;
  void setKeyContext(std::optional<CertKeyContext> context) const;

 private:
  friend class CertStore;
  CertContext(std::shared_ptr<cert_store_detail::StoreCore> store,
              std::shared_ptr<cert_store_detail::Element> element);

  std::shared_ptr<cert_store_detail::StoreCore> store_;
  std::shared_ptr<cert_store_detail::Element> element_;
};

class CertStore {
 public:
  // A handle on nothing.
  CertStore() = default;

  // CertOpenStore(CERT_STORE_PROV_MEMORY): an empty store in memory.
  static CertStore OpenMemory();

  bool valid() const { return core_ != nullptr; }
  // The system store's name in upper case; empty for a memory store.
  const std::string& name() const;
  bool persistent() const;

  // CertEnumCertificatesInStore, all at once: every element in order.
  [[nodiscard]] uint32_t enumerate(std::vector<CertContext>* out) const;

  // CertAddEncodedCertificateToStore. `added` (may be null) receives the
  // element now in the store.
  [[nodiscard]] uint32_t addEncoded(std::span<const uint8_t> der, AddDisposition disposition,
                                    CertContext* added = nullptr) const;
  // CertAddCertificateContextToStore: a copy of the certificate and of its
  // properties (the key context included, in memory).
  [[nodiscard]] uint32_t addContext(const CertContext& context, AddDisposition disposition,
                                    CertContext* added = nullptr) const;
  // CertAddCertificateLinkToStore: an entry that refers to the context's
  // own element, sharing its properties; deleting the link leaves the
  // element. Memory stores only (ERROR_NOT_SUPPORTED for a system store).
  [[nodiscard]] uint32_t addLink(const CertContext& context, AddDisposition disposition,
                                 CertContext* added = nullptr) const;

  // CertDeleteCertificateFromStore: removes the context's element (or link)
  // from the store the context was obtained from. CRYPT_E_NOT_FOUND when it
  // is no longer there.
  [[nodiscard]] static uint32_t DeleteCertificate(const CertContext& context);

 private:
  friend class DatabaseCertificateStores;
  explicit CertStore(std::shared_ptr<cert_store_detail::StoreCore> core)
      : core_(std::move(core)) {}
  uint32_t add(cert_store_detail::Incoming in, AddDisposition disposition,
               CertContext* added) const;

  std::shared_ptr<cert_store_detail::StoreCore> core_;
};

// Opens the current user's system stores.
class CertificateStores {
 public:
  virtual ~CertificateStores() = default;
  // CertOpenSystemStoreA(0, name) with CERT_SYSTEM_STORE_CURRENT_USER: the
  // store is created when missing. Names compare without regard to ASCII
  // case. ERROR_INVALID_PARAMETER for an empty name (or one over 256
  // bytes), or the database's error when it cannot be opened.
  [[nodiscard]] virtual uint32_t openSystemStore(std::string_view name, CertStore* out) = 0;
};

// The system stores in the database at `databasePath`, which is opened on
// first use (and again after a failed attempt).
std::shared_ptr<CertificateStores> MakeDatabaseCertificateStores(std::string databasePath);
// The same over a database already open.
std::shared_ptr<CertificateStores> MakeDatabaseCertificateStores(
    std::shared_ptr<PlatformDatabase> database);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_CERT_STORE_H_
