// Reading PKCS #12 files: the PFX test, password verification and import.
#include "platform/pkcs12/pkcs12.h"

#include <openssl/asn1.h>
#include <openssl/rand.h>

#include <climits>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/win32_errors.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/key_blob.h"
#include "platform/pkcs12/pkcs12_support.h"
#include "platform/stores/key_container_store.h"

namespace quorvant {
namespace {

using namespace pkcs12_detail;

// Nested safeContentsBags (RFC 7292, 4.2.6) deeper than this are refused.
constexpr int kMaxBagNesting = 8;
// Attempts at a fresh container name before giving up.
constexpr int kContainerNameAttempts = 4;

using Bytes = std::vector<uint8_t>;

struct PfxCertificate {
  OsslPtr<X509> x509;
  Bytes der;
  Bytes localKeyId;
  std::optional<std::u16string> friendlyName;
  // Index into PfxContents::keys, or -1.
  int key = -1;
};

struct PfxKey {
  OsslPtr<EVP_PKEY> key;
  Bytes localKeyId;
  std::optional<std::u16string> friendlyName;
};

struct PfxContents {
  std::vector<PfxCertificate> certificates;
  std::vector<PfxKey> keys;
  PfxImportReport report;
};

// The work one file may ask for, charged before it is done.
class WorkBudget {
 public:
  uint32_t chargeIterations(uint64_t count) {
    iterations_ += count;
    return iterations_ > kPfxMaxTotalIterations ? win32::kErrorNotEnoughQuota : 0;
  }
  uint32_t chargeBags(uint32_t bags, uint32_t certificates, uint32_t keys) {
    bags_ += bags;
    certificates_ += certificates;
    keys_ += keys;
    return bags_ > kPfxMaxBags || certificates_ > kPfxMaxCertificates || keys_ > kPfxMaxKeys
               ? win32::kErrorNotEnoughQuota
               : 0;
  }

 private:
  uint64_t iterations_ = 0;
  uint32_t bags_ = 0;
  uint32_t certificates_ = 0;
  uint32_t keys_ = 0;
};


// The bags of one list, its certificates and its keys.
uint32_t ChargeBagCounts(const SafeBagStack* bags, WorkBudget* budget) {
  uint32_t certificates = 0;
  uint32_t keys = 0;
  const int count = sk_PKCS12_SAFEBAG_num(bags);
  for (int i = 0; i < count; ++i) {
    const int nid = PKCS12_SAFEBAG_get_nid(sk_PKCS12_SAFEBAG_value(bags, i));
    if (nid == NID_certBag) ++certificates;
    if (nid == NID_keyBag || nid == NID_pkcs8ShroudedKeyBag) ++keys;
  }
  return budget->chargeBags(static_cast<uint32_t>(count > 0 ? count : 0), certificates, keys);
}

// Reads the header of a constructed universal SEQUENCE at *p, leaving *p at
// its content. *remaining shrinks by the header's size.
bool EnterSequence(const unsigned char** p, long* remaining) {
  const unsigned char* start = *p;
  long length = 0;
  int tag = 0;
  int cls = 0;
  const int ret = ASN1_get_object(p, &length, &tag, &cls, *remaining);
  if ((ret & 0x80) != 0 || (ret & V_ASN1_CONSTRUCTED) == 0 || tag != V_ASN1_SEQUENCE ||
      cls != V_ASN1_UNIVERSAL) {
    return false;
  }
  *remaining -= *p - start;
  return true;
}

// Decodes the PFX (RFC 7292, 4): the whole blob, version 3. *authSafeType
// receives the content type of the authSafe ContentInfo.
uint32_t ParsePfx(std::span<const uint8_t> blob, OsslPtr<PKCS12>* out, int* authSafeType) {
  if (blob.empty() || blob.size() > static_cast<size_t>(LONG_MAX)) return win32::kCryptEBadEncode;
  if (blob.size() > kPfxMaxFileSize) return win32::kErrorFileTooLarge;
  const long total = static_cast<long>(blob.size());
  // PFX ::= SEQUENCE { version INTEGER {v3(3)}, authSafe ContentInfo, ... }:
  // OpenSSL's decoder reads any version, so the first fields are read here.
  const unsigned char* p = blob.data();
  long remaining = total;
  if (!EnterSequence(&p, &remaining)) return win32::kCryptEBadEncode;
  const unsigned char* field = p;
  OsslPtr<ASN1_INTEGER> version(
      d2i_ASN1_INTEGER(nullptr, &p, remaining));
  if (!version || ASN1_INTEGER_get(version.get()) != 3) return win32::kCryptEBadEncode;
  remaining -= p - field;
  if (!EnterSequence(&p, &remaining)) return win32::kCryptEBadEncode;
  OsslPtr<ASN1_OBJECT> type(d2i_ASN1_OBJECT(nullptr, &p, remaining));
  if (!type) return win32::kCryptEBadEncode;

  const unsigned char* whole = blob.data();
  OsslPtr<PKCS12> p12(d2i_PKCS12(nullptr, &whole, total));
  if (!p12 || whole != blob.data() + total) return win32::kCryptEBadEncode;
  *authSafeType = OBJ_obj2nid(type.get());
  *out = std::move(p12);
  return 0;
}

// The MAC (RFC 7292, 5) with the password: 0 or ERROR_INVALID_PASSWORD;
// CRYPT_E_UNKNOWN_ALGO for a digest or iteration count we refuse.
uint32_t VerifyMac(PKCS12* p12, const PfxPassword& password, WorkBudget* budget) {
  const X509_ALGOR* macAlgorithm = nullptr;
  const ASN1_INTEGER* iterations = nullptr;
  PKCS12_get0_mac(nullptr, &macAlgorithm, nullptr, &iterations, p12);
  if (macAlgorithm == nullptr) return win32::kCryptEBadEncode;
  if (!IterationCountAllowed(iterations)) return win32::kCryptEUnknownAlgo;
  if (uint32_t error = budget->chargeIterations(IterationCount(iterations))) return error;
  const ASN1_OBJECT* digestOid = nullptr;
  X509_ALGOR_get0(&digestOid, nullptr, nullptr, macAlgorithm);
  const int digestNid = OBJ_obj2nid(digestOid);
  // PKCS12_verify_mac computes in OpenSSL's default library context.
  OsslPtr<EVP_MD> digest(digestNid == NID_undef ? nullptr
                                         : EVP_MD_fetch(nullptr, OBJ_nid2sn(digestNid), nullptr));
  if (!digest) return win32::kCryptEUnknownAlgo;
  return PKCS12_verify_mac(p12, password.data(), password.length()) == 1
             ? 0
             : win32::kErrorInvalidPassword;
}

Bytes OctetAttribute(const PKCS12_SAFEBAG* bag, int nid) {
  const ASN1_TYPE* value = PKCS12_SAFEBAG_get0_attr(bag, nid);
  if (value == nullptr || value->type != V_ASN1_OCTET_STRING) return {};
  const ASN1_OCTET_STRING* s = value->value.octet_string;
  return Bytes(s->data, s->data + s->length);
}

// friendlyName is a BMPString (RFC 2985, 5.5.1): UTF-16 code units, most
// significant byte first.
std::optional<std::u16string> FriendlyName(const PKCS12_SAFEBAG* bag) {
  const ASN1_TYPE* value = PKCS12_SAFEBAG_get0_attr(bag, NID_friendlyName);
  if (value == nullptr || value->type != V_ASN1_BMPSTRING) return std::nullopt;
  const ASN1_BMPSTRING* s = value->value.bmpstring;
  if (s->length % 2 != 0) return std::nullopt;
  std::u16string name;
  for (int i = 0; i + 1 < s->length; i += 2) {
    name.push_back(static_cast<char16_t>(s->data[i] << 8 | s->data[i + 1]));
  }
  return name;
}

// Walks the authenticated safe (RFC 7292, 4.1) and its bags. In full mode
// every certificate and key is collected; in verification mode the walk
// stops after the first protected item has been decrypted.
class SafeWalker {
 public:
  SafeWalker(const PfxPassword& password, PfxContents* contents, WorkBudget* budget)
      : password_(password), contents_(contents), budget_(budget) {}

  bool sawProtectedItem() const { return sawProtected_; }

  // The lists of the authenticated safe; `plain`, when given, holds the
  // bags of its plain lists already unpacked (null for the others).
  uint32_t walk(const Pkcs7Stack* safes, const std::vector<OsslPtr<SafeBagStack>>* plain) {
    for (int i = 0; i < sk_PKCS7_num(safes) && !done(); ++i) {
      PKCS7* safe = sk_PKCS7_value(safes, i);
      const SafeBagStack* unpacked = plain != nullptr ? (*plain)[i].get() : nullptr;
      OsslPtr<SafeBagStack> bags;
      if (unpacked == nullptr) {
        if (uint32_t error = unpackSafe(safe, &bags)) return error;
        if (done()) break;
        unpacked = bags.get();
      }
      if (uint32_t error = walkBags(unpacked, 0)) return error;
    }
    return 0;
  }

 private:
  bool done() const { return contents_ == nullptr && sawProtected_; }

  uint32_t unpackSafe(PKCS7* safe, OsslPtr<SafeBagStack>* bags) {
    switch (OBJ_obj2nid(safe->type)) {
      case NID_pkcs7_data:
        bags->reset(PKCS12_unpack_p7data(safe));
        return *bags ? 0 : win32::kCryptEBadEncode;
      case NID_pkcs7_encrypted: {
        const PKCS7_ENC_CONTENT* content =
            safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
        if (content == nullptr || content->enc_data == nullptr) return win32::kCryptEBadEncode;
        uint64_t iterations = 0;
        if (uint32_t error = CheckPbeAlgorithm(content->algorithm, &iterations)) return error;
        if (uint32_t error = budget_->chargeIterations(iterations)) return error;
        sawProtected_ = true;
        // The decrypted bytes are wiped (zbuf) and must parse as
        // SafeContents, which a wrong key all but never gives.
        bags->reset(static_cast<SafeBagStack*>(PKCS12_item_decrypt_d2i_ex(
            content->algorithm, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password_.data(),
            password_.length(), content->enc_data, 1, OpensslContext(), nullptr)));
        return *bags ? 0 : win32::kErrorInvalidPassword;
      }
      case NID_pkcs7_enveloped:
        return win32::kCryptEInvalidMsgType;
      default:
        return win32::kCryptEBadEncode;
    }
  }

  uint32_t walkBags(const SafeBagStack* bags, int depth) {
    if (depth > kMaxBagNesting) return win32::kCryptEBadEncode;
    // The whole list is counted before any of its keys is decrypted.
    if (uint32_t error = ChargeBagCounts(bags, budget_)) return error;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags) && !done(); ++i) {
      const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
      uint32_t error = 0;
      switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_certBag:
          error = certificateBag(bag);
          break;
        case NID_keyBag:
          if (contents_ != nullptr) {
            ++contents_->report.keys;
            addKey(bag, PKCS12_SAFEBAG_get0_p8inf(bag));
          }
          break;
        case NID_pkcs8ShroudedKeyBag:
          error = shroudedKeyBag(bag);
          break;
        case NID_safeContentsBag:
          error = walkBags(PKCS12_SAFEBAG_get0_safes(bag), depth + 1);
          break;
        default:
          // CRL and secret bags carry nothing the store holds.
          if (contents_ != nullptr) ++contents_->report.otherBags;
          break;
      }
      if (error != 0) return error;
    }
    return 0;
  }

  uint32_t certificateBag(const PKCS12_SAFEBAG* bag) {
    if (contents_ == nullptr) return 0;
    if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) {
      ++contents_->report.otherBags;
      return 0;
    }
    ++contents_->report.certificates;
    PfxCertificate certificate;
    certificate.x509.reset(PKCS12_SAFEBAG_get1_cert(bag));
    if (!certificate.x509) return win32::kCryptEBadEncode;
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.x509.get(), &der);
    if (length <= 0) return win32::kCryptEBadEncode;
    certificate.der.assign(der, der + length);
    OPENSSL_free(der);
    certificate.localKeyId = OctetAttribute(bag, NID_localKeyID);
    certificate.friendlyName = FriendlyName(bag);
    contents_->certificates.push_back(std::move(certificate));
    return 0;
  }

  uint32_t shroudedKeyBag(const PKCS12_SAFEBAG* bag) {
    const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
    if (shrouded == nullptr) return win32::kCryptEBadEncode;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* encrypted = nullptr;
    X509_SIG_get0(shrouded, &algorithm, &encrypted);
    if (encrypted == nullptr) return win32::kCryptEBadEncode;
    uint64_t iterations = 0;
    if (uint32_t error = CheckPbeAlgorithm(algorithm, &iterations)) return error;
    if (uint32_t error = budget_->chargeIterations(iterations)) return error;
    sawProtected_ = true;
    if (contents_ != nullptr) ++contents_->report.keys;
    OsslPtr<PKCS8_PRIV_KEY_INFO> info(PKCS8_decrypt_ex(shrouded, password_.data(), password_.length(),
                                            OpensslContext(), nullptr));
    if (!info) return win32::kErrorInvalidPassword;
    if (contents_ != nullptr) addKey(bag, info.get());
    return 0;
  }

  // Keys OpenSSL cannot turn into a key object are passed over like keys
  // of an algorithm the providers do not hold.
  void addKey(const PKCS12_SAFEBAG* bag, const PKCS8_PRIV_KEY_INFO* info) {
    if (info == nullptr) return;
    PfxKey key;
    key.key.reset(EVP_PKCS82PKEY_ex(info, OpensslContext(), nullptr));
    if (!key.key) return;
    key.localKeyId = OctetAttribute(bag, NID_localKeyID);
    key.friendlyName = FriendlyName(bag);
    contents_->keys.push_back(std::move(key));
  }

  const PfxPassword& password_;
  // Null in verification mode.
  PfxContents* contents_;
  WorkBudget* budget_;
  bool sawProtected_ = false;
};

// The bags of one plain list and the counts of its shrouded keys, nested
// lists included.
uint32_t ChargeVisibleBags(const SafeBagStack* bags, int depth, WorkBudget* plan) {
  if (depth > kMaxBagNesting) return win32::kCryptEBadEncode;
  if (uint32_t error = ChargeBagCounts(bags, plan)) return error;
  for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
    const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
    const int nid = PKCS12_SAFEBAG_get_nid(bag);
    if (nid == NID_safeContentsBag) {
      if (uint32_t error = ChargeVisibleBags(PKCS12_SAFEBAG_get0_safes(bag), depth + 1, plan)) {
        return error;
      }
    } else if (nid == NID_pkcs8ShroudedKeyBag) {
      const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag);
      if (shrouded == nullptr) return win32::kCryptEBadEncode;
      const X509_ALGOR* algorithm = nullptr;
      X509_SIG_get0(shrouded, &algorithm, nullptr);
      uint64_t iterations = 0;
      if (uint32_t error = CheckPbeAlgorithm(algorithm, &iterations)) return error;
      if (uint32_t error = plan->chargeIterations(iterations)) return error;
    }
  }
  return 0;
}

// Everything a file asks for that shows without the password (the MAC's
// count, each encrypted list's, the bags of the plain lists and the counts
// of their shrouded keys), charged to a budget of its own before an
// import's first derivation: a file over a limit is refused at once, not
// after the work it was allowed to ask for first.
// The authenticated safe's lists, unpacked once for the charge and the
// walk: the bags of each plain list beside it (null for the others).
struct AuthenticatedSafe {
  OsslPtr<Pkcs7Stack> safes;
  std::vector<OsslPtr<SafeBagStack>> plain;
};

uint32_t UnpackAuthenticatedSafe(PKCS12* p12, AuthenticatedSafe* out) {
  out->safes.reset(PKCS12_unpack_authsafes(p12));
  if (!out->safes) return win32::kCryptEBadEncode;
  const int count = sk_PKCS7_num(out->safes.get());
  out->plain.resize(count > 0 ? static_cast<size_t>(count) : 0);
  for (int i = 0; i < count; ++i) {
    PKCS7* safe = sk_PKCS7_value(out->safes.get(), i);
    if (OBJ_obj2nid(safe->type) != NID_pkcs7_data) continue;
    out->plain[static_cast<size_t>(i)].reset(PKCS12_unpack_p7data(safe));
    if (!out->plain[static_cast<size_t>(i)]) return win32::kCryptEBadEncode;
  }
  return 0;
}

uint32_t ChargeVisibleWork(PKCS12* p12, const AuthenticatedSafe& unpacked) {
  WorkBudget plan;
  if (PKCS12_mac_present(p12)) {
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(nullptr, nullptr, nullptr, &iterations, p12);
    if (!IterationCountAllowed(iterations)) return win32::kCryptEUnknownAlgo;
    if (uint32_t error = plan.chargeIterations(IterationCount(iterations))) return error;
  }
  for (int i = 0; i < sk_PKCS7_num(unpacked.safes.get()); ++i) {
    PKCS7* safe = sk_PKCS7_value(unpacked.safes.get(), i);
    if (const SafeBagStack* bags = unpacked.plain[static_cast<size_t>(i)].get()) {
      if (uint32_t error = ChargeVisibleBags(bags, 0, &plan)) return error;
    } else if (OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted) {
      const PKCS7_ENC_CONTENT* content =
          safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
      if (content == nullptr) return win32::kCryptEBadEncode;
      uint64_t iterations = 0;
      if (uint32_t error = CheckPbeAlgorithm(content->algorithm, &iterations)) return error;
      if (uint32_t error = plan.chargeIterations(iterations)) return error;
    }
  }
  return 0;
}

uint32_t CheckPassword(PKCS12* p12, int authSafeType, const PfxPassword& password) {
  // Public-key integrity mode (a signed authSafe) is not supported.
  if (authSafeType != NID_pkcs7_data) return win32::kCryptEInvalidMsgType;
  // One derivation at most (the MAC's, or the first protected item's), each
  // under the single limit: the file's other counts matter to an import.
  WorkBudget budget;
  if (PKCS12_mac_present(p12)) return VerifyMac(p12, password, &budget);
  OsslPtr<Pkcs7Stack> safes(PKCS12_unpack_authsafes(p12));
  if (!safes) return win32::kCryptEBadEncode;
  SafeWalker walker(password, nullptr, &budget);
  return walker.walk(safes.get(), nullptr);
}

// Gives each certificate the RSA key whose public half it carries,
// preferring the key with the certificate's localKeyId, else the first in
// file order. Keys are found by their public numbers in a hash map, so the
// work grows with the file, not with certificates times keys.
void MatchKeys(PfxContents* contents) {
  std::unordered_map<std::string, std::vector<size_t>> keysByPublicKey;
  for (size_t k = 0; k < contents->keys.size(); ++k) {
    const EVP_PKEY* key = contents->keys[k].key.get();
    std::string id;
    if (EVP_PKEY_is_a(key, "RSA") && RsaPublicKeyId(key, &id)) keysByPublicKey[id].push_back(k);
  }
  for (PfxCertificate& certificate : contents->certificates) {
    std::string id;
    if (!RsaPublicKeyId(X509_get0_pubkey(certificate.x509.get()), &id)) continue;
    const auto found = keysByPublicKey.find(id);
    if (found == keysByPublicKey.end()) continue;
    certificate.key = static_cast<int>(found->second.front());
    if (certificate.localKeyId.empty()) continue;
    for (size_t k : found->second) {
      if (contents->keys[k].localKeyId == certificate.localKeyId) {
        certificate.key = static_cast<int>(k);
        break;
      }
    }
  }
}

// A fresh container name in the form "{8-4-4-4-12}" of upper-case hex
// digits: a random (version 4) UUID, RFC 9562, 5.4.
bool NewContainerName(std::string* out) {
  uint8_t b[16];
  if (RAND_bytes(b, sizeof b) != 1) return false;
  b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
  b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  *out = text;
  return true;
}

// The containers an import has made so far; removed again unless the
// import completes.
class CreatedContainers {
 public:
  explicit CreatedContainers(std::shared_ptr<PlatformDatabase> db) : db_(std::move(db)) {}
  CreatedContainers(const CreatedContainers&) = delete;
  CreatedContainers& operator=(const CreatedContainers&) = delete;
  ~CreatedContainers() {
    if (keep_) return;
    for (const std::string& name : names_) remove(name);
  }

  // A new container of the default PROV_RSA_FULL provider holding `blob`
  // as its key exchange pair; *info receives where it lives.
  uint32_t create(const ByteBuffer& blob, uint32_t flags, KeyProviderInfo* info) {
    std::unique_ptr<ProviderContext> context;
    std::string name;
    uint32_t error = win32::kNteExists;
    for (int attempt = 0; attempt < kContainerNameAttempts && error == win32::kNteExists;
         ++attempt) {
      if (!NewContainerName(&name)) return win32::kNteFail;
      error = ProviderContext::AcquireUtf8(name, "", kProvRsaFull, kCryptNewkeyset, &context, db_);
    }
    if (error != 0) return error;
    names_.push_back(name);
    // Marked before the key is stored: if this process dies from here on,
    // the next user of the database removes the container and its key.
    if (db_ && !db_->inMemory()) {
      if ((error = KeyContainerStore(db_).markTemporary(name)) != 0) return error;
    }
    std::unique_ptr<CryptKey> key;
    if ((error = context->importKey(blob.bytes(), flags, &key)) != 0) return error;
    *info = context->keyProviderInfo(kAtKeyExchange);
    return 0;
  }

  void keep() { keep_ = true; }

 private:
  void remove(const std::string& name) {
    std::unique_ptr<ProviderContext> none;
    (void)ProviderContext::AcquireUtf8(name, "", kProvRsaFull, kCryptDeletekeyset, &none, db_);
  }

  std::shared_ptr<PlatformDatabase> db_;
  std::vector<std::string> names_;
  bool keep_ = false;
};

uint32_t ImportContents(PfxContents& contents, uint32_t flags,
                        const std::shared_ptr<PlatformDatabase>& db, CertStore* out) {
  MatchKeys(&contents);
  // The private key blobs first: a key that does not fit the layout of
  // the providers' key blob is passed over like a key of another type.
  std::vector<ByteBuffer> blobs(contents.keys.size());
  std::vector<std::optional<KeyProviderInfo>> placed(contents.keys.size());
  for (PfxCertificate& certificate : contents.certificates) {
    if (certificate.key < 0) continue;
    const size_t k = static_cast<size_t>(certificate.key);
    if (blobs[k].empty() &&
        EncodeRsaPrivateKeyBlob(contents.keys[k].key.get(), kCalgRsaKeyx, &blobs[k]) != 0) {
      certificate.key = -1;
    }
  }

  CertStore store = CertStore::OpenMemory();
  CreatedContainers containers(db);
  for (const PfxCertificate& certificate : contents.certificates) {
    CertContext added;
    if (uint32_t error = store.addEncoded(certificate.der, AddDisposition::kAlways, &added)) {
      return error;
    }
    const PfxKey* key =
        certificate.key >= 0 ? &contents.keys[static_cast<size_t>(certificate.key)] : nullptr;
    const std::optional<std::u16string>& name =
        certificate.friendlyName || key == nullptr ? certificate.friendlyName : key->friendlyName;
    if (name) {
      if (uint32_t error = added.setFriendlyName(*name)) return error;
    }
    if (key == nullptr) continue;
    const size_t k = static_cast<size_t>(certificate.key);
    if (!placed[k]) {
      KeyProviderInfo info;
      if (uint32_t error = containers.create(blobs[k], flags, &info)) return error;
      placed[k] = std::move(info);
      blobs[k].clear();
    }
    if (uint32_t error = added.setKeyProviderInfo(*placed[k])) return error;
  }
  for (const auto& key : placed) {
    if (key) ++contents.report.keysPlaced;
  }
  containers.keep();
  *out = std::move(store);
  return 0;
}

}  // namespace

bool PfxIsPfxBlob(std::span<const uint8_t> blob) {
  OpensslErrorScope scope;
  try {
    OsslPtr<PKCS12> p12;
    int authSafeType = NID_undef;
    return ParsePfx(blob, &p12, &authSafeType) == 0;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool PfxVerifyPassword(std::span<const uint8_t> blob, const char16_t* password, uint32_t flags,
                       uint32_t* error) {
  OpensslErrorScope scope;
  uint32_t result = 0;
  try {
    PfxPassword secret;
    OsslPtr<PKCS12> p12;
    int authSafeType = NID_undef;
    if (flags != 0) {
      result = win32::kNteBadFlags;
    } else if (OpensslContext() == nullptr) {
      result = win32::kEOutofmemory;
    } else if ((result = secret.assign(password)) == 0 &&
               (result = ParsePfx(blob, &p12, &authSafeType)) == 0) {
      result = CheckPassword(p12.get(), authSafeType, secret);
    }
  } catch (const std::bad_alloc&) {
    result = win32::kEOutofmemory;
  }
  if (error != nullptr) *error = result;
  return result == 0;
}

uint32_t PfxImportCertStore(std::span<const uint8_t> blob, const char16_t* password, uint32_t flags,
                            const std::shared_ptr<PlatformDatabase>& db, CertStore* out,
                            PfxImportReport* report) {
  OpensslErrorScope scope;
  if (out == nullptr) return win32::kEInvalidarg;
  if ((flags & ~(kCryptExportable | kCryptUserProtected)) != 0) return win32::kNteBadFlags;
  try {
    if (OpensslContext() == nullptr) return win32::kEOutofmemory;
    PfxPassword secret;
    if (uint32_t error = secret.assign(password)) return error;
    OsslPtr<PKCS12> p12;
    int authSafeType = NID_undef;
    if (uint32_t error = ParsePfx(blob, &p12, &authSafeType)) return error;
    if (authSafeType != NID_pkcs7_data) return win32::kCryptEInvalidMsgType;
    AuthenticatedSafe unpacked;
    if (uint32_t error = UnpackAuthenticatedSafe(p12.get(), &unpacked)) return error;
    if (uint32_t error = ChargeVisibleWork(p12.get(), unpacked)) return error;
    // With a MAC the file is authenticated first; without one, every
    // encrypted item below must decrypt with the password.
    WorkBudget budget;
    if (PKCS12_mac_present(p12.get())) {
      if (uint32_t error = VerifyMac(p12.get(), secret, &budget)) return error;
    }
    PfxContents contents;
    SafeWalker walker(secret, &contents, &budget);
    if (uint32_t error = walker.walk(unpacked.safes.get(), &unpacked.plain)) return error;
    if (uint32_t error = ImportContents(contents, flags, db, out)) return error;
    if (report != nullptr) *report = contents.report;
    return 0;
  } catch (const std::bad_alloc&) {
    return win32::kEOutofmemory;
  }
}

}  // namespace quorvant
