#include "pfx/pfx_store.h"

#include <string.h>  // explicit_bzero

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "encoding/byte_buffer.h"
#include "encoding/code_page.h"
#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "pfx/pfx_files.h"
#include "platform/keys/crypto_provider.h"
#include "platform/keys/crypto_provider_constants.h"
#include "platform/pkcs12/pkcs12.h"
#include "platform/stores/key_container_store.h"

namespace quorvant {
namespace {

constexpr int32_t kImportExportable = 0x1;      // CRYPT_EXPORTABLE
constexpr int32_t kImportUserProtected = 0x2;   // CRYPT_USER_PROTECTED

// The caller's password as the wide string the platform takes, wiped when
// it goes.
class WidePassword {
 public:
  explicit WidePassword(std::string_view narrow) { (void)WideFromNarrow(narrow, &text_); }
  ~WidePassword() {
    if (!text_.empty()) explicit_bzero(text_.data(), text_.size() * sizeof(char16_t));
  }
  const char16_t* get() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }

 private:
  std::u16string text_;
};

}  // namespace

PfxStore::PfxStore(std::shared_ptr<PlatformDatabase> db) : db_(std::move(db)) {}

PfxStore::PfxStore(PfxKeyPlacement placement)
    : inMemory_(placement == PfxKeyPlacement::kMemory) {}

PfxStore::PfxStore(PfxKeyPlacement placement, std::shared_ptr<PlatformDatabase> memoryDatabase)
    : inMemory_(placement == PfxKeyPlacement::kMemory) {
  if (inMemory_ && memoryDatabase && memoryDatabase->inMemory()) db_ = std::move(memoryDatabase);
}

PfxStore::~PfxStore() { close(); }

int32_t PfxStore::open(std::string_view path, std::string_view password, int32_t flags) {
  lastError_ = 0;
  if (isOpen()) close();
  report_ = PfxImportReport();
  if (path.empty()) return rc::kBadArgument;
  ByteBuffer blob;
  if (!ReadWholeFile(path, &blob, &lastError_, kPfxMaxFileSize)) {
    return lastError_ == win32::kErrorFileTooLarge ? rc::kBadPkcs12 : rc::kPfxFileUnreadable;
  }
  return openBlob(blob.bytes(), password, flags);
}

int32_t PfxStore::openBlob(std::span<const uint8_t> blob, std::string_view password,
                           int32_t flags) {
  lastError_ = 0;
  if (isOpen()) close();
  report_ = PfxImportReport();
  if (blob.empty()) {
    lastError_ = win32::kErrorHandleEof;
    return rc::kPfxFileUnreadable;
  }
  if (blob.size() > kPfxMaxFileSize) {
    lastError_ = win32::kErrorFileTooLarge;
    return rc::kBadPkcs12;
  }
  if (!db_ && inMemory_) {
    db_ = PlatformDatabase::OpenInMemory(&lastError_);
    if (!db_) return rc::kPkcs12WrongPassword;
  }
  // One connection to the user's key database for the import and the
  // close, rather than one for every container operation. When it cannot
  // be opened, each call below opens its own and reports its own error.
  if (!db_) {
    uint32_t ignored = 0;
    db_ = PlatformDatabase::Open(PlatformDatabase::DefaultPath(), &ignored);
  }
  const WidePassword widePassword(password);
  if (!PfxIsPfxBlob(blob)) {
    lastError_ = win32::kCryptEBadEncode;
    return rc::kBadPkcs12;
  }
  // The import verifies the password itself (the MAC, or every encrypted
  // item), so the file is opened with one derivation less than a separate
  // check would cost. A file saved with no password at all opens when the
  // caller gives an empty one: the platform's NULL password is tried second.
  const uint32_t importFlags = ((flags & kImportExportable) ? kCryptExportable : 0u) |
                               ((flags & kImportUserProtected) ? kCryptUserProtected : 0u);
  CertStore imported;
  uint32_t importError =
      PfxImportCertStore(blob, widePassword.get(), importFlags, db_, &imported, &report_);
  if (importError == win32::kErrorInvalidPassword && widePassword.empty() &&
      PfxVerifyPassword(blob, nullptr, 0)) {
    importError = PfxImportCertStore(blob, nullptr, importFlags, db_, &imported, &report_);
  }
  if (importError != 0) {
    lastError_ = importError;
    return importError == win32::kErrorNotEnoughQuota ? rc::kBadPkcs12
                                                       : rc::kPkcs12WrongPassword;
  }
  store_ = std::move(imported);
  return rc::kSuccess;
}

uint32_t PfxStore::keepKeyOf(const CertContext& certificate) {
  KeyProviderInfo info;
  if (certificate.keyProviderInfo(&info) != 0 || !db_ || db_->inMemory()) return 0;
  if (std::find(unmarked_.begin(), unmarked_.end(), info.containerName) != unmarked_.end()) {
    return 0;
  }
  if (const uint32_t error = KeyContainerStore(db_).keep(Utf8FromWide(info.containerName))) {
    return error;
  }
  unmarked_.push_back(info.containerName);
  return 0;
}

void PfxStore::keepOnlyKeysOf(const std::vector<CertContext>& kept) {
  removeKeysOnClose_ = false;
  keepSelected_ = true;
  keptContainers_.clear();
  for (const CertContext& certificate : kept) {
    KeyProviderInfo info;
    if (certificate.keyProviderInfo(&info) != 0) continue;
    keptContainers_.push_back(info.containerName);
    static_cast<void>(keepKeyOf(certificate));
  }
}

void PfxStore::close() {
  if (isOpen() && (removeKeysOnClose_ || keepSelected_)) {
    std::vector<CertContext> certificates;
    if (uint32_t error = store_.enumerate(&certificates)) lastError_ = error;
    for (const CertContext& certificate : certificates) {
      KeyProviderInfo info;
      std::unique_ptr<ProviderContext> context;
      uint32_t keySpec = 0;
      if (certificate.keyProviderInfo(&info) != 0) continue;  // no key: nothing to delete
      if (!removeKeysOnClose_ && std::find(keptContainers_.begin(), keptContainers_.end(),
                                           info.containerName) != keptContainers_.end()) {
        continue;
      }
      if (uint32_t error = AcquireCertificatePrivateKey(info, 0, &context, &keySpec, db_)) {
        lastError_ = error;
        continue;
      }
      context.reset();
      std::unique_ptr<ProviderContext> deleted;
      if (uint32_t error = ProviderContext::Acquire(
              ToNarrow(info.containerName), ToNarrow(info.providerName), info.providerType,
              kCryptDeletekeyset, &deleted, db_)) {
        lastError_ = error;
      }
    }
  }
  store_ = CertStore();
  keptContainers_.clear();
  unmarked_.clear();
  keepSelected_ = false;
  lastError_ = 0;
}

}  // namespace quorvant
