// Enrolment: provider selection, key pairs with their PKCS #10 requests,
// the installation of the issued certificate and the weak-key count. The
// work is CapiSession's; the engine applies the result-code protocol and
// takes over the session's codes.
#include "base/result_codes.h"
#include "encoding/code_page.h"
#include "engine/security_engine.h"
#include "enroll/pending_record.h"
#include "platform/certificates/key_provider_info.h"

namespace quorvant {

EnrollHost SecurityEngine::enrollHost() const {
  EnrollHost host;
  host.registry = services.host.registry.get();
  host.clock = services.host.clock.get();
  host.stores = services.stores.get();
  host.dialogs = services.dialogs.get();
  return host;
}

int32_t SecurityEngine::SetProviderName(TextArg strProviderName) {
  clearCodes();
  if (strProviderName.empty()) return errorCode = rc::kBadArgument;
  if (refuseInProtectedMode()) return errorCode;
  capi.setProviderName(ToNarrow(strProviderName));
  errorCode = capi.errorCode();
  capiErrorCode = capi.capiErrorCode();
  return errorCode;
}

Text SecurityEngine::CreatePKCS10(TextArg commonName, int32_t keyBits, int32_t genKeyFlags) {
  clearCodes();
  csrForSign.clear();
  csrForEncrypt.clear();
  if (commonName.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();
  capi.setRecordPath(kRecordPath);
  if (capi.setKeyBits(keyBits) != 0) {
    errorCode = capi.errorCode();
    return Text();
  }
  capi.setGenKeyFlags(genKeyFlags);
  capi.setKeySpec(static_cast<int32_t>(kAtKeyExchange));
  csrForSign = capi.createRequest(enrollHost(), commonName);
  errorCode = capi.errorCode();
  capiErrorCode = capi.capiErrorCode();
  return ToInterfaceText(csrForSign);
}

int32_t SecurityEngine::CreatePKCS10Pair(TextArg commonName, int32_t keyBits,
                                         int32_t genKeyFlags) {
  clearCodes();
  csrForSign.clear();
  csrForEncrypt.clear();
  if (commonName.empty()) return errorCode = rc::kBadArgument;
  if (refuseInProtectedMode()) return errorCode;
  capi.setRecordPath(kRecordPath);
  if (capi.setKeyBits(keyBits) != 0) return errorCode = capi.errorCode();
  capi.setGenKeyFlags(genKeyFlags);
  capi.createRequestPair(enrollHost(), commonName);
  errorCode = capi.errorCode();
  capiErrorCode = capi.capiErrorCode();
  csrForSign = capi.signRequest();
  csrForEncrypt = capi.encryptRequest();
  return errorCode;
}

int32_t SecurityEngine::AcceptPKCS7(TextArg strPkcs7) {
  clearCodes();
  if (strPkcs7.empty()) return errorCode = rc::kBadArgument;
  if (refuseInProtectedMode()) return errorCode;
  capi.setRecordPath(kRecordPath);
  capi.acceptReply(enrollHost(), ToNarrow(strPkcs7));
  errorCode = capi.errorCode();
  capiErrorCode = capi.capiErrorCode();
  return errorCode;
}

int32_t SecurityEngine::CountWeakKeys(int32_t count) {
  clearCodes();
  if (refuseInProtectedMode()) return -1;
  const int32_t weak = capi.countWeakKeys(enrollHost(), count);
  errorCode = capi.errorCode();
  return weak;
}

}  // namespace quorvant
