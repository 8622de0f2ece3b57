// Writing PKCS #12 files: PFXExportCertStore.
//
// The protection is the one every current reader takes: PBES2 (RFC 8018,
// 6.2) with PBKDF2-HMAC-SHA-256 and AES-256-CBC for the certificates' safe
// and for each shrouded key bag, and an HMAC-SHA-256 MAC whose key comes
// from the PKCS #12 derivation (RFC 7292, Appendix B) with SHA-256. OpenSSL
// 3 writes the same by default, so `openssl pkcs12` reads it without
// -legacy; Python's cryptography reads it through OpenSSL; Java's PKCS12
// key store has read PBES2 and HmacPBESHA256 since 8u301 and 11.0.12. The
// legacy schemes (RC2-40, Triple-DES with the PKCS #12 derivation, SHA-1
// MACs) are avoided: RC2 needs OpenSSL's legacy provider and all of them
// rest on 40- to 112-bit keys or SHA-1.
#include <new>
#include <string>
#include <vector>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"
#include "platform/pkcs12/pkcs12.h"
#include "platform/pkcs12/pkcs12_support.h"

namespace quorvant {
namespace {

using namespace pkcs12_detail;

constexpr int kSaltLength = 16;

// One distinct certificate of the store, with every reference to it.
struct ExportEntry {
  std::vector<CertContext> references;
  OsslPtr<X509> x509;
  std::unique_ptr<CryptKey> key;
  std::u16string friendlyName;
};

enum class KeyState { kFound, kMissing, kNotExportable };

// Failures of the key storage itself, which no flag excuses; every other
// error of finding a key means there is no usable key.
bool StorageFailure(uint32_t error) {
  return error == win32::kNtePerm || error == win32::kErrorBusy || error == win32::kNteFail ||
         error == win32::kNteNoMemory || error == win32::kEOutofmemory;
}

// The key of one reference: through its key provider information, or
// lacking that through its key context property.
uint32_t KeyOfReference(const CertContext& reference, const std::shared_ptr<PlatformDatabase>& db,
                        std::unique_ptr<CryptKey>* key) {
  KeyProviderInfo info;
  if (reference.keyProviderInfo(&info) == 0) {
    std::unique_ptr<ProviderContext> context;
    uint32_t keySpec = 0;
    if (uint32_t error = AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db)) {
      return error;
    }
    return context->getUserKey(keySpec, key);
  }
  const std::optional<CertKeyContext> keyContext = reference.keyContext();
  if (keyContext && keyContext->provider) {
    return keyContext->provider->getUserKey(keyContext->keySpec, key);
  }
  return win32::kNteNoKey;
}

// Finds the entry's private key and whether it may leave: the export rule
// is the provider's own (CryptExportKey of a PRIVATEKEYBLOB).
uint32_t FindKey(ExportEntry* entry, const std::shared_ptr<PlatformDatabase>& db, KeyState* state) {
  *state = KeyState::kMissing;
  for (const CertContext& reference : entry->references) {
    std::unique_ptr<CryptKey> key;
    const uint32_t error = KeyOfReference(reference, db, &key);
    if (StorageFailure(error)) return error;
    // A key that is not the certificate's would make a file no reader
    // could use.
    if (error != 0 || !SameRsaPublicKey(key->rsaKey(), X509_get0_pubkey(entry->x509.get()))) {
      continue;
    }
    ByteBuffer blob;
    const uint32_t exportError = key->exportKey(kPrivatekeyblob, 0, &blob);
    blob.clear();
    if (exportError == win32::kNteBadKeyState || exportError == win32::kNteSilentContext) {
      *state = KeyState::kNotExportable;
      continue;
    }
    if (exportError != 0) return exportError;
    entry->key = std::move(key);
    *state = KeyState::kFound;
    return 0;
  }
  return 0;
}

// AlgorithmIdentifier of PBES2 with PBKDF2-HMAC-SHA-256, a fresh random
// salt and AES-256-CBC with a fresh random IV.
OsslPtr<X509_ALGOR> NewPbes2Algorithm() {
  OsslPtr<EVP_CIPHER> cipher(EVP_CIPHER_fetch(OpensslContext(), "AES-256-CBC", nullptr));
  if (!cipher) return nullptr;
  return OsslPtr<X509_ALGOR>(PKCS5_pbe2_set_iv_ex(cipher.get(), static_cast<int>(kPfxExportIterations),
                                           nullptr, kSaltLength, nullptr, NID_hmacWithSHA256,
                                           OpensslContext()));
}

// The attributes that tie a certificate bag to its key bag (RFC 7292,
// 4.2): localKeyId and friendlyName (a BMPString, most significant byte
// first).
bool AddAttributes(PKCS12_SAFEBAG* bag, const ExportEntry& entry, const Sha1Hash* localKeyId) {
  if (localKeyId != nullptr &&
      !PKCS12_add_localkeyid(bag, const_cast<unsigned char*>(localKeyId->data()),
                             static_cast<int>(localKeyId->size()))) {
    return false;
  }
  if (entry.friendlyName.empty()) return true;
  std::vector<unsigned char> bmp;
  bmp.reserve(entry.friendlyName.size() * 2);
  for (char16_t c : entry.friendlyName) {
    bmp.push_back(static_cast<unsigned char>(c >> 8));
    bmp.push_back(static_cast<unsigned char>(c & 0xFF));
  }
  return PKCS12_add_friendlyname_uni(bag, bmp.data(), static_cast<int>(bmp.size())) == 1;
}

uint32_t AddKeyBag(const ExportEntry& entry, const Sha1Hash& localKeyId,
                   const PfxPassword& password, SafeBagStack* bags) {
  OsslPtr<PKCS8_PRIV_KEY_INFO> info(EVP_PKEY2PKCS8(entry.key->rsaKey()));
  OsslPtr<X509_ALGOR> algorithm = NewPbes2Algorithm();
  if (!info || !algorithm) return win32::kNteFail;
  OsslPtr<X509_SIG> shrouded(PKCS8_set0_pbe_ex(password.data(), password.length(), info.get(),
                                        algorithm.get(), OpensslContext(), nullptr));
  if (!shrouded) return win32::kNteFail;
  algorithm.release();  // now owned by `shrouded`
  OsslPtr<PKCS12_SAFEBAG> bag(PKCS12_SAFEBAG_create0_pkcs8(shrouded.get()));
  if (!bag) return win32::kEOutofmemory;
  shrouded.release();  // now owned by `bag`
  if (!AddAttributes(bag.get(), entry, &localKeyId)) return win32::kEOutofmemory;
  if (!sk_PKCS12_SAFEBAG_push(bags, bag.get())) return win32::kEOutofmemory;
  bag.release();
  return 0;
}

uint32_t AddCertificateBag(const ExportEntry& entry, const Sha1Hash* localKeyId,
                           SafeBagStack* bags) {
  OsslPtr<PKCS12_SAFEBAG> bag(PKCS12_SAFEBAG_create_cert(entry.x509.get()));
  if (!bag || !AddAttributes(bag.get(), entry, localKeyId)) return win32::kEOutofmemory;
  if (!sk_PKCS12_SAFEBAG_push(bags, bag.get())) return win32::kEOutofmemory;
  bag.release();
  return 0;
}

// An EncryptedData safe (RFC 7292, 4.1; RFC 2315, 13) of `bags`.
uint32_t AddEncryptedSafe(SafeBagStack* bags, const PfxPassword& password, Pkcs7Stack* safes) {
  OsslPtr<PKCS7> safe(PKCS7_new());
  if (!safe || !PKCS7_set_type(safe.get(), NID_pkcs7_encrypted)) return win32::kEOutofmemory;
  OsslPtr<X509_ALGOR> algorithm = NewPbes2Algorithm();
  if (!algorithm) return win32::kNteFail;
  ASN1_OCTET_STRING* encrypted =
      PKCS12_item_i2d_encrypt_ex(algorithm.get(), ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password.data(),
                                 password.length(), bags, 1, OpensslContext(), nullptr);
  if (encrypted == nullptr) return win32::kNteFail;
  PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
  ASN1_OCTET_STRING_free(content->enc_data);
  content->enc_data = encrypted;
  X509_ALGOR_free(content->algorithm);
  content->algorithm = algorithm.release();
  if (!sk_PKCS7_push(safes, safe.get())) return win32::kEOutofmemory;
  safe.release();
  return 0;
}

uint32_t CollectEntries(const CertStore& store, std::vector<ExportEntry>* entries) {
  std::vector<CertContext> contexts;
  if (uint32_t error = store.enumerate(&contexts)) return error;
  std::vector<Sha1Hash> hashes;
  for (CertContext& context : contexts) {
    const Sha1Hash hash = context.sha1Hash();
    size_t i = 0;
    while (i < hashes.size() && hashes[i] != hash) ++i;
    if (i == hashes.size()) {
      ExportEntry entry;
      const unsigned char* der = context.encoded().data();
      entry.x509.reset(d2i_X509(nullptr, &der, static_cast<long>(context.encoded().size())));
      if (!entry.x509) return win32::kCryptEBadEncode;
      std::u16string name;
      if (context.friendlyName(&name) == 0) entry.friendlyName = std::move(name);
      entries->push_back(std::move(entry));
      hashes.push_back(hash);
    }
    (*entries)[i].references.push_back(std::move(context));
  }
  return 0;
}

uint32_t Export(const CertStore& store, const PfxPassword& password, uint32_t flags,
                const std::shared_ptr<PlatformDatabase>& db, ByteBuffer* out) {
  std::vector<ExportEntry> entries;
  if (uint32_t error = CollectEntries(store, &entries)) return error;
  if ((flags & kExportPrivateKeys) != 0) {
    for (ExportEntry& entry : entries) {
      KeyState state = KeyState::kMissing;
      if (uint32_t error = FindKey(&entry, db, &state)) return error;
      if (state == KeyState::kNotExportable && (flags & kReportNotAbleToExportPrivateKey) != 0) {
        return win32::kNteBadKey;
      }
      if (state == KeyState::kMissing && (flags & kReportNoPrivateKey) != 0) {
        return win32::kNteNoKey;
      }
    }
  }

  OsslPtr<SafeBagStack> certificateBags(sk_PKCS12_SAFEBAG_new_null());
  OsslPtr<SafeBagStack> keyBags(sk_PKCS12_SAFEBAG_new_null());
  OsslPtr<Pkcs7Stack> safes(sk_PKCS7_new_null());
  if (!certificateBags || !keyBags || !safes) return win32::kEOutofmemory;
  for (const ExportEntry& entry : entries) {
    // OpenSSL's choice too: the certificate's SHA-1 hash is unique in the
    // file and needs no counter.
    const Sha1Hash localKeyId = entry.references.front().sha1Hash();
    const Sha1Hash* id = entry.key ? &localKeyId : nullptr;
    if (uint32_t error = AddCertificateBag(entry, id, certificateBags.get())) return error;
    if (entry.key) {
      if (uint32_t error = AddKeyBag(entry, localKeyId, password, keyBags.get())) return error;
    }
  }
  if (sk_PKCS12_SAFEBAG_num(certificateBags.get()) > 0) {
    if (uint32_t error = AddEncryptedSafe(certificateBags.get(), password, safes.get())) {
      return error;
    }
  }
  if (sk_PKCS12_SAFEBAG_num(keyBags.get()) > 0) {
    // The keys are encrypted in their bags; their safe needs no more.
    OsslPtr<PKCS7> safe(PKCS12_pack_p7data(keyBags.get()));
    if (!safe || !sk_PKCS7_push(safes.get(), safe.get())) return win32::kEOutofmemory;
    safe.release();
  }

  OsslPtr<PKCS12> p12(PKCS12_init_ex(NID_pkcs7_data, OpensslContext(), nullptr));
  OsslPtr<EVP_MD> sha256(EVP_MD_fetch(OpensslContext(), "SHA2-256", nullptr));
  if (!p12 || !sha256 || !PKCS12_pack_authsafes(p12.get(), safes.get())) {
    return win32::kEOutofmemory;
  }
  if (!PKCS12_set_mac(p12.get(), password.data(), password.length(), nullptr, kSaltLength,
                      static_cast<int>(kPfxExportIterations), sha256.get())) {
    return win32::kNteFail;
  }
  unsigned char* der = nullptr;
  const int length = i2d_PKCS12(p12.get(), &der);
  if (length <= 0) return win32::kEOutofmemory;
  const bool stored = out->append(der, length);
  OPENSSL_free(der);
  return stored ? 0 : win32::kEOutofmemory;
}

}  // namespace

uint32_t PfxExportCertStore(const CertStore& store, const char16_t* password, uint32_t flags,
                            const std::shared_ptr<PlatformDatabase>& db, ByteBuffer* out) {
  OpensslErrorScope scope;
  if (out == nullptr) return win32::kEInvalidarg;
  out->clear();
  if (!store.valid()) return win32::kEInvalidarg;
  if ((flags & ~(kExportPrivateKeys | kReportNotAbleToExportPrivateKey | kReportNoPrivateKey)) !=
      0) {
    return win32::kNteBadFlags;
  }
  try {
    if (OpensslContext() == nullptr) return win32::kEOutofmemory;
    PfxPassword secret;
    if (uint32_t error = secret.assign(password)) return error;
    const uint32_t error = Export(store, secret, flags, db, out);
    if (error != 0) out->clear();
    return error;
  } catch (const std::bad_alloc&) {
    out->clear();
    return win32::kEOutofmemory;
  }
}

}  // namespace quorvant
