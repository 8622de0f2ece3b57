#include "enroll/capi_session.h"

#include <algorithm>
#include <utility>

#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "encoding/time_forms.h"
#include "enroll/pending_record.h"
#include "enroll/pkcs10_request.h"
#include "enroll/weak_key.h"
#include "host/registry/registry.h"
#include "host/system/services.h"
#include "platform/keys/crypto_provider.h"

namespace quorvant {
namespace {

constexpr int kMaxKeyAttempts = 20;

uint32_t PlatformProviders(uint32_t index, std::string* name, uint32_t* type) {
  const CryptoProviderInfo* info = nullptr;
  if (const uint32_t error = CryptoProviders::Enumerate(index, &info)) return error;
  *name = std::string(info->name);
  *type = info->type;
  return 0;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string LocalRecordTime(Clock* clock) {
  const int64_t now = clock != nullptr ? clock->nowUnixSeconds() : 0;
  const std::optional<CalendarTime> local = LocalCalendarFromUtc(now);
  return local ? RecordTimeText(*local) : std::string();
}

}  // namespace

// What one enrolment call has made so far: its key containers and its
// pending-key records. Unless the call completes, they are removed again, so
// a failed call leaves no private key without a request behind.
class CapiSession::Rollback {
 public:
  Rollback(Registry* registry, std::string recordPath, const std::string& providerName,
           uint32_t providerType, std::shared_ptr<PlatformDatabase> db)
      : registry_(registry),
        recordPath_(std::move(recordPath)),
        providerName_(providerName),
        providerType_(providerType),
        db_(std::move(db)) {}
  Rollback(const Rollback&) = delete;
  Rollback& operator=(const Rollback&) = delete;
  ~Rollback() {
    if (kept_) return;
    for (const std::string& name : records_) {
      (void)registry_->deleteTree(RegRoot::kCurrentUser, recordPath_ + "\\" + name);
    }
    for (const std::string& name : containers_) DeleteContainer(name);
  }

  void addContainer(const std::string& name) { containers_.push_back(name); }
  void addRecord(const std::string& name) { records_.push_back(name); }
  // The container of a weak key, deleted at once.
  void dropContainer(const std::string& name) {
    DeleteContainer(name);
    std::erase(containers_, name);
  }
  void keep() { kept_ = true; }

 private:
  void DeleteContainer(const std::string& name) {
    std::unique_ptr<ProviderContext> none;
    (void)ProviderContext::Acquire(name, providerName_, providerType_, kCryptDeletekeyset, &none,
                                   db_);
  }

  Registry* const registry_;
  const std::string recordPath_;
  const std::string providerName_;
  const uint32_t providerType_;
  const std::shared_ptr<PlatformDatabase> db_;
  std::vector<std::string> containers_;
  std::vector<std::string> records_;
  bool kept_ = false;
};

CapiSession::CapiSession(EnrollServices services)
    : services_(std::move(services)), providerName_(kMsEnhancedProv) {
  // EnumerateProviders: any failure, the first included, ends the list.
  const ProviderEnumerator& enumerate =
      services_.providers ? services_.providers : ProviderEnumerator(PlatformProviders);
  for (uint32_t index = 0;; ++index) {
    std::string name;
    uint32_t type = 0;
    if (enumerate(index, &name, &type) != 0) break;
    if (type != kProvRsaFull && type != kProvRsaAes) continue;
    if (std::find(providers_.begin(), providers_.end(), name) == providers_.end()) {
      providers_.push_back(std::move(name));
    }
  }
}

int32_t CapiSession::setProviderName(std::string_view name) {
  errorCode_ = rc::kCspNameError;
  capiErrorCode_ = 0;
  if (name.empty()) return errorCode_ = rc::kBadArgument;
  // Whatever the caller names, keys go to the Enhanced provider, type 1:
  // the name only has to be given.
  providerType_ = kProvRsaFull;
  for (const std::string& installed : providers_) {
    if (installed == kMsEnhancedProv) {
      providerName_ = kMsEnhancedProv;
      errorCode_ = 0;
      break;
    }
  }
  return errorCode_;
}

int32_t CapiSession::setKeyBits(int32_t bits) {
  resetCodes();
  if (bits != 1024 && bits != 2048 && bits != 4096) return errorCode_ = rc::kBadKeyLength;
  keyBits_ = bits;
  return 0;
}

void CapiSession::setKeySpec(int32_t keySpec) {
  resetCodes();
  keySpec_ = keySpec == static_cast<int32_t>(kAtSignature) ? kAtSignature : kAtKeyExchange;
}

void CapiSession::setGenKeyFlags(int32_t flags) {
  resetCodes();
  genKeyFlags_ = (flags == 0 || flags == 2 || flags == 3) ? flags : 1;
}

uint32_t CapiSession::genKeyFlagsWord() const {
  uint32_t flags = static_cast<uint32_t>(keyBits_) << 16;
  if (StartsWith(providerName_, "Microsoft")) {
    // Without CRYPT_EXPORTABLE the key is archivable: the weak-key test can
    // still export it through the handle of its creation.
    flags |= (genKeyFlags_ & 1) ? kCryptExportable : kCryptArchivable;
    if (genKeyFlags_ & 2) flags |= kCryptUserProtected;
  }
  return flags;
}

bool CapiSession::isWeak(const CryptKey* key, uint32_t* capiCode) const {
  if (services_.weakKeyTest) return services_.weakKeyTest(key, capiCode);
  return IsWeakRsaKey(key, capiCode);
}

Outcome CapiSession::fail(Outcome outcome) {
  errorCode_ = outcome.code();
  capiErrorCode_ = outcome.systemError();
  return outcome;
}

int32_t CapiSession::finish(Outcome outcome) {
  errorCode_ = outcome.code();
  capiErrorCode_ = outcome.systemError();
  return errorCode_;
}

Outcome CapiSession::probeRegistry(const EnrollHost& host) {
  return ProbeRegistryWritable(host.registry);
}

Result<std::string> CapiSession::makeKeyAndRequest(const EnrollHost& host,
                                                   std::u16string_view commonName,
                                                   const std::string& recordTime,
                                                   Rollback& rollback) {
  const std::optional<std::string> container = RandomContainerName();
  if (!container) return Outcome::Fail(rc::kCspUnavailable, win32::kNteFail);
  const uint32_t flags = genKeyFlagsWord();
  const uint32_t keySpec = static_cast<uint32_t>(keySpec_);

  std::unique_ptr<ProviderContext> context;
  std::unique_ptr<CryptKey> key;
  for (int attempt = 1;; ++attempt) {
    if (const uint32_t error =
            ProviderContext::Acquire(*container, providerName_, static_cast<uint32_t>(providerType_),
                                     kCryptNewkeyset, &context, services_.keyDatabase)) {
      const bool unknownProvider = error == win32::kNteKeysetNotDef ||
                                   error == win32::kNteBadProvType;
      return Outcome::Fail(unknownProvider ? rc::kCspNotSupported : rc::kCspUnavailable, error);
    }
    rollback.addContainer(*container);
    if (const uint32_t error = context->genKey(keySpec, flags, &key)) {
      return Outcome::Fail(rc::kKeyGenerationFailed, error);
    }
    uint32_t testError = 0;
    if (!isWeak(key.get(), &testError)) break;
    key.reset();
    context.reset();
    rollback.dropContainer(*container);
    if (attempt == kMaxKeyAttempts) return Outcome::Fail(rc::kWeakRsaKey, testError);
  }

  Result<std::vector<uint8_t>> request =
      BuildRequest(*context, *key, keySpec, commonName, static_cast<uint32_t>(providerType_));
  if (!request.ok()) return request.outcome();
  ByteBuffer text;
  if (!Base64Encode(request->data(), static_cast<int32_t>(request->size()), text)) {
    return Outcome::Fail(rc::kAllocationFailed);
  }

  PendingKeyRecord record;
  ByteBuffer publicKey;
  if (const uint32_t error = key->exportKey(kPublickeyblob, 0, &publicKey)) {
    return Outcome::Fail(kPendingRecordFailure, error);
  }
  record.container = *container;
  record.providerName = providerName_;
  record.providerType = static_cast<uint32_t>(providerType_);
  record.keySpec = keySpec;
  record.publicKey.assign(publicKey.bytes().begin(), publicKey.bytes().end());
  record.dateTime = recordTime;
  record.commonName = ToNarrow(commonName);
  rollback.addRecord(*container);
  QUORVANT_RETURN_IF_FAILED(WritePendingRecord(*host.registry, recordPath_, record));
  return std::string(text.view());
}

std::string CapiSession::createRequest(const EnrollHost& host, std::u16string_view commonName) {
  resetCodes();
  const std::string recordTime = LocalRecordTime(host.clock);
  if (!fail(probeRegistry(host)).ok()) return std::string();
  if (commonName.empty()) {
    finish(Outcome::Fail(rc::kBadArgument));
    return std::string();
  }
  if (providerName_.empty()) {
    finish(Outcome::Fail(rc::kCspNameError));
    return std::string();
  }
  Rollback rollback(host.registry, recordPath_, providerName_,
                    static_cast<uint32_t>(providerType_), services_.keyDatabase);
  Result<std::string> request = makeKeyAndRequest(host, commonName, recordTime, rollback);
  if (!request.ok()) {
    finish(request.outcome());
    return std::string();
  }
  rollback.keep();
  return std::move(request).value();
}

int32_t CapiSession::createRequestPair(const EnrollHost& host, std::u16string_view commonName) {
  resetCodes();
  signRequest_.clear();
  encryptRequest_.clear();
  const std::string recordTime = LocalRecordTime(host.clock);
  if (!fail(probeRegistry(host)).ok()) return errorCode_;
  if (commonName.empty()) return finish(Outcome::Fail(rc::kBadArgument));
  if (providerName_.empty()) return finish(Outcome::Fail(rc::kCspNameError));
  Rollback rollback(host.registry, recordPath_, providerName_,
                    static_cast<uint32_t>(providerType_), services_.keyDatabase);
  keySpec_ = kAtSignature;
  Result<std::string> signing = makeKeyAndRequest(host, commonName, recordTime, rollback);
  keySpec_ = kAtKeyExchange;
  if (!signing.ok()) return finish(signing.outcome());
  Result<std::string> exchange = makeKeyAndRequest(host, commonName, recordTime, rollback);
  if (!exchange.ok()) return finish(exchange.outcome());
  rollback.keep();
  signRequest_ = std::move(signing).value();
  encryptRequest_ = std::move(exchange).value();
  return finish(Outcome::Ok());
}

int32_t CapiSession::countWeakKeys(const EnrollHost& host, int32_t count) {
  if (providerName_.empty()) {
    errorCode_ = rc::kCspNameError;
    return -1;
  }
  errorCode_ = 0;
  keyBits_ = 1024;
  keySpec_ = kAtKeyExchange;
  const int64_t now = host.clock != nullptr ? host.clock->nowUnixSeconds() : 0;
  const CalendarTime today = LocalCalendarFromUtc(now).value_or(CalendarTime{});
  int32_t weak = 0;
  for (int32_t i = 0; i < count; ++i) {
    const std::optional<std::string> random = RandomContainerName();
    if (!random) continue;
    const std::string container = ContainerPrefix(today, i) + *random;
    std::unique_ptr<ProviderContext> context;
    if (ProviderContext::Acquire(container, providerName_, static_cast<uint32_t>(providerType_),
                                 kCryptNewkeyset, &context, services_.keyDatabase) != 0) {
      continue;
    }
    std::unique_ptr<CryptKey> key;
    if (context->genKey(kAtKeyExchange, (1024u << 16) | kCryptExportable, &key) == 0) {
      ByteBuffer blob;
      uint32_t ignored = 0;
      if (key->exportKey(kPrivatekeyblob, 0, &blob) == 0 && isWeak(key.get(), &ignored)) ++weak;
    }
    key.reset();
    context.reset();
    std::unique_ptr<ProviderContext> none;
    (void)ProviderContext::Acquire(container, providerName_, static_cast<uint32_t>(providerType_),
                                   kCryptDeletekeyset, &none, services_.keyDatabase);
  }
  return weak;
}

}  // namespace quorvant
