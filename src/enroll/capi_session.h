// CapiSession: the enrolment object inside every engine (provider choice,
// key generation, requests and certificate installation). It keeps its own
// result code and system error number, which the calling operation copies
// into the engine's codes.
//
// The session owns no platform handle between operations: provider
// contexts, keys, registry keys and stores are opened and closed within one
// call. Its settings (key size, key kind, protection flags, provider) stay
// from one operation to the next.
#ifndef QUORVANT_ENROLL_CAPI_SESSION_H_
#define QUORVANT_ENROLL_CAPI_SESSION_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/outcome.h"
#include "enroll/enroll_services.h"

namespace quorvant {

class CertificateStores;
class Clock;
class DialogHost;
class ProviderContext;
class Registry;

// The engine's services an enrolment operation uses, borrowed for the call.
struct EnrollHost {
  Registry* registry = nullptr;
  Clock* clock = nullptr;
  CertificateStores* stores = nullptr;
  DialogHost* dialogs = nullptr;
};

class CapiSession {
 public:
  // Takes the provider list at once (EnumerateProviders).
  explicit CapiSession(EnrollServices services = {});
  CapiSession(const CapiSession&) = delete;
  CapiSession& operator=(const CapiSession&) = delete;

  int32_t errorCode() const { return errorCode_; }
  uint32_t capiErrorCode() const { return capiErrorCode_; }

  // Installed providers of type 1 or 24, in enumeration order, each name once.
  const std::vector<std::string>& providers() const { return providers_; }
  const std::string& providerName() const { return providerName_; }
  int32_t providerType() const { return providerType_; }
  int32_t keyBits() const { return keyBits_; }
  int32_t keySpec() const { return keySpec_; }
  int32_t genKeyFlags() const { return genKeyFlags_; }
  const std::string& signRequest() const { return signRequest_; }
  const std::string& encryptRequest() const { return encryptRequest_; }

  // SetProviderName's session part: any non-empty name selects the Enhanced
  // provider, which must be installed (5046 otherwise).
  int32_t setProviderName(std::string_view name);
  // 1024, 2048 or 4096; anything else leaves the size and gives 5301.
  int32_t setKeyBits(int32_t bits);
  // 2 is AT_SIGNATURE, anything else AT_KEYEXCHANGE.
  void setKeySpec(int32_t spec);
  // 0, 2 and 3 as given, anything else 1 (exportable).
  void setGenKeyFlags(int32_t flags);
  void setRecordPath(std::string path) { recordPath_ = std::move(path); }
  void resetCodes() {
    errorCode_ = 0;
    capiErrorCode_ = 0;
  }

  // CreatePKCS10: one key of the current kind and its request (one line of
  // Base64; empty on failure).
  std::string createRequest(const EnrollHost& host, std::u16string_view commonName);
  // CreatePKCS10Pair: a signing key, then an exchange key, each with its
  // request (signRequest(), encryptRequest()).
  int32_t createRequestPair(const EnrollHost& host, std::u16string_view commonName);
  // AcceptPKCS7 on the narrow reply text.
  int32_t acceptReply(const EnrollHost& host, std::string_view reply);
  // CountWeakKeys: -1 with 5046 when no provider is set.
  int32_t countWeakKeys(const EnrollHost& host, int32_t count);

 private:
  class Rollback;

  Outcome probeRegistry(const EnrollHost& host);
  uint32_t genKeyFlagsWord() const;
  bool isWeak(const CryptKey* key, uint32_t* capiCode) const;
  // One key with its request and record in a new container; the container
  // and the record are noted in `rollback` as they are made.
  Result<std::string> makeKeyAndRequest(const EnrollHost& host, std::u16string_view commonName,
                                        const std::string& recordTime, Rollback& rollback);
  Outcome fail(Outcome outcome);
  int32_t finish(Outcome outcome);

  const EnrollServices services_;
  int32_t errorCode_ = 0;
  uint32_t capiErrorCode_ = 0;
  int32_t keyBits_ = 2048;
  std::string providerName_;
  int32_t providerType_ = 1;
  int32_t keySpec_ = 1;
  int32_t genKeyFlags_ = 1;
  std::vector<std::string> providers_;
  std::string signRequest_;
  std::string encryptRequest_;
  std::string recordPath_;
};

}  // namespace quorvant

#endif  // QUORVANT_ENROLL_CAPI_SESSION_H_
