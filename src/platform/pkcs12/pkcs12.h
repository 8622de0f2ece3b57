// PKCS #12 (RFC 7292) files with the platform's semantics: the PFX test,
// password verification, import into a temporary memory store with each
// private key in a new key container, and export of a store's certificates
// with their private keys (PFXIsPFXBlob, PFXVerifyPassword,
// PFXImportCertStore, PFXExportCertStore).
//
// Passwords. The caller's password is UTF-16 text. A null pointer is the
// platform's NULL password (no password at all); u"" is the empty password.
// The two differ wherever RFC 7292's key derivation (Appendix B) is used,
// that is for the MAC and the PKCS #12 encryption schemes: the password
// enters it as a BMPString with its two-byte terminator, so the empty
// password is 00 00 and the NULL password is no bytes at all. The PBES2
// schemes of PKCS #5 (RFC 8018) take the password as UTF-8 octets, where
// both are empty. Text is handed to OpenSSL as UTF-8, which makes the same
// BMPString from it; an unpaired surrogate becomes U+FFFD, as everywhere
// else in the component. Copies of the password are wiped.
//
// Verification (PfxVerifyPassword, and the first step of an import):
//   - a file with a MAC is verified by the MAC alone;
//   - a file without a MAC is verified by decrypting its first protected
//     item (an encrypted safe or a shrouded key bag) and parsing the result,
//     so a wrong password is caught by the padding and by the structure;
//   - a file with neither a MAC nor any encrypted item is protected by
//     nothing the password could be checked against: every password, the
//     NULL one included, verifies.
// Iteration counts above kPfxMaxIterations and key derivations other than
// the PKCS #12 one and PBKDF2 are refused before any work is done, so a
// hostile file cannot make a check run for minutes.
//
// Import. Every certificate bag becomes a certificate of a new memory
// store, in file order (duplicates kept), with the bag's friendlyName
// attribute (or that of its key's bag) as the friendly-name property. A
// private key belongs to the certificates whose public key is its public
// half; where several keys would fit one certificate, the one with the
// certificate's localKeyId wins. Each RSA key that belongs to at least one
// certificate goes into a new key container named "{GUID}" of the default
// provider of PROV_RSA_FULL, as its AT_KEYEXCHANGE key, exportable and user
// protected as the import flags say, and those certificates carry the key
// provider information of that container. Keys that are not RSA (the
// software providers hold only RSA keys) and keys without a certificate
// create no container: their certificates come without a key, as chain
// certificates do. A failed import removes the containers it created.
//
// Export. The file holds every distinct certificate of the store once (a
// link counts as its certificate), in store order, in one safe encrypted
// with PBES2 (PBKDF2 with HMAC-SHA-256, AES-256-CBC, 16-byte salt,
// kPfxExportIterations iterations); with kExportPrivateKeys, each
// certificate's private key in a shrouded key bag of the same scheme in a
// second, unencrypted safe; and a MAC with HMAC-SHA-256 keyed by the PKCS #12
// key derivation (SHA-256, same iteration count). A certificate and its key
// share a localKeyId (the certificate's SHA-1 hash) and its friendly name.
// OpenSSL 3 (without -legacy), Python's cryptography and Java's keytool
// (since 8u301 / 11.0.12 / 17) read this format. A NULL password exports
// the same way, with the NULL password: the file then opens with a NULL
// password, and, as in the platform's open routine, when an empty one is
// tried first and then the NULL one.
//
// Errors: every function returns 0 (or true) or the platform's error number;
// nothing throws and OpenSSL's error queue is left as it was found.
//   CRYPT_E_BAD_ENCODE       the blob is not a PFX, or a part of it is damaged
//   CRYPT_E_INVALID_MSG_TYPE the file uses public-key privacy or integrity
//                            (an enveloped safe, a signed authSafe)
//   CRYPT_E_UNKNOWN_ALGO     an algorithm or parameter this layer refuses
//   ERROR_INVALID_PASSWORD   the MAC does not verify, or an item does not
//                            decrypt, with the password
//   NTE_BAD_FLAGS            flags outside those listed
//   E_OUTOFMEMORY            allocation failure
// and, for import and export, the key container errors of crypto_provider.h
// (NTE_PERM, ERROR_BUSY, NTE_FAIL, ...) and those of cert_store.h.
#ifndef QUORVANT_PLATFORM_PKCS12_H_
#define QUORVANT_PLATFORM_PKCS12_H_

#include <cstdint>
#include <memory>
#include <span>

#include "encoding/byte_buffer.h"
#include "platform/stores/cert_store.h"
#include "platform/database/platform_database.h"

namespace quorvant {

// PFXExportCertStore flags.
inline constexpr uint32_t kReportNoPrivateKey = 0x1;
inline constexpr uint32_t kReportNotAbleToExportPrivateKey = 0x2;
inline constexpr uint32_t kExportPrivateKeys = 0x4;

// The iteration count of every derivation in an exported file, and the
// largest count a file may ask for when read (OpenSSL writes 2048, Java
// 10000, Python's cryptography 20000).
inline constexpr uint32_t kPfxExportIterations = 10000;
inline constexpr uint32_t kPfxMaxIterations = 1000000;

// What a hostile file may make us do. A file over kPfxMaxFileSize is
// refused with ERROR_FILE_TOO_LARGE before it is parsed; one with more bags,
// certificates or keys, or whose derivations (MAC, encrypted safes,
// shrouded keys) add up to more iterations, with ERROR_NOT_ENOUGH_QUOTA
// before the derivation that would pass the limit is run.
inline constexpr size_t kPfxMaxFileSize = 16u << 20;
inline constexpr uint32_t kPfxMaxBags = 1024;
inline constexpr uint32_t kPfxMaxCertificates = 512;
inline constexpr uint32_t kPfxMaxKeys = 64;
inline constexpr uint64_t kPfxMaxTotalIterations = 4000000;

// What an import carried over and what it could not. A file whose keys all
// reached a container with their certificates and which held nothing else
// (`whole()`) is written back by an export without loss.
struct PfxImportReport {
  uint32_t certificates = 0;  // X.509 certificate bags
  uint32_t keys = 0;          // key bags, plain and shrouded
  uint32_t keysPlaced = 0;    // keys now in a container, bound to a certificate
  uint32_t otherBags = 0;     // CRL, secret and unknown bags, non-X.509 certificates
  bool whole() const { return keysPlaced == keys && otherBags == 0; }
};

// PFXIsPFXBlob: true when `blob` is exactly one DER/BER PFX of version 3.
bool PfxIsPfxBlob(std::span<const uint8_t> blob);

// PFXVerifyPassword: true when the password opens the file (see the rules
// above). `flags` must be 0. On false, *error (when given) receives the
// reason: ERROR_INVALID_PASSWORD for a wrong password, else one of the
// errors above.
bool PfxVerifyPassword(std::span<const uint8_t> blob, const char16_t* password, uint32_t flags,
                       uint32_t* error = nullptr);

// PFXImportCertStore. `flags`: CRYPT_EXPORTABLE and CRYPT_USER_PROTECTED,
// applied to every imported key. `db` holds the key containers (null: the
// user's own database; PlatformDatabase::OpenInMemory keeps them off the
// disk). On success *out is a new memory store and *report (when given)
// says what was carried over.
[[nodiscard]] uint32_t PfxImportCertStore(std::span<const uint8_t> blob, const char16_t* password,
                                          uint32_t flags,
                                          const std::shared_ptr<PlatformDatabase>& db,
                                          CertStore* out, PfxImportReport* report = nullptr);

// PFXExportCertStore, in one call: *out receives the whole file.
// `flags`: kExportPrivateKeys, kReportNotAbleToExportPrivateKey,
// kReportNoPrivateKey. With kExportPrivateKeys, a certificate's key is
// found through its key provider information (or, lacking that, its key
// context property) and must be the private half of the certificate's
// public key. Then:
//   - a key whose export is not allowed (not exportable, or user protected
//     in a silent context) fails the whole export with NTE_BAD_KEY when
//     kReportNotAbleToExportPrivateKey is set, and otherwise leaves its
//     certificate without a key; NTE_BAD_KEY rather than the provider's
//     NTE_BAD_KEY_STATE, because that is the number the platform's callers
//     read as "the key cannot be exported";
//   - a certificate without a usable key (no key information, the container
//     or its key gone, a key of another certificate) fails the export with
//     NTE_NO_KEY when kReportNoPrivateKey is set, and is otherwise exported
//     alone;
//   - a failure to read the key containers (NTE_PERM, ERROR_BUSY, ...) fails
//     the export whatever the flags.
// Without kExportPrivateKeys only certificates are written.
[[nodiscard]] uint32_t PfxExportCertStore(const CertStore& store, const char16_t* password,
                                          uint32_t flags,
                                          const std::shared_ptr<PlatformDatabase>& db,
                                          ByteBuffer* out);

}  // namespace quorvant

#endif  // QUORVANT_PLATFORM_PKCS12_H_
