// The platform's cryptographic service providers, over OpenSSL 3 and the
// per-user platform database: the software RSA providers and their types,
// provider contexts on named key containers (CryptAcquireContext), RSA key
// pairs kept in the containers (CryptGenKey, CryptGetUserKey,
// CryptImportKey, CryptExportKey), PKCS #1 v1.5 signatures of a given digest
// (CryptCreateHash, CryptSetHashParam HP_HASHVAL, CryptSignHash), DES and
// Triple-DES session keys (CryptImportKey of a PLAINTEXTKEYBLOB,
// CryptSetKeyParam, CryptEncrypt, CryptDecrypt), and the private key of a
// certificate found through its key provider information
// (CryptAcquireCertificatePrivateKey).
//
// Every operation returns 0 or the CryptoAPI error number the platform gives
// in the same situation (base/win32_errors.h); nothing throws. Objects are
// owned by their holder and released with it (CryptReleaseContext,
// CryptDestroyKey, CryptDestroyHash). Keys and hashes stay usable after the
// context that made them is released.
//
// Key flags and what they allow:
//   CRYPT_EXPORTABLE      the private key can be exported as a
//                         PRIVATEKEYBLOB through any handle, now and later.
//   CRYPT_ARCHIVABLE      (generation only) the private key can be exported
//                         through the handle CryptGenKey returned, and
//                         through no other: once that handle is released the
//                         key is as unexportable as one without flags.
//   CRYPT_USER_PROTECTED  the platform would ask the user before each use of
//                         the private key; there is no such prompt here, so
//                         the key is used freely, except in a context
//                         acquired with CRYPT_SILENT, where any use that
//                         would prompt fails with NTE_SILENT_CONTEXT.
// Exporting a private key that its flags do not allow fails with
// NTE_BAD_KEY_STATE. Public keys export always.
//
// Threads: a context, key or hash is used by one thread at a time; distinct
// objects may be used on distinct threads. Processes: see
// key_container_store.h.
#ifndef QUORVANT_PLATFORM_CRYPTO_PROVIDER_H_
#define QUORVANT_PLATFORM_CRYPTO_PROVIDER_H_

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "encoding/byte_buffer.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/stores/key_container_store.h"
#include "platform/certificates/key_provider_info.h"
#include "platform/database/platform_database.h"
#include "platform/keys/rsa_key.h"

namespace quorvant {

class SymmetricKey;

struct CryptoProviderInfo {
  std::string_view name;
  uint32_t type = 0;
  // Modulus size of CryptGenKey when its flags give none.
  uint32_t defaultKeyBits = 0;
  // Whether DES and Triple-DES keys can be imported.
  bool blockCiphers = false;
  // Whether the SHA-2 hashes (CALG_SHA_256, _384, _512) are offered.
  bool sha2 = false;
};

// The installed providers, in the order the platform enumerates them
// (by name): Microsoft Base Cryptographic Provider v1.0 (type 1), Microsoft
// Enhanced Cryptographic Provider v1.0 (1), Microsoft Enhanced RSA and AES
// Cryptographic Provider (24), Microsoft Strong Cryptographic Provider (1).
// The Base provider has no DES; only the RSA and AES provider has SHA-2.
class CryptoProviders {
 public:
  static std::span<const CryptoProviderInfo> All();
  // CryptEnumProviders: the provider at `index`, or ERROR_NO_MORE_ITEMS.
  [[nodiscard]] static uint32_t Enumerate(uint32_t index, const CryptoProviderInfo** out);
  // Exact, case-sensitive name; null when unknown.
  static const CryptoProviderInfo* Find(std::string_view name);
  // The provider CryptAcquireContext uses for (name, type): an empty name
  // means the type's default provider (Strong for type 1, RSA and AES for
  // type 24). Returns 0, NTE_BAD_PROV_TYPE (type outside 1..999),
  // NTE_KEYSET_NOT_DEF (no provider of that name), NTE_PROV_TYPE_NO_MATCH
  // (the named provider has another type) or NTE_PROV_TYPE_NOT_DEF (no
  // provider of that type, for an empty name).
  [[nodiscard]] static uint32_t Resolve(std::string_view name, uint32_t type,
                                        const CryptoProviderInfo** out);
};

// A hash object (HCRYPTHASH) of CALG_MD5, CALG_SHA1 or a SHA-2 algorithm.
// It is fed with data or given its value outright; its value is final once
// it is read or signed.
class CryptHash {
  struct ConstructionToken {};

 public:
  // Through ProviderContext::createHash() only.
  CryptHash(ConstructionToken, uint32_t algId, OsslPtr<EVP_MD_CTX> ctx);
  CryptHash(const CryptHash&) = delete;
  CryptHash& operator=(const CryptHash&) = delete;

  uint32_t algId() const { return algId_; }

  // CryptHashData. NTE_BAD_HASH_STATE once the value is final or was set.
  [[nodiscard]] uint32_t hashData(std::span<const uint8_t> data);
  // CryptSetHashParam(HP_HASHVAL): the digest, exactly the algorithm's
  // length (NTE_BAD_LEN otherwise). NTE_BAD_HASH_STATE once final.
  [[nodiscard]] uint32_t setHashValue(std::span<const uint8_t> value);
  // CryptGetHashParam(HP_HASHVAL): the value, which is final from then on.
  [[nodiscard]] uint32_t hashValue(ByteBuffer* value);

 private:
  friend class ProviderContext;
  uint32_t finish();

  const uint32_t algId_;
  OsslPtr<EVP_MD_CTX> ctx_;
  ByteBuffer value_;
  bool final_ = false;
};

// A key handle (HCRYPTKEY): an RSA key pair of a container, an RSA public
// key, or a DES / Triple-DES session key.
class CryptKey {
  struct ConstructionToken {};

 public:
  // Through ProviderContext only.
  CryptKey(ConstructionToken, OsslPtr<EVP_PKEY> rsa, uint32_t algId, uint32_t keySpec, uint32_t flags,
           bool privateExportable, bool silent);
  CryptKey(ConstructionToken, std::unique_ptr<SymmetricKey> symmetric, uint32_t flags);
  CryptKey(const CryptKey&) = delete;
  CryptKey& operator=(const CryptKey&) = delete;
  ~CryptKey();

  // CALG_RSA_KEYX, CALG_RSA_SIGN, CALG_DES, CALG_3DES or CALG_3DES_112.
  uint32_t algId() const { return algId_; }
  // AT_KEYEXCHANGE or AT_SIGNATURE for a container's key pair, else 0.
  uint32_t keySpec() const { return keySpec_; }
  // The flags the key was generated or imported with (CRYPT_EXPORTABLE,
  // CRYPT_USER_PROTECTED, CRYPT_ARCHIVABLE).
  uint32_t flags() const { return flags_; }
  // Modulus size, or the key length of a session key, in bits.
  uint32_t bitLength() const;

  // CryptExportKey without a wrapping key: PUBLICKEYBLOB of an RSA key;
  // PRIVATEKEYBLOB of an RSA key pair that its flags let out through this
  // handle; PLAINTEXTKEYBLOB of a session key imported with
  // CRYPT_EXPORTABLE. Returns 0, NTE_BAD_TYPE (another blob type),
  // NTE_BAD_FLAGS (flags other than 0), NTE_BAD_KEY (a blob type the key
  // has no form for), NTE_BAD_KEY_STATE (export not allowed) or
  // NTE_SILENT_CONTEXT (a user-protected key in a silent context).
  [[nodiscard]] uint32_t exportKey(uint8_t blobType, uint32_t flags, ByteBuffer* blob) const;

  // CryptSetKeyParam for a session key: KP_IV (8 bytes) or KP_MODE (a
  // 32-bit little-endian CRYPT_MODE_CBC or CRYPT_MODE_ECB). NTE_BAD_TYPE for
  // another parameter or an RSA key, NTE_BAD_DATA for a value not allowed.
  [[nodiscard]] uint32_t setParam(uint32_t param, std::span<const uint8_t> data);

  // CryptEncrypt / CryptDecrypt with a session key, appending to *out; see
  // symmetric_key.h for the block and padding rules. NTE_BAD_KEY with an RSA
  // key.
  [[nodiscard]] uint32_t encrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out);
  [[nodiscard]] uint32_t decrypt(std::span<const uint8_t> data, bool final, ByteBuffer* out);

  // The RSA key itself, for the platform's own message and PKCS #12
  // services, which stand where the platform's message functions call the
  // provider. They must keep to the export rules above: a key leaves the
  // process only when exportKey(PRIVATEKEYBLOB) would allow it. Null for a
  // session key.
  EVP_PKEY* rsaKey() const { return rsa_.get(); }

 private:
  friend class ProviderContext;

  const uint32_t algId_;
  const uint32_t keySpec_;
  const uint32_t flags_;
  const bool privateExportable_;
  const bool silent_;
  OsslPtr<EVP_PKEY> rsa_;
  std::unique_ptr<SymmetricKey> symmetric_;
};

// A provider context (HCRYPTPROV) on one key container, or on none
// (CRYPT_VERIFYCONTEXT: keys live only as long as the context).
class ProviderContext {
  struct ConstructionToken {};

 public:
  // CryptAcquireContextA. `container` is narrow text in the component's code
  // page; empty means the user's default container (named after the login
  // name). `flags`: 0 opens an existing container, CRYPT_NEWKEYSET creates
  // one, CRYPT_DELETEKEYSET deletes one (and gives no context),
  // CRYPT_VERIFYCONTEXT opens none (the container name must be empty);
  // CRYPT_SILENT may be added to any of them. `db` is the database to keep
  // containers in; null means the user's own (PlatformDatabase::DefaultPath).
  // Returns 0 with *out set (except for CRYPT_DELETEKEYSET), or:
  //   NTE_BAD_FLAGS           unknown or contradictory flags, a container
  //                           name with CRYPT_VERIFYCONTEXT, or
  //                           CRYPT_MACHINE_KEYSET (no machine containers);
  //   NTE_BAD_KEYSET_PARAM    a container name longer than 260 bytes or
  //                           holding a zero byte;
  //   the errors of CryptoProviders::Resolve;
  //   NTE_BAD_KEYSET          no such container (open, delete);
  //   NTE_EXISTS              the container exists (create);
  //   NTE_PERM                the database cannot be read or written;
  //   ERROR_BUSY              another process holds the database too long;
  //   NTE_FAIL                any other database failure.
  [[nodiscard]] static uint32_t Acquire(std::string_view container, std::string_view providerName,
                                        uint32_t providerType, uint32_t flags,
                                        std::unique_ptr<ProviderContext>* out,
                                        std::shared_ptr<PlatformDatabase> db = nullptr);
  // The same with the container named in UTF-8.
  [[nodiscard]] static uint32_t AcquireUtf8(std::string_view container,
                                            std::string_view providerName, uint32_t providerType,
                                            uint32_t flags, std::unique_ptr<ProviderContext>* out,
                                            std::shared_ptr<PlatformDatabase> db = nullptr);

  // Through Acquire() only.
  ProviderContext(ConstructionToken, const CryptoProviderInfo& provider, std::string container,
                  int64_t containerId, bool silent, std::unique_ptr<KeyContainerStore> store);
  ProviderContext(const ProviderContext&) = delete;
  ProviderContext& operator=(const ProviderContext&) = delete;
  ~ProviderContext();

  const CryptoProviderInfo& provider() const { return provider_; }
  // UTF-8; empty for a verification context.
  const std::string& containerName() const { return container_; }
  bool verifyContext() const { return !store_; }
  bool silent() const { return silent_; }
  // What a certificate whose key is this container's key of `keySpec`
  // carries as its key provider information.
  KeyProviderInfo keyProviderInfo(uint32_t keySpec) const;

  // CryptGenKey: a new RSA key pair for AT_KEYEXCHANGE (or CALG_RSA_KEYX)
  // or AT_SIGNATURE (or CALG_RSA_SIGN), replacing the container's key of
  // that kind. The upper 16 bits of `flags` give the modulus size (0: the
  // provider's default), the lower bits CRYPT_EXPORTABLE,
  // CRYPT_USER_PROTECTED and CRYPT_ARCHIVABLE. Returns 0, NTE_BAD_ALGID
  // (another algorithm), NTE_BAD_FLAGS (another flag, or a size outside
  // 512..16384 or not a multiple of 16), NTE_SILENT_CONTEXT
  // (CRYPT_USER_PROTECTED in a silent context), NTE_BAD_KEYSET (the container
  // was deleted meanwhile) or a database error as for Acquire.
  [[nodiscard]] uint32_t genKey(uint32_t algId, uint32_t flags, std::unique_ptr<CryptKey>* out);

  // CryptGetUserKey: the container's key pair of `keySpec`. Returns 0,
  // NTE_BAD_KEY (keySpec neither AT_KEYEXCHANGE nor AT_SIGNATURE),
  // NTE_NO_KEY, NTE_BAD_KEYSET (the container was deleted meanwhile),
  // NTE_KEYSET_ENTRY_BAD (the stored key is damaged) or a database error.
  [[nodiscard]] uint32_t getUserKey(uint32_t keySpec, std::unique_ptr<CryptKey>* out);

  // CryptImportKey without a wrapping key:
  //   PLAINTEXTKEYBLOB  a DES or Triple-DES session key (flags: 0 or
  //                     CRYPT_EXPORTABLE); NTE_BAD_ALGID from a provider
  //                     without block ciphers;
  //   PUBLICKEYBLOB     an RSA public key, not stored;
  //   PRIVATEKEYBLOB    an RSA key pair, stored as the container's key of the
  //                     kind its algorithm names (CALG_RSA_KEYX:
  //                     AT_KEYEXCHANGE, CALG_RSA_SIGN: AT_SIGNATURE), with the
  //                     flags CRYPT_EXPORTABLE and CRYPT_USER_PROTECTED.
  // Returns 0, the blob errors of key_blob.h, NTE_BAD_FLAGS, NTE_BAD_TYPE (another
  // blob type), NTE_SILENT_CONTEXT, or a storage error as for genKey.
  [[nodiscard]] uint32_t importKey(std::span<const uint8_t> blob, uint32_t flags,
                                   std::unique_ptr<CryptKey>* out);

  // CryptCreateHash without a key. NTE_BAD_ALGID for an algorithm the
  // provider does not offer.
  [[nodiscard]] uint32_t createHash(uint32_t algId, std::unique_ptr<CryptHash>* out) const;

  // CryptSignHash: the PKCS #1 v1.5 signature of the hash's value with the
  // container's key of `keySpec`, least significant byte first, as long as
  // the modulus. `flags` 0 or CRYPT_NOHASHOID (no DigestInfo). The hash's
  // value is final afterwards. Returns 0, NTE_BAD_FLAGS, NTE_BAD_ALGID
  // (keySpec neither AT_KEYEXCHANGE nor AT_SIGNATURE), NTE_NO_KEY,
  // NTE_SILENT_CONTEXT, NTE_BAD_LEN (the key is too short for the digest),
  // or the errors of getUserKey.
  [[nodiscard]] uint32_t signHash(CryptHash& hash, uint32_t keySpec, uint32_t flags,
                                  ByteBuffer* signature);

 private:
  uint32_t storeKey(uint32_t keySpec, uint32_t flags, const ByteBuffer& blob);
  uint32_t loadKey(uint32_t keySpec, KeyContainerStore::StoredKey* out);

  const CryptoProviderInfo& provider_;
  const std::string container_;
  const int64_t containerId_;
  const bool silent_;
  // Null for a verification context, whose keys are kept in ephemeral_.
  std::unique_ptr<KeyContainerStore> store_;
  std::array<KeyContainerStore::StoredKey, 2> ephemeral_;
};

// CryptAcquireCertificatePrivateKey for a certificate whose key provider
// information is `info`: a context on its container (silent when `flags`
// has CRYPT_ACQUIRE_SILENT_FLAG or info.flags has CRYPT_SILENT) after
// making sure the key of info.keySpec is there; *keySpec receives it.
// `flags`: 0, CRYPT_ACQUIRE_CACHE_FLAG (accepted; every call gives its own
// context), CRYPT_ACQUIRE_SILENT_FLAG. Returns 0, NTE_BAD_FLAGS, the errors
// of ProviderContext::Acquire (NTE_BAD_KEYSET when the container is gone)
// or of getUserKey (NTE_NO_KEY when the container lacks the key).
[[nodiscard]] uint32_t AcquireCertificatePrivateKey(const KeyProviderInfo& info, uint32_t flags,
                                                    std::unique_ptr<ProviderContext>* context,
                                                    uint32_t* keySpec,
                                                    std::shared_ptr<PlatformDatabase> db = nullptr);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_CRYPTO_PROVIDER_H_
