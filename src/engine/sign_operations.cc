// Signer selection (SelectSigner, SelectSignerEx, SelectSignerEx2) and the
// two signatures over the selected signer (SignPkcs1, SignPkcs7).
//
// The selected signer is six fields: media (1 the personal store, 2 a PFX
// file), thumbprint, certificate, and for a PFX its folder, name and
// password. SelectSignerEx2 publishes it in the property store, where
// another engine, in this process or another, takes it over without asking
// the user again; what it takes is checked as carefully as a selection,
// because any process of the user can write there.
//
// Signing finds the certificate again by its thumbprint (in MY, or in the
// PFX file opened anew), acquires its key, makes sure that key is the
// certificate's own, and has the provider sign a digest our own engines
// computed.
#include <string.h>  // explicit_bzero
#include <sys/stat.h>

#include <openssl/x509.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <string>
#include <vector>

#include "base/openssl.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "certs/certificate_info.h"
#include "certs/chooser_rows.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "encoding/hex.h"
#include "engine/security_engine.h"
#include "pfx/certificate_filter.h"
#include "pfx/pfx_files.h"
#include "pfx/pfx_store.h"
#include "platform/stores/certificate_chain.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/database/platform_database.h"
#include "platform/keys/rsa_key.h"
#include "sign/hashing.h"
#include "sign/signed_data.h"
#include "sign/signer_rules.h"

namespace quorvant {
namespace {

constexpr char kPersonalStore[] = "MY";
constexpr int32_t kMediaPersonalStore = 1;
constexpr int32_t kMediaPfxFile = 2;
constexpr int32_t kLookInPersonalStore = 0x100;
constexpr int32_t kLookInPfxFile = 0x200;
constexpr int32_t kTestValidity = 0x04;
constexpr int32_t kPfxExportableKeys = 0x1;

// Every PFX file that selection and signing open goes through here, so the
// way its keys are held is decided in one place.
int32_t OpenSignerPfx(std::string_view path, std::string_view password, PfxStore* pfx) {
  return pfx->open(path, password, kPfxExportableKeys);
}

// Passwords leave no copy behind in memory we release.
void Wipe(std::string& secret) {
  if (!secret.empty()) explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

// A password held for the length of one step.
struct WipedText {
  std::string value;
  ~WipedText() { Wipe(value); }
};

// A comparison date, when given, replaces the current time and forces the
// validity test. False for a text that is no date.
bool ApplyCompareDate(TextArg text, int32_t* flags, int64_t* validityTime) {
  if (text.empty()) return true;
  const auto date = ParseCompareDate(ToNarrow(text));
  if (!date) return false;
  *validityTime = *date;
  *flags |= kTestValidity;
  return true;
}

// A regular file at the path. A FIFO, a device or a directory is no PFX
// file, and opening one could block.
bool IsRegularFile(const std::string& narrowPath, struct stat* st = nullptr) {
  struct stat local {};
  struct stat* out = st ? st : &local;
  return !narrowPath.empty() && ::stat(OsPathFromNarrow(narrowPath).c_str(), out) == 0 &&
         S_ISREG(out->st_mode);
}

// The same file, by device and inode: names that differ in case are
// different files here.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return IsRegularFile(a, &sa) && IsRegularFile(b, &sb) && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string Thumbprint(const CertContext& certificate) {
  const Sha1Hash hash = certificate.sha1Hash();
  ByteBuffer hex;
  if (!HexEncode(hash.data(), static_cast<int32_t>(hash.size()), hex)) return std::string();
  return std::string(hex.view());
}

bool AssignBytes(ByteBuffer& out, std::span<const uint8_t> bytes) {
  out.clear();
  return bytes.empty() || out.append(bytes.data(), static_cast<int32_t>(bytes.size()));
}

// The text to be signed: its code-page bytes, or its UTF-16 code units low
// byte first, without a terminator either way.
bool ContentBytes(TextArg content, bool ansi, ByteBuffer* out) {
  out->clear();
  if (ansi) {
    std::string narrow;
    if (!NarrowFromWide(content, &narrow)) return false;
    return narrow.empty() || out->append(narrow.data(), static_cast<int32_t>(narrow.size()));
  }
  static_assert(std::endian::native == std::endian::little);
  return out->append(content.data(), static_cast<int32_t>(content.size() * sizeof(char16_t)));
}

}  // namespace

// The private key of a signer's certificate: the provider that holds it and
// the key pair, loaded once for the check and the signature.
struct SignerKey {
  std::shared_ptr<ProviderContext> provider;
  uint32_t keySpec = 0;
  std::shared_ptr<CryptKey> pair;
};

namespace {

// CryptAcquireCertificatePrivateKey. A key context held in memory (a PFX
// whose keys never went to the key database) wins over the key provider
// information. A refusal is 5206 from the software providers and 5225 from
// any other (a token that is not ready).
Outcome AcquireSignerKey(const CertContext& certificate, const KeyProviderInfo& info,
                         std::shared_ptr<PlatformDatabase> db, SignerKey* out) {
  const bool software = info.providerName.find(u"Microsoft") != std::u16string::npos;
  if (auto context = certificate.keyContext(); context && context->provider) {
    out->provider = context->provider;
    out->keySpec = context->keySpec;
  } else {
    std::unique_ptr<ProviderContext> provider;
    if (uint32_t error =
            AcquireCertificatePrivateKey(info, 0, &provider, &out->keySpec, std::move(db))) {
      return Outcome::Fail(software ? rc::kPersonalStoreDenied : rc::kTokenNotReady, error);
    }
    out->provider = std::move(provider);
  }
  std::unique_ptr<CryptKey> pair;
  if (uint32_t error = out->provider->getUserKey(out->keySpec, &pair)) {
    return Outcome::Fail(software ? rc::kPersonalStoreDenied : rc::kTokenNotReady, error);
  }
  out->pair = std::move(pair);
  return Outcome::Ok();
}

// A key that is not the certificate's own would make a signature nobody can
// verify; a stale binding or a PFX whose key was replaced is refused here.
Outcome CheckKeyMatchesCertificate(const SignerKey& key, const CertContext& certificate) {
  Certificate parsed;
  if (uint32_t error = Certificate::Parse(certificate.encoded(), &parsed)) {
    return Outcome::Fail(rc::kPersonalStoreDenied, error);
  }
  const auto spki = parsed.subjectPublicKeyInfo();
  const unsigned char* p = spki.data();
  OpensslErrorScope errors;
  OsslPtr<EVP_PKEY> certificateKey(
      d2i_PUBKEY_ex(nullptr, &p, static_cast<long>(spki.size()), OpensslContext(), nullptr));
  if (!certificateKey || key.pair->rsaKey() == nullptr ||
      EVP_PKEY_eq(certificateKey.get(), key.pair->rsaKey()) != 1) {
    return Outcome::Fail(rc::kPersonalStoreDenied, win32::kNteBadPublicKey);
  }
  return Outcome::Ok();
}

// The provider's PKCS #1 v1.5 signature of a finished digest with its key
// (what CryptSignHash does with a hash whose value was set), least
// significant byte first; over the key already loaded, so a signature reads
// the key database once.
Outcome ProviderSign(const SignerKey& key, uint32_t hashAlgId, std::span<const uint8_t> digest,
                     ByteBuffer* signature) {
  uint32_t error = 0;
  if (key.provider->silent() && (key.pair->flags() & kCryptUserProtected) != 0) {
    error = win32::kNteSilentContext;
  } else {
    error = SignDigestPkcs1(key.pair->rsaKey(), hashAlgId, digest, true, signature);
  }
  if (error != 0) return Outcome::Fail(rc::kSignFailed, error);
  return Outcome::Ok();
}

// What a failed signature means to the caller of SignPkcs7: a cancelled PIN
// prompt, a wrong or blocked PIN, or a plain failure.
int32_t SigningErrorCode(uint32_t systemError) {
  switch (systemError) {
    case win32::kErrorCancelled:
    case win32::kScardWCancelledByUser:
      return rc::kUserCancelled;
    case win32::kScardWWrongChv:
      return rc::kSmartCardWrongPin;
    case win32::kScardWChvBlocked:
      return rc::kSmartCardPinBlocked;
    default:
      return rc::kSignFailed;
  }
}

int32_t DialogCode(DialogOutcome outcome) {
  return outcome == DialogOutcome::kCancel ? rc::kUserCancelled : rc::kAllocationFailed;
}

}  // namespace

// What one selection operation was asked.
struct SecurityEngine::SignerSearch {
  enum class Kind { kBasic, kEx, kEx2 } kind = Kind::kBasic;
  std::string filterText;
  std::string pfxFolder;
  std::string pfxName;
  std::string password;  // SelectSignerEx only
  int32_t dwFlags = 0;
  int32_t dwKeyUsage = 0;
  int32_t dwPort = 0;
  int64_t validityTime = 0;

  ~SignerSearch() { Wipe(password); }
  CertificateFilterRequest filter() const {
    return CertificateFilterRequest{filterText, dwFlags, dwKeyUsage, validityTime};
  }
};

// The signer's store while one signature is made.
struct SecurityEngine::SignerStore {
  SignerStore(std::shared_ptr<PlatformDatabase> db, std::shared_ptr<PlatformDatabase> pfxKeys)
      : userKeys(std::move(db)), pfx(PfxKeyPlacement::kMemory, std::move(pfxKeys)) {}
  // Where the signer's key lives: the PFX file's own database in memory for
  // a PFX signer (its keys never reach the disk), the user's for MY.
  const std::shared_ptr<PlatformDatabase>& keys() const {
    return pfx.isOpen() ? pfx.keyDatabase() : userKeys;
  }
  std::shared_ptr<PlatformDatabase> userKeys;
  CertStore store;  // MY, or the PFX file's store
  PfxStore pfx;
};

std::shared_ptr<PlatformDatabase> SecurityEngine::signerPfxKeyDatabase() {
  if (!pfxKeyDatabase) {
    uint32_t ignored = 0;
    // Without one, each PFX open makes its own.
    pfxKeyDatabase = PlatformDatabase::OpenInMemory(&ignored);
  }
  return pfxKeyDatabase;
}

std::shared_ptr<PlatformDatabase> SecurityEngine::signerKeyDatabase() {
  const std::string path = PlatformDatabase::DefaultPath();
  if (!keyDatabase || keyDatabase->path() != path) {
    uint32_t ignored = 0;
    // When it cannot be opened, each platform call opens its own and
    // reports its own error.
    keyDatabase = path.empty() ? nullptr : PlatformDatabase::Open(path, &ignored);
  }
  return keyDatabase;
}

bool SecurityEngine::useWarmSignerKey(std::shared_ptr<CryptKey>* key) {
  if (!warmSignerKey || warmSignerHash != signerCertHash ||
      EVP_PKEY_eq(warmSignerKey->rsaKey(), (*key)->rsaKey()) != 1) {
    return false;
  }
  *key = warmSignerKey;
  return true;
}

void SecurityEngine::keepWarmSignerKey(const std::shared_ptr<CryptKey>& key) {
  warmSignerKey = key;
  warmSignerHash = signerCertHash;
}

void SecurityEngine::clearSelectedSigner() {
  warmSignerKey.reset();
  warmSignerHash.clear();
  signerMedia = -1;
  signerCertHash.clear();
  signerCertBytes.clear();
  Wipe(signerCertPasswd);
  signerCertFilePath.clear();
  signerCertFileName.clear();
}

void SecurityEngine::recordCodes(Outcome outcome) {
  errorCode = outcome.code();
  capiErrorCode = outcome.systemError();
}

// --- Selection -------------------------------------------------------------------

int32_t SecurityEngine::SelectSigner(TextArg certFilter, int32_t dwFlags, int32_t dwKeyUsage) {
  clearCodes();
  clearSelectedSigner();
  if (refuseInProtectedMode()) return errorCode;
  SignerSearch search;
  search.kind = SignerSearch::Kind::kBasic;
  search.filterText = ToNarrow(certFilter);
  search.dwFlags = dwFlags;
  search.dwKeyUsage = dwKeyUsage;
  search.validityTime = services.host.clock->nowUnixSeconds();
  return selectSigner(search);
}

int32_t SecurityEngine::SelectSignerEx(TextArg certFilter, TextArg strPfxPath, TextArg strPfxName,
                                       TextArg strPasswd, TextArg strCompareDate,
                                       int32_t dwFlags, int32_t dwKeyUsage) {
  clearCodes();
  clearSelectedSigner();
  if (refuseInProtectedMode()) return errorCode;
  SignerSearch search;
  search.kind = SignerSearch::Kind::kEx;
  search.filterText = ToNarrow(certFilter);
  search.pfxFolder = ToNarrow(strPfxPath);
  search.pfxName = ToNarrow(strPfxName);
  search.password = ToNarrow(strPasswd);
  search.dwFlags = dwFlags;
  search.dwKeyUsage = dwKeyUsage;
  search.validityTime = services.host.clock->nowUnixSeconds();
  if (!ApplyCompareDate(strCompareDate, &search.dwFlags, &search.validityTime)) {
    return errorCode = rc::kBadArgument;
  }
  return selectSigner(search);
}

int32_t SecurityEngine::SelectSignerEx2(TextArg certFilter, TextArg strPfxPath,
                                        TextArg strPfxName, int32_t dwPort,
                                        TextArg strCompareDate, int32_t dwFlags,
                                        int32_t dwKeyUsage) {
  clearCodes();
  clearSelectedSigner();
  if (refuseInProtectedMode()) return errorCode;
  ensurePropertyStore();
  SignerSearch search;
  search.kind = SignerSearch::Kind::kEx2;
  search.filterText = ToNarrow(certFilter);
  search.pfxFolder = ToNarrow(strPfxPath);
  search.pfxName = ToNarrow(strPfxName);
  search.dwFlags = dwFlags;
  search.dwKeyUsage = dwKeyUsage;
  search.dwPort = dwPort;
  search.validityTime = services.host.clock->nowUnixSeconds();
  if (!ApplyCompareDate(strCompareDate, &search.dwFlags, &search.validityTime)) {
    return errorCode = rc::kBadArgument;
  }
  if (search.dwPort > 0 && takeOverPublishedSigner(search)) return errorCode;
  clearCodes();
  clearSelectedSigner();
  return selectSigner(search);
}

// Another instance's published signer, taken when it is well formed, still
// in its store, and acceptable to this caller's own filter, key usage and
// date. Anything less falls back to a normal selection.
bool SecurityEngine::takeOverPublishedSigner(const SignerSearch& search) {
  ByteBuffer published;
  if (!GetBytesProperty("signerCertBytes", published)) return false;
  const int32_t media = GetIntProperty("signerMedia");
  const std::string hash = GetStringProperty("signerCertHash");
  if ((media != kMediaPersonalStore && media != kMediaPfxFile) || !IsThumbprintText(hash)) {
    return false;
  }
  SignerStore opened(signerKeyDatabase(), signerPfxKeyDatabase());
  WipedText password;
  std::string folder, name;
  if (media == kMediaPersonalStore) {
    if (!services.stores) return false;
    if (uint32_t error = services.stores->openSystemStore(kPersonalStore, &opened.store)) {
      recordCodes(Outcome::Fail(rc::kPersonalStoreUnopenable, error));
      return false;
    }
  } else {
    password.value = GetStringProperty("signerCertPasswd");
    folder = GetStringProperty("signerCertFilePath");
    name = GetStringProperty("signerCertFileName");
    const std::string path = JoinPfxPath(folder, name);
    if (folder.empty() || name.empty() || !IsRegularFile(path)) return false;
    if (const int32_t code = OpenSignerPfx(path, password.value, &opened.pfx)) {
      recordCodes(Outcome::Fail(code, opened.pfx.lastError()));
      return false;
    }
    opened.store = opened.pfx.store();
  }
  std::vector<CertContext> certificates;
  if (opened.store.enumerate(&certificates) != 0) return false;
  const auto found = std::find_if(certificates.begin(), certificates.end(),
                                  [&](const CertContext& c) { return Thumbprint(c) == hash; });
  if (found == certificates.end()) return false;

  // The caller's own rules, applied to the one certificate on its own.
  CertStore alone = CertStore::OpenMemory();
  std::vector<CertContext> accepted;
  uint32_t filterError = 0;
  if (alone.addEncoded(found->encoded(), AddDisposition::kAlways) != 0 ||
      FilterCertificates(alone, search.filter(), &accepted, &filterError) != rc::kSuccess ||
      accepted.empty()) {
    return false;
  }
  if (!AssignBytes(signerCertBytes, found->encoded())) return false;
  clearCodes();
  signerMedia = media;
  signerCertHash = hash;
  signerCertPasswd = std::move(password.value);
  signerCertFilePath = std::move(folder);
  signerCertFileName = std::move(name);
  return true;
}

int32_t SecurityEngine::selectSigner(const SignerSearch& search) {
  int32_t mediaMask = (search.dwFlags & (kLookInPersonalStore | kLookInPfxFile)) >> 8;
  if (mediaMask == 0) mediaMask = 3;
  const bool publish = search.kind == SignerSearch::Kind::kEx2;
  bool chooserCancelled = false;

  // Step A: the personal store.
  if (mediaMask & 1) {
    CertStore store;
    if (!services.stores) {
      recordCodes(Outcome::Fail(rc::kPersonalStoreUnopenable, win32::kErrorFileNotFound));
    } else if (uint32_t error = services.stores->openSystemStore(kPersonalStore, &store)) {
      recordCodes(Outcome::Fail(rc::kPersonalStoreUnopenable, error));
    } else {
      std::vector<CertContext> matches;
      uint32_t filterError = 0;
      errorCode = FilterCertificates(store, search.filter(), &matches, &filterError);
      capiErrorCode = filterError;
      if (errorCode == rc::kSuccess && !matches.empty()) {
        const int32_t mode = search.dwFlags & 3;
        const bool choose = mode == 1 || (mode != 2 && matches.size() > 1);
        std::optional<size_t> taken;
        if (!choose) {
          taken = 0;
        } else {
          std::vector<CertificateInfo> infos;
          infos.reserve(matches.size());
          for (const CertContext& match : matches) infos.emplace_back(match);
          int32_t index = 0;
          const DialogOutcome outcome =
              services.dialogs ? services.dialogs->chooseCertificate(ChooserRows(infos), &index)
                               : DialogOutcome::kCannotCreate;
          if (outcome == DialogOutcome::kCannotCreate) {
            return errorCode = rc::kAllocationFailed;
          }
          if (outcome == DialogOutcome::kOk && index >= 0 &&
              static_cast<size_t>(index) < matches.size()) {
            taken = static_cast<size_t>(index);
          } else {
            chooserCancelled = true;
          }
        }
        if (taken) {
          const CertContext& chosen = matches[*taken];
          if (!AssignBytes(signerCertBytes, chosen.encoded())) {
            return errorCode = rc::kAllocationFailed;
          }
          signerMedia = kMediaPersonalStore;
          signerCertHash = Thumbprint(chosen);
          clearCodes();
          if (publish) PublishSigner();
          return errorCode;
        }
      }
    }
  }
  if (capiErrorCode == win32::kNtePerm) return errorCode = rc::kAccessDenied;

  // Step B: a PFX file.
  std::string folder = search.pfxFolder, name = search.pfxName;
  WipedText password{search.password};
  bool showDialog = true;
  if (search.kind == SignerSearch::Kind::kBasic) {
    folder.clear();
    name.clear();
    Wipe(password.value);
    if (!(mediaMask & 2)) {
      if (chooserCancelled) errorCode = rc::kUserCancelled;
      return errorCode;
    }
  } else {
    const bool fileExists =
        !folder.empty() && !name.empty() && IsRegularFile(JoinPfxPath(folder, name));
    if (!fileExists && !(mediaMask & 2)) {
      if (chooserCancelled) errorCode = rc::kUserCancelled;
      return errorCode;
    }
    showDialog = !(fileExists && !password.value.empty());
  }
  if (showDialog) {
    FileDialogRequest request;
    request.id = DialogId::kPfxFile;
    request.values.directory = folder;
    request.values.fileName = name.empty() ? std::string("*.pfx") : name;
    request.values.password = password.value;
    request.passwdMinLength = passwdMinLength;
    request.passwdMaxLength = passwdMaxLength;
    FileDialogValues values = request.values;
    const DialogOutcome outcome = services.dialogs
                                      ? services.dialogs->fileDialog(request, &values)
                                      : DialogOutcome::kCannotCreate;
    Wipe(request.values.password);
    if (outcome != DialogOutcome::kOk) {
      Wipe(values.password);
      recordCodes(Outcome::Fail(DialogCode(outcome)));
      return errorCode;
    }
    folder = std::move(values.directory);
    name = std::move(values.fileName);
    Wipe(password.value);
    password.value = std::move(values.password);
  }
  const std::string path = JoinPfxPath(folder, name);
  SignerStore opened(signerKeyDatabase(), signerPfxKeyDatabase());
  if (!IsRegularFile(path)) {
    recordCodes(Outcome::Fail(rc::kPfxFileUnreadable, win32::kErrorFileNotFound));
    return errorCode;
  }
  if (const int32_t code = OpenSignerPfx(path, password.value, &opened.pfx)) {
    recordCodes(Outcome::Fail(code, opened.pfx.lastError()));
    if (capiErrorCode == win32::kNtePerm) errorCode = rc::kAccessDenied;
    return errorCode;
  }
  std::vector<CertContext> matches;
  uint32_t filterError = 0;
  errorCode = FilterFirstCertificate(opened.pfx.store(), search.filter(), &matches, &filterError);
  capiErrorCode = filterError;
  if (errorCode == rc::kSuccess && matches.empty()) errorCode = rc::kCertNotFound;
  if (errorCode != rc::kSuccess) return errorCode;
  if (!AssignBytes(signerCertBytes, matches.front().encoded())) {
    return errorCode = rc::kAllocationFailed;
  }
  signerMedia = kMediaPfxFile;
  signerCertHash = Thumbprint(matches.front());
  signerCertFilePath = std::move(folder);
  signerCertFileName = std::move(name);
  signerCertPasswd = std::move(password.value);
  if (capiErrorCode == win32::kNtePerm) return errorCode = rc::kAccessDenied;
  clearCodes();
  if (publish) PublishSigner();
  return errorCode;
}

// --- Signing -----------------------------------------------------------------------

Outcome SecurityEngine::openSignerStore(SignerStore* out) {
  if (signerMedia == kMediaPersonalStore) {
    if (!services.stores) {
      return Outcome::Fail(rc::kPersonalStoreUnopenable, win32::kErrorFileNotFound);
    }
    if (uint32_t error = services.stores->openSystemStore(kPersonalStore, &out->store)) {
      return Outcome::Fail(rc::kPersonalStoreUnopenable, error);
    }
    return Outcome::Ok();
  }
  if (signerMedia != kMediaPfxFile) return Outcome::Fail(rc::kNoSignerSelected);
  const std::string path = JoinPfxPath(signerCertFilePath, signerCertFileName);
  if (!IsRegularFile(path)) return Outcome::Fail(rc::kCertFileUnreadable);
  // A password changed elsewhere for this very file is followed; for any
  // other file the published password is none of our business.
  if (propertyStore && GetIntProperty("signerMedia") == kMediaPfxFile &&
      SameFile(path, JoinPfxPath(GetStringProperty("signerCertFilePath"),
                                 GetStringProperty("signerCertFileName")))) {
    Wipe(signerCertPasswd);
    signerCertPasswd = GetStringProperty("signerCertPasswd");
  }
  if (const int32_t code = OpenSignerPfx(path, signerCertPasswd, &out->pfx)) {
    return Outcome::Fail(code, out->pfx.lastError());
  }
  out->store = out->pfx.store();
  return Outcome::Ok();
}

Outcome SecurityEngine::findSignerCertificate(const SignerStore& store, CertContext* out) const {
  std::vector<CertContext> certificates;
  if (uint32_t error = store.store.enumerate(&certificates)) {
    return Outcome::Fail(rc::kNoSignerSelected, error);
  }
  for (const CertContext& certificate : certificates) {
    if (Thumbprint(certificate) == signerCertHash) {
      *out = certificate;
      return Outcome::Ok();
    }
  }
  return Outcome::Fail(rc::kNoSignerSelected, win32::kCryptENotFound);
}

Outcome SecurityEngine::confirmSigning(TextArg content, const CertContext& certificate) {
  const CertificateInfo info(certificate);
  SignConfirmation details;
  details.content.assign(content);
  details.serial = info.serial();
  details.commonName = info.subjectCommonName();
  details.notBefore = info.notBefore(TimeForm::kCompact);
  details.notAfter = info.notAfter(TimeForm::kCompact);
  const DialogOutcome outcome = services.dialogs ? services.dialogs->confirmSigning(details)
                                                 : DialogOutcome::kCannotCreate;
  if (outcome == DialogOutcome::kOk) return Outcome::Ok();
  return Outcome::Fail(DialogCode(outcome));
}

// The signer's chain from the user's ROOT and CA stores and the signer's own
// store (a PFX file's CA certificates complete its chain). A certificate out
// of its validity period does not stop a signature, nor does a root the user
// has not trusted; any other problem (a bad signature, a chain that stops
// short, revocation, a wrong usage) does.
Result<std::vector<ByteBuffer>> SecurityEngine::carriedChain(const SignerStore& store,
                                                             const CertContext& certificate) {
  if (!services.stores) return Outcome::Fail(rc::kNoCertificateChain, win32::kErrorFileNotFound);
  auto chain = BuildCertificateChain(*services.stores, certificate.encoded(), &store.store,
                                     services.host.clock->nowUnixSeconds());
  if (!chain.ok()) return Outcome::Fail(rc::kNoCertificateChain, chain.outcome().systemError());
  constexpr uint32_t kAccepted =
      kCertTrustIsNotTimeValid | kCertTrustIsNotTimeNested | kCertTrustIsUntrustedRoot;
  if ((chain->trustErrorStatus & ~kAccepted) != 0 || chain->elements.empty()) {
    return Outcome::Fail(rc::kNoCertificateChain);
  }
  std::vector<ByteBuffer> carried = std::move(chain->elements);
  if (carried.size() > kMaxCarriedChain) carried.resize(kMaxCarriedChain);
  return carried;
}

// The selected signer's certificate in its store (MY or its PFX file), with
// the key provider information that leads to its key; a certificate whose
// key lives only in memory needs none. `noKeyInfo` is the operation's code
// for a certificate with neither.
Outcome SecurityEngine::locateSigner(SignerStore* store, CertContext* certificate,
                                     KeyProviderInfo* info, int32_t noKeyInfo) {
  QUORVANT_RETURN_IF_FAILED(openSignerStore(store));
  QUORVANT_RETURN_IF_FAILED(findSignerCertificate(*store, certificate));
  if (uint32_t error = certificate->keyProviderInfo(info);
      error != 0 && !certificate->keyContext()) {
    return Outcome::Fail(noKeyInfo, error);
  }
  return Outcome::Ok();
}

// The signer's key, checked against its certificate unless it is the warm
// key already checked for this signer.
Outcome SecurityEngine::acquireSignerKey(const SignerStore& store, const CertContext& certificate,
                                         const KeyProviderInfo& info, SignerKey* key) {
  QUORVANT_RETURN_IF_FAILED(AcquireSignerKey(certificate, info, store.keys(), key));
  if (!useWarmSignerKey(&key->pair)) {
    QUORVANT_RETURN_IF_FAILED(CheckKeyMatchesCertificate(*key, certificate));
    keepWarmSignerKey(key->pair);
  }
  return Outcome::Ok();
}

Text SecurityEngine::SignPkcs1(TextArg strContent, int32_t dwFlags) {
  capiErrorCode = 0;
  if (strContent.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();
  auto fail = [this](Outcome outcome) {
    recordCodes(outcome);
    return Text();
  };
  if (signerCertHash.empty() || signerCertBytes.empty()) {
    return fail(Outcome::Fail(rc::kNoSignerSelected));
  }
  SignerStore store(signerKeyDatabase(), signerPfxKeyDatabase());
  CertContext certificate;
  KeyProviderInfo info;
  if (Outcome located = locateSigner(&store, &certificate, &info, rc::kPersonalStoreDenied);
      !located.ok()) {
    return fail(located);
  }
  SignerKey key;
  if (Outcome acquired = acquireSignerKey(store, certificate, info, &key); !acquired.ok()) {
    return fail(acquired);
  }
  if (dwFlags & kSignConfirm) {
    if (Outcome confirmed = confirmSigning(strContent, certificate); !confirmed.ok()) {
      return fail(confirmed);
    }
  }
  ByteBuffer data;
  if (!ContentBytes(strContent, (dwFlags & kSignAnsiText) != 0, &data)) {
    return fail(Outcome::Fail(rc::kAllocationFailed));
  }
  uint32_t hashAlgId = kCalgSha1;
  MessageDigest digest((dwFlags & (kSignMd5 | kSignPkcs1Sha1OfMd5)) ? HashAlgorithm::kMd5
                                                                    : HashAlgorithm::kSha1);
  digest.update(data.data(), static_cast<size_t>(data.size()));
  if (!digest.finish()) return fail(Outcome::Fail(rc::kAllocationFailed));
  ByteBuffer value = digest.output();
  if (dwFlags & kSignMd5) {
    hashAlgId = kCalgMd5;
  } else if (dwFlags & kSignPkcs1Sha1OfMd5) {
    MessageDigest outer(HashAlgorithm::kSha1);
    outer.update(value.data(), static_cast<size_t>(value.size()));
    if (!outer.finish()) return fail(Outcome::Fail(rc::kAllocationFailed));
    value = outer.output();
  }
  ByteBuffer signature;
  if (Outcome signedOk = ProviderSign(key, hashAlgId, value.bytes(), &signature); !signedOk.ok()) {
    return fail(signedOk);
  }
  ByteBuffer ordered;
  if (dwFlags & kSignPkcs1ProviderOrder) {
    ordered = std::move(signature);
  } else if (!ordered.assignReversed(signature.data(), signature.size())) {
    return fail(Outcome::Fail(rc::kAllocationFailed));
  }
  ByteBuffer text;
  const bool encoded = (dwFlags & kSignPkcs1Base64)
                           ? Base64Encode(ordered.data(), ordered.size(), text)
                           : HexEncode(ordered.data(), ordered.size(), text);
  if (!encoded) return fail(Outcome::Fail(rc::kAllocationFailed));
  clearCodes();
  return ToInterfaceText(text.view());
}

Text SecurityEngine::SignPkcs7(TextArg strContent, int32_t dwFlags) {
  capiErrorCode = 0;
  if (strContent.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();
  auto fail = [this](Outcome outcome) {
    recordCodes(outcome);
    return Text();
  };
  if (signerCertHash.empty() || signerCertBytes.empty()) {
    return fail(Outcome::Fail(rc::kNoSignerSelected));
  }
  SignerStore store(signerKeyDatabase(), signerPfxKeyDatabase());
  CertContext certificate;
  KeyProviderInfo info;
  if (Outcome located = locateSigner(&store, &certificate, &info, rc::kSignFailed); !located.ok()) {
    return fail(located);
  }
  if (dwFlags & kSignConfirm) {
    if (Outcome confirmed = confirmSigning(strContent, certificate); !confirmed.ok()) {
      return fail(confirmed);
    }
  }
  ByteBuffer data;
  if (!ContentBytes(strContent, (dwFlags & kSignAnsiText) != 0, &data)) {
    return fail(Outcome::Fail(rc::kAllocationFailed));
  }
  errorCode = 0;
  SignedDataRequest request;
  request.signerCertificate = certificate.encoded();
  request.content = data.bytes();
  request.digest = (dwFlags & kSignMd5) ? SignedDataDigest::kMd5WithRsa : SignedDataDigest::kSha1;
  request.detached = (dwFlags & kSignPkcs7Detached) != 0;
  if (dwFlags & kSignPkcs7SigningTime) request.signingTime = services.host.clock->nowUnixSeconds();

  SignerKey key;
  if (Outcome acquired = acquireSignerKey(store, certificate, info, &key); !acquired.ok()) {
    return fail(acquired);
  }
  std::vector<ByteBuffer> chain;
  if (dwFlags & kSignPkcs7Chain) {
    auto built = carriedChain(store, certificate);
    if (!built.ok()) return fail(built.outcome());
    chain = std::move(built.value());
    for (const ByteBuffer& element : chain) request.certificates.push_back(element.bytes());
  } else if (!(dwFlags & kSignPkcs7NoCertificates)) {
    request.certificates.push_back(certificate.encoded());
  }

  auto message = EncodeSignedData(
      request, [&key](uint32_t hashAlgId, std::span<const uint8_t> digest, ByteBuffer* out) {
        ByteBuffer signature;
        if (Outcome signedOk = ProviderSign(key, hashAlgId, digest, &signature); !signedOk.ok()) {
          return Outcome::Fail(SigningErrorCode(signedOk.systemError()), signedOk.systemError());
        }
        if (!out->assignReversed(signature.data(), signature.size())) {
          return Outcome::Fail(rc::kAllocationFailed);
        }
        return Outcome::Ok();
      });
  if (!message.ok()) return fail(message.outcome());
  ByteBuffer text;
  if (!Base64Encode(message->data(), message->size(), text)) {
    return fail(Outcome::Fail(rc::kAllocationFailed));
  }
  clearCodes();
  return ToInterfaceText(text.view());
}

}  // namespace quorvant
