// The PFX operations: import into the personal store and query of a
// PKCS #12 file, export of a personal certificate with its key to a file or
// to the mobile form, and the password change.
//
// Two rules hold for every operation here beyond the result codes:
//   - a file is never replaced by one that lost something: what is written
//     is read back and opened before it takes the old file's place, and the
//     old file stays byte for byte on every failure;
//   - keys of a file that is only looked into (query, mobile export from a
//     file, password change) live in memory and never reach the user's key
//     database.
#include <string.h>  // explicit_bzero

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "certs/certificate_info.h"
#include "certs/chooser_rows.h"
#include "encoding/code_page.h"
#include "engine/security_engine.h"
#include "pfx/certificate_filter.h"
#include "pfx/mobile_export.h"
#include "pfx/pfx_files.h"
#include "pfx/pfx_paths.h"
#include "pfx/pfx_store.h"
#include "platform/stores/cert_store.h"
#include "platform/stores/certificate_chain.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/pkcs12/pkcs12.h"

namespace quorvant {
namespace {

constexpr char kPersonalStore[] = "MY";
constexpr char kPfxWildcard[] = "*.pfx";
constexpr int32_t kExportWithChain = 0x200;
constexpr int32_t kDeleteAfterExport = 0x1000;
constexpr int32_t kUseSelectedSignerPfx = 0x4000;
constexpr int32_t kSignerMediaPfx = 2;
constexpr int32_t kImportExportableKeys = 0x1;

// A narrow password that is wiped when it goes.
class Secret {
 public:
  Secret() = default;
  explicit Secret(std::string text) : text_(std::move(text)) {}
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { wipe(); }
  void assign(std::string text) {
    wipe();
    text_ = std::move(text);
  }
  const std::string& text() const { return text_; }
  bool empty() const { return text_.empty(); }

 private:
  void wipe() {
    if (!text_.empty()) explicit_bzero(text_.data(), text_.size());
    text_.clear();
  }
  std::string text_;
};

// The file-dialog strings, wiped when they go: they hold passwords.
struct DialogValues : FileDialogValues {
  DialogValues() = default;
  DialogValues(const DialogValues&) = delete;
  DialogValues& operator=(const DialogValues&) = delete;
  ~DialogValues() {
    for (std::string* s : {&password, &oldPassword, &newPassword, &confirmation}) {
      if (!s->empty()) explicit_bzero(s->data(), s->size());
    }
  }
};

uint32_t OpenPersonalStore(const std::shared_ptr<CertificateStores>& stores, CertStore* out) {
  if (!stores) return win32::kErrorFileNotFound;
  return stores->openSystemStore(kPersonalStore, out);
}

// CryptAcquireCertificatePrivateKey through the key provider information,
// in the database `db` (null: the user's own).
uint32_t AcquireKey(const CertContext& certificate, uint32_t flags,
                    const std::shared_ptr<PlatformDatabase>& db,
                    std::unique_ptr<ProviderContext>* context, uint32_t* keySpec) {
  KeyProviderInfo info;
  if (uint32_t error = certificate.keyProviderInfo(&info)) {
    return error == win32::kCryptENotFound ? win32::kCryptENoKeyProperty : error;
  }
  return AcquireCertificatePrivateKey(info, flags, context, keySpec, db);
}

bool HasKey(const CertContext& certificate, const std::shared_ptr<PlatformDatabase>& db) {
  std::unique_ptr<ProviderContext> context;
  uint32_t keySpec = 0;
  return AcquireKey(certificate, 0, db, &context, &keySpec) == 0;
}

// The PRIVATEKEYBLOB of the certificate's key: 5204 when there is no key,
// 5205 when it may not be exported.
Result<ByteBuffer> ExportPrivateKeyBlob(const CertContext& certificate,
                                        const std::shared_ptr<PlatformDatabase>& db) {
  std::unique_ptr<ProviderContext> context;
  uint32_t keySpec = 0;
  if (uint32_t error = AcquireKey(certificate, kCryptAcquireCacheFlag, db, &context, &keySpec)) {
    return Outcome::Fail(rc::kNoPrivateKey, error);
  }
  std::unique_ptr<CryptKey> key;
  if (uint32_t error = context->getUserKey(keySpec, &key)) {
    return Outcome::Fail(rc::kNoPrivateKey, error);
  }
  ByteBuffer blob;
  if (uint32_t error = key->exportKey(kPrivatekeyblob, 0, &blob)) {
    return Outcome::Fail(rc::kKeyNotExportable, error);
  }
  return blob;
}

// One certificate with its key (or without) as read back from a file.
struct Carried {
  std::vector<uint8_t> der;
  bool keyed = false;
  bool operator==(const Carried&) const = default;
};

std::vector<Carried> CarriedContents(const PfxStore& pfx) {
  std::vector<Carried> out;
  std::vector<CertContext> certificates;
  if (pfx.store().enumerate(&certificates) != 0) return out;
  for (const CertContext& c : certificates) {
    out.push_back({std::vector<uint8_t>(c.encoded().begin(), c.encoded().end()),
                   HasKey(c, pfx.keyDatabase())});
  }
  return out;
}

// The system error a PFX export failure leaves for the caller.
int32_t PasswordChangeExportCode(uint32_t error) {
  switch (error) {
    case win32::kErrorCancelled:
      return rc::kUserCancelled;
    case win32::kNteNoKey:
      return rc::kNoPrivateKey;
    case win32::kNteBadKey:
      return rc::kKeyNotExportable;
    case win32::kEOutofmemory:
      return rc::kCertFileUnwritable;
    default:
      return rc::kPfxExportFailed;
  }
}

}  // namespace

// --- Shared steps --------------------------------------------------------------

int32_t SecurityEngine::showPfxFileDialog(DialogId id, FileDialogValues* values) {
  if (!services.dialogs) return rc::kAllocationFailed;
  FileDialogRequest request;
  request.id = id;
  request.values = *values;
  request.passwdMinLength = passwdMinLength;
  request.passwdMaxLength = passwdMaxLength;
  const DialogOutcome outcome = services.dialogs->fileDialog(request, values);
  for (std::string* s : {&request.values.password, &request.values.oldPassword,
                         &request.values.newPassword, &request.values.confirmation}) {
    if (!s->empty()) explicit_bzero(s->data(), s->size());
  }
  switch (outcome) {
    case DialogOutcome::kOk:
      return rc::kSuccess;
    case DialogOutcome::kCancel:
      return rc::kUserCancelled;
    case DialogOutcome::kCannotCreate:
      break;
  }
  return rc::kAllocationFailed;
}

int32_t SecurityEngine::chooseCertificate(const std::vector<CertContext>& certificates,
                                          int32_t cannotShowCode, size_t* index) {
  std::vector<CertificateInfo> infos;
  infos.reserve(certificates.size());
  for (const CertContext& c : certificates) infos.emplace_back(c.encoded());
  int32_t chosen = 0;
  const DialogOutcome outcome =
      services.dialogs ? services.dialogs->chooseCertificate(ChooserRows(infos), &chosen)
                       : DialogOutcome::kCannotCreate;
  if (outcome == DialogOutcome::kCancel) return rc::kUserCancelled;
  if (outcome != DialogOutcome::kOk) return cannotShowCode;
  *index = chosen >= 0 && static_cast<size_t>(chosen) < certificates.size()
               ? static_cast<size_t>(chosen)
               : 0;
  return rc::kSuccess;
}

// --- Import and query ----------------------------------------------------------

int32_t SecurityEngine::importOrQueryPfx(bool import, TextArg strPfxPath, TextArg strPfxName,
                                         TextArg strPasswd, int32_t dwFlags,
                                         int32_t dwKeyUsage) {
  clearCodes();
  signerMedia = -1;
  signerCertHash.clear();
  signerCertPasswd.clear();
  signerCertFilePath.clear();
  signerCertFileName.clear();
  signerCertBytes.clear();
  if (import) {
    importedPfxFilePath.clear();
    importedPfxFileName.clear();
  }
  if (refuseInProtectedMode()) return errorCode;

  DialogValues values;
  values.directory = ToNarrow(strPfxPath);
  values.fileName = ToNarrow(strPfxName);
  values.password = ToNarrow(strPasswd);
  if (values.directory.empty() || values.fileName.empty() || values.password.empty()) {
    if (values.fileName.empty()) values.fileName = kPfxWildcard;
    if ((errorCode = showPfxFileDialog(DialogId::kPfxFile, &values)) != 0) return errorCode;
  }
  const std::string fullPath = JoinPfxPath(values.directory, values.fileName);
  if (!PathExists(fullPath)) return errorCode = rc::kFileNotFound;

  PfxStore pfx(import ? PfxKeyPlacement::kUserDatabase : PfxKeyPlacement::kMemory);
  const int32_t opened = pfx.open(fullPath, values.password, dwFlags);
  capiErrorCode = pfx.lastError();
  if (capiErrorCode == win32::kNtePerm) return errorCode = rc::kAccessDenied;
  if (opened != 0) return errorCode = opened;

  CertStore personal;
  if (import) {
    if (const uint32_t error = OpenPersonalStore(services.stores, &personal)) {
      capiErrorCode = error;
      return errorCode = rc::kPersonalStoreUnopenable;
    }
  }

  std::vector<CertContext> certificates;
  if (const uint32_t error = pfx.store().enumerate(&certificates)) {
    capiErrorCode = error;
    return errorCode = rc::kCertNotFound;
  }
  int32_t result = rc::kCertNotFound;
  std::vector<CertContext> imported;
  for (const CertContext& certificate : certificates) {
    {
      std::unique_ptr<ProviderContext> context;
      uint32_t keySpec = 0;
      if (const uint32_t error = AcquireKey(certificate, kCryptAcquireCacheFlag,
                                            pfx.keyDatabase(), &context, &keySpec)) {
        // A chain certificate: it carries no key.
        if (imported.empty()) {
          result = rc::kNoPrivateKey;
          capiErrorCode = error;
        }
        continue;
      }
    }
    if (dwKeyUsage >= 1) {
      const CertificateInfo info(certificate.encoded());
      if ((info.keyUsage() & dwKeyUsage) != dwKeyUsage) {
        result = rc::kCertUsageMismatch;
        continue;
      }
    }
    if (import) {
      // A certificate already in the store keeps its place and properties;
      // the key container it pointed at is replaced by the new one and is
      // deleted when no other certificate of the store refers to it.
      KeyProviderInfo previousKey;
      bool hadKey = false;
      {
        std::vector<CertContext> existing;
        if (personal.enumerate(&existing) == 0) {
          for (const CertContext& e : existing) {
            if (e.sha1Hash() == certificate.sha1Hash() && e.keyProviderInfo(&previousKey) == 0) {
              hadKey = true;
              break;
            }
          }
          for (const CertContext& e : existing) {
            KeyProviderInfo other;
            if (hadKey && e.sha1Hash() != certificate.sha1Hash() &&
                e.keyProviderInfo(&other) == 0 && other.containerName == previousKey.containerName) {
              hadKey = false;  // shared: it stays
            }
          }
        }
      }
      if (const uint32_t error = pfx.keepKeyOf(certificate)) {
        if (imported.empty()) {
          result = rc::kCertNotFound;
          capiErrorCode = error;
        }
        continue;
      }
      if (const uint32_t error = personal.addContext(
              certificate, AddDisposition::kReplaceExistingInheritProperties)) {
        if (imported.empty()) {
          result = rc::kCertNotFound;
          capiErrorCode = error;
        }
        continue;
      }
      KeyProviderInfo newKey;
      if (hadKey && certificate.keyProviderInfo(&newKey) == 0 &&
          newKey.containerName != previousKey.containerName) {
        std::unique_ptr<ProviderContext> deleted;
        (void)ProviderContext::Acquire(ToNarrow(previousKey.containerName),
                                       ToNarrow(previousKey.providerName),
                                       previousKey.providerType, kCryptDeletekeyset, &deleted);
      }
      importedPfxFilePath = values.directory;
      importedPfxFileName = values.fileName;
    } else {
      signerCertFilePath = values.directory;
      signerCertFileName = values.fileName;
    }
    signerCertBytes.clear();
    const auto der = certificate.encoded();
    if (!signerCertBytes.append(der)) return errorCode = rc::kAllocationFailed;
    imported.push_back(certificate);
    result = rc::kSuccess;
  }
  if (!imported.empty()) {
    result = rc::kSuccess;
    capiErrorCode = 0;
    // Only the keys of what reached the personal store survive the close.
    if (import) pfx.keepOnlyKeysOf(imported);
  }
  return errorCode = result;
}

int32_t SecurityEngine::ImportPfxToIE(TextArg strPfxPath, TextArg strPfxName, TextArg strPasswd,
                                      int32_t dwFlags, int32_t dwKeyUsage) {
  return importOrQueryPfx(true, strPfxPath, strPfxName, strPasswd, dwFlags, dwKeyUsage);
}

int32_t SecurityEngine::QueryPfxInfo(TextArg strPfxPath, TextArg strPfxName, TextArg strPasswd,
                                     int32_t dwFlags, int32_t dwKeyUsage) {
  return importOrQueryPfx(false, strPfxPath, strPfxName, strPasswd, dwFlags, dwKeyUsage);
}

// --- Export to a PFX file --------------------------------------------------------

int32_t SecurityEngine::ExportPfxFromIE(TextArg strSubject, TextArg strPfxPath,
                                        TextArg strPassword, int32_t dwFlags,
                                        int32_t dwKeyUsage) {
  clearCodes();
  exportedPfxFilePath.clear();
  exportedPfxFileName.clear();
  if (refuseInProtectedMode()) return errorCode;

  CertStore personal;
  if (const uint32_t error = OpenPersonalStore(services.stores, &personal)) {
    capiErrorCode = error;
    return errorCode = rc::kPersonalStoreUnopenable;
  }
  const std::string subject = ToNarrow(strSubject);
  CertificateFilterRequest filter;
  filter.filterText = subject;
  filter.flags = dwFlags & 0xFF;
  filter.keyUsage = dwKeyUsage;
  filter.validityTime = services.host.clock ? services.host.clock->nowUnixSeconds() : 0;
  std::vector<CertContext> matches;
  errorCode = FilterCertificates(personal, filter, &matches, &capiErrorCode);
  if (errorCode != 0) return errorCode;
  if (matches.empty()) return errorCode = rc::kCertNotFound;
  size_t chosen = 0;
  if (matches.size() > 1) {
    if ((errorCode = chooseCertificate(matches, rc::kCertNotFound, &chosen)) != 0) {
      return errorCode;
    }
  }
  const CertContext& choice = matches[chosen];
  const CertificateInfo choiceInfo(choice.encoded());
  const std::string fileName =
      ExportFileName(defaultPfxFileName, choiceInfo.subjectCommonName(), choiceInfo.serial());

  CertStore memory = CertStore::OpenMemory();
  if (!memory.valid()) {
    capiErrorCode = win32::kEOutofmemory;
    return errorCode = rc::kMemoryStoreUnopenable;
  }
  // The chosen certificate again, as the store holds it now, with its key.
  CertContext exported;
  {
    std::vector<CertContext> all;
    if (const uint32_t error = personal.enumerate(&all)) {
      capiErrorCode = error;
      return errorCode = rc::kCertNotFound;
    }
    const auto wanted = choice.encoded();
    int32_t result = rc::kCertNotFound;
    for (const CertContext& c : all) {
      const auto der = c.encoded();
      if (der.size() < wanted.size() || !std::equal(wanted.begin(), wanted.end(), der.begin()) ||
          !HasKey(c, nullptr)) {
        continue;
      }
      if (const uint32_t error = memory.addContext(c, AddDisposition::kAlways, &exported)) {
        result = rc::kPersonalStoreDenied;
        capiErrorCode = error;
        continue;
      }
      result = rc::kSuccess;
      break;
    }
    if (result != rc::kSuccess) {
      // Nothing added: the certificate lost its key or left the store.
      if (capiErrorCode == 0) capiErrorCode = win32::kNteNoKey;
      return errorCode = rc::kCertNotFound;
    }
  }

  uint32_t count = 1;
  if ((dwFlags & kExportWithChain) != 0) {
    const int64_t now = services.host.clock ? services.host.clock->nowUnixSeconds() : 0;
    Result<CertificateChain> chain =
        services.stores ? BuildCertificateChain(*services.stores, choice.encoded(), &personal, now)
                        : Result<CertificateChain>(Outcome::Fail(rc::kCertNotFound));
    // A chain that does not verify is left out without a word.
    if (chain.ok() && chain->trustErrorStatus == 0) {
      for (size_t i = 1; i < chain->elements.size(); ++i) {
        if (memory.addEncoded(chain->elements[i].bytes(), AddDisposition::kAlways) == 0) ++count;
      }
    }
  }

  DialogValues values;
  values.directory = ToNarrow(strPfxPath);
  values.fileName = fileName;
  values.password = ToNarrow(strPassword);
  if ((errorCode = showPfxFileDialog(DialogId::kExportPfx, &values)) != 0) return errorCode;
  // Whatever the dialog gave, the name stays one entry of the folder.
  values.fileName = SafeFileName(values.fileName, choiceInfo.serial() + ".pfx");

  const std::u16string widePassword = ToInterfaceText(values.password);
  ByteBuffer blob;
  uint32_t exportFlags = kExportPrivateKeys | kReportNotAbleToExportPrivateKey;
  if (count == 1) exportFlags |= kReportNoPrivateKey;
  const uint32_t exportError =
      PfxExportCertStore(memory, widePassword.c_str(), exportFlags, nullptr, &blob);
  std::u16string wiped = widePassword;
  explicit_bzero(wiped.data(), wiped.size() * sizeof(char16_t));
  if (exportError != 0) {
    capiErrorCode = exportError;
    return errorCode =
               exportError == win32::kErrorCancelled ? rc::kUserCancelled : rc::kKeyNotExportable;
  }

  const Outcome directory = EnsureExportDirectory(values.directory);
  if (!directory.ok()) {
    capiErrorCode = directory.systemError();
    return errorCode = directory.code();
  }
  const std::string fullPath = JoinPfxPath(values.directory, values.fileName);
  // What the disk gives back must be what was written. When the export
  // could not insist on the key itself (a chain rides along) or the
  // certificate is to leave the store, the file must also open with its
  // password and hold the chosen certificate with its key before it
  // replaces anything.
  const Secret password(values.password);
  const auto wanted = exported.encoded();
  const bool openToCheck = (exportFlags & kReportNoPrivateKey) == 0 ||
                           (dwFlags & kDeleteAfterExport) != 0;
  const ReadBackCheck holdsKey = [&](const ByteBuffer& readBack) -> uint32_t {
    if (!std::equal(readBack.bytes().begin(), readBack.bytes().end(), blob.bytes().begin(),
                    blob.bytes().end())) {
      return win32::kErrorWriteFault;
    }
    if (!openToCheck) return 0;
    PfxStore check(PfxKeyPlacement::kMemory);
    if (check.openBlob(readBack.bytes(), password.text(), 0) != 0) {
      return check.lastError() != 0 ? check.lastError() : win32::kCryptEBadEncode;
    }
    std::vector<CertContext> inside;
    if (check.store().enumerate(&inside) != 0) return win32::kCryptEBadEncode;
    for (const CertContext& c : inside) {
      if (std::equal(c.encoded().begin(), c.encoded().end(), wanted.begin(), wanted.end()) &&
          HasKey(c, check.keyDatabase())) {
        return 0;
      }
    }
    return win32::kNteNoKey;
  };
  uint32_t writeError = 0;
  if (!ReplaceWholeFile(fullPath, blob, holdsKey, &writeError)) {
    capiErrorCode = writeError;
    return errorCode = writeError == win32::kNteNoKey ? rc::kNoPrivateKey : rc::kPfxWriteFailed;
  }
  if ((dwFlags & kDeleteAfterExport) != 0) {
    if (const uint32_t error = CertStore::DeleteCertificate(choice)) capiErrorCode = error;
  }
  exportedPfxFilePath = values.directory;
  exportedPfxFileName = values.fileName;
  return errorCode = rc::kSuccess;
}

// --- Mobile exports ----------------------------------------------------------------

Text SecurityEngine::ExportMobileFromPfx(TextArg strPfxPath, TextArg strPfxName,
                                         TextArg strPasswd, int32_t dwFlags,
                                         int32_t dwKeyUsage) {
  clearCodes();
  exportedPfxFilePath.clear();
  exportedPfxFileName.clear();
  if (refuseInProtectedMode()) return Text();

  DialogValues values;
  values.directory = ToNarrow(strPfxPath);
  values.fileName = ToNarrow(strPfxName);
  values.password = ToNarrow(strPasswd);
  if ((dwFlags & kUseSelectedSignerPfx) != 0 && signerMedia == kSignerMediaPfx) {
    values.directory = signerCertFilePath;
    values.fileName = signerCertFileName;
    values.password = signerCertPasswd;
  }
  if (values.directory.empty() || values.fileName.empty() || values.password.empty()) {
    if (values.fileName.empty()) values.fileName = kPfxWildcard;
    if ((errorCode = showPfxFileDialog(DialogId::kMobilePfx, &values)) != 0) return Text();
  }
  const std::string fullPath = JoinPfxPath(values.directory, values.fileName);
  if (!PathExists(fullPath)) {
    errorCode = rc::kFileNotFound;
    return Text();
  }
  PfxStore pfx(PfxKeyPlacement::kMemory);
  if ((errorCode = pfx.open(fullPath, values.password, kImportExportableKeys)) != 0) {
    capiErrorCode = pfx.lastError();
    return Text();
  }
  std::vector<CertContext> certificates;
  if (const uint32_t error = pfx.store().enumerate(&certificates)) {
    capiErrorCode = error;
    errorCode = rc::kCertNotFound;
    return Text();
  }
  errorCode = rc::kCertNotFound;
  for (const CertContext& certificate : certificates) {
    if (!HasKey(certificate, pfx.keyDatabase())) continue;
    const CertificateInfo info(certificate.encoded());
    if (dwKeyUsage >= 1 && (info.keyUsage() & dwKeyUsage) != dwKeyUsage) {
      errorCode = rc::kCertUsageMismatch;
      continue;
    }
    Result<ByteBuffer> blob = ExportPrivateKeyBlob(certificate, pfx.keyDatabase());
    if (!blob.ok()) {
      errorCode = blob.outcome().code();
      capiErrorCode = blob.outcome().systemError();
      continue;
    }
    Result<std::string> text = BuildMobileText(info, blob->bytes(), values.password);
    if (!text.ok()) {
      errorCode = text.outcome().code();
      capiErrorCode = text.outcome().systemError();
      return Text();
    }
    errorCode = rc::kSuccess;
    capiErrorCode = 0;
    exportedPfxFilePath = values.directory;
    exportedPfxFileName = values.fileName;
    return ToInterfaceText(*text);
  }
  return Text();
}

Text SecurityEngine::ExportMobileFromIE(TextArg strSubject, TextArg strPasswd, int32_t dwFlags,
                                        int32_t dwKeyUsage) {
  clearCodes();
  exportedPfxFilePath.clear();
  exportedPfxFileName.clear();
  if (refuseInProtectedMode()) return Text();

  CertStore personal;
  if (const uint32_t error = OpenPersonalStore(services.stores, &personal)) {
    capiErrorCode = error;
    errorCode = rc::kPersonalStoreUnopenable;
    return Text();
  }
  const std::string subject = ToNarrow(strSubject);
  CertificateFilterRequest filter;
  filter.filterText = subject;
  filter.flags = dwFlags & 0xFF;
  filter.keyUsage = dwKeyUsage;
  filter.validityTime = services.host.clock ? services.host.clock->nowUnixSeconds() : 0;
  std::vector<CertContext> matches;
  errorCode = FilterCertificates(personal, filter, &matches, &capiErrorCode);
  if (errorCode != 0) return Text();
  if (matches.empty()) {
    errorCode = rc::kCertNotFound;
    return Text();
  }
  size_t chosen = 0;
  const int32_t mode = dwFlags & 3;
  if (mode == 1 || (mode != 2 && matches.size() > 1)) {
    if ((errorCode = chooseCertificate(matches, rc::kAllocationFailed, &chosen)) != 0) {
      return Text();
    }
  }
  Secret password(ToNarrow(strPasswd));
  if (password.empty()) {
    std::string asked;
    const DialogOutcome outcome = services.dialogs ? services.dialogs->askExportPassword(&asked)
                                                   : DialogOutcome::kCannotCreate;
    password.assign(std::move(asked));
    if (outcome == DialogOutcome::kCancel) {
      errorCode = rc::kUserCancelled;
      return Text();
    }
    if (outcome != DialogOutcome::kOk) {
      errorCode = rc::kAllocationFailed;
      return Text();
    }
  }
  Result<ByteBuffer> blob = ExportPrivateKeyBlob(matches[chosen], nullptr);
  if (!blob.ok()) {
    errorCode = blob.outcome().code();
    capiErrorCode = blob.outcome().systemError();
    return Text();
  }
  Result<std::string> text =
      BuildMobileText(CertificateInfo(matches[chosen].encoded()), blob->bytes(), password.text());
  if (!text.ok()) {
    errorCode = text.outcome().code();
    capiErrorCode = text.outcome().systemError();
    return Text();
  }
  errorCode = rc::kSuccess;
  return ToInterfaceText(*text);
}

// --- Password change -------------------------------------------------------------

int32_t SecurityEngine::changePfxPassword(TextArg strPfxPath, TextArg strPfxName,
                                          TextArg strOldPass, TextArg strNewPass,
                                          std::string* fullPathOut, std::string* newPasswordOut) {
  clearCodes();
  if (refuseInProtectedMode()) return errorCode;
  DialogValues values;
  values.directory = ToNarrow(strPfxPath);
  values.fileName = ToNarrow(strPfxName);
  values.oldPassword = ToNarrow(strOldPass);
  values.newPassword = ToNarrow(strNewPass);
  if (values.directory.empty() || values.fileName.empty() || values.oldPassword.empty() ||
      values.newPassword.empty()) {
    if (values.fileName.empty()) values.fileName = kPfxWildcard;
    values.confirmation = values.newPassword;
    if ((errorCode = showPfxFileDialog(DialogId::kChangePassword, &values)) != 0) {
      return errorCode;
    }
    if (values.newPassword != values.confirmation) return errorCode = rc::kPasswordMismatch;
  }
  const std::string fullPath = JoinPfxPath(values.directory, values.fileName);
  if (!PathExists(fullPath)) return errorCode = rc::kFileNotFound;

  PfxStore pfx(PfxKeyPlacement::kMemory);
  const int32_t opened = pfx.open(fullPath, values.oldPassword, kImportExportableKeys);
  capiErrorCode = pfx.lastError();
  if (capiErrorCode == win32::kNtePerm) return errorCode = rc::kAccessDenied;
  if (opened != 0) return errorCode = opened;
  // Writing back only what we carry would drop the rest: a key of another
  // type, a key without its certificate, a bag we do not keep.
  if (!pfx.importReport().whole()) {
    capiErrorCode = win32::kNteNoKey;
    return errorCode = rc::kNoPrivateKey;
  }

  const std::u16string widePassword = ToInterfaceText(values.newPassword);
  ByteBuffer blob;
  const uint32_t exportError =
      PfxExportCertStore(pfx.store(), widePassword.c_str(),
                         kExportPrivateKeys | kReportNotAbleToExportPrivateKey,
                         pfx.keyDatabase(), &blob);
  std::u16string wiped = widePassword;
  explicit_bzero(wiped.data(), wiped.size() * sizeof(char16_t));
  if (exportError != 0) {
    capiErrorCode = exportError;
    return errorCode = PasswordChangeExportCode(exportError);
  }

  // The new file replaces the old one only when it opens with the new
  // password and carries the same certificates, in order, with the same keys.
  const std::vector<Carried> before = CarriedContents(pfx);
  const std::string& newPassword = values.newPassword;
  const ReadBackCheck sameContents = [&](const ByteBuffer& readBack) -> uint32_t {
    PfxStore check(PfxKeyPlacement::kMemory);
    if (check.openBlob(readBack.bytes(), newPassword, 0) != 0) {
      return check.lastError() != 0 ? check.lastError() : win32::kCryptEBadEncode;
    }
    return CarriedContents(check) == before ? 0 : win32::kNteNoKey;
  };
  uint32_t writeError = 0;
  if (!ReplaceWholeFile(fullPath, blob, sameContents, &writeError)) {
    capiErrorCode = writeError;
    return errorCode = rc::kCertFileUnwritable;
  }
  *fullPathOut = fullPath;
  newPasswordOut->assign(values.newPassword);
  return errorCode = rc::kSuccess;
}

int32_t SecurityEngine::ChangePfxPasswd(TextArg strPfxPath, TextArg strPfxName,
                                        TextArg strOldPass, TextArg strNewPass, int32_t) {
  std::string fullPath;
  Secret newPassword;
  std::string text;
  const int32_t result =
      changePfxPassword(strPfxPath, strPfxName, strOldPass, strNewPass, &fullPath, &text);
  newPassword.assign(std::move(text));
  return result;
}

int32_t SecurityEngine::ChangePfxPasswdEx(TextArg strPfxPath, TextArg strPfxName,
                                          TextArg strOldPass, TextArg strNewPass,
                                          int32_t dwPort, int32_t) {
  std::string fullPath;
  std::string text;
  const int32_t result =
      changePfxPassword(strPfxPath, strPfxName, strOldPass, strNewPass, &fullPath, &text);
  const Secret newPassword(std::move(text));
  if (result != 0 || dwPort < 1) return result;
  // Other instances that sign with this very file keep working: the
  // published signer password follows the change. Failures here are not
  // the caller's concern, and no property store is created for it.
  if (GetIntProperty("signerMedia") != kSignerMediaPfx) return result;
  std::string published = GetStringProperty("signerCertFilePath");
  if (published.empty() || published.back() != '/') published += '/';
  published += GetStringProperty("signerCertFileName");
  const auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return s;
  };
  if (lower(published) == lower(fullPath)) {
    SetStringProperty("signerCertPasswd", newPassword.text());
  }
  errorCode = rc::kSuccess;
  return result;
}

}  // namespace quorvant
