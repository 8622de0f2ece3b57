#include "engine/security_engine.h"

#include <cstdio>
#include <utility>

#include "encoding/code_page.h"
#include "engine/error_messages.h"
#include "base/result_codes.h"
#include "host/system/home_path.h"
#include "host/shared_memory/shared_memory.h"
#include "host/system/system_messages.h"

namespace quorvant {

SecurityEngine::SecurityEngine(EngineServices servicesIn)
    : services(std::move(servicesIn)), capi(services.enroll) {
  // Members are built empty in declaration order (capi first among the
  // objects); then the order the component has always kept: the OS version,
  // the home folder, no property store yet, the protected-mode probe.
  // Construction never fails and reports nothing.
  if (!services.host.osVersion || !services.host.osVersion->read(&osVersion)) {
    osVersion = OsVersionInfo{};
  }
  userHomePath = ComputeUserHomePath(osVersion, services.host.environment);
  ieProtectedMode =
      services.host.protectedMode && services.host.protectedMode->isProtectedMode();
}

SecurityEngine::~SecurityEngine() {
  propertyStore.reset();
  ieCertList.clear();
  // Strings and buffers, then capi, go with the members in reverse order.
}

bool SecurityEngine::refuseInProtectedMode() {
  if (!ieProtectedMode) return false;
  errorCode = rc::kProtectedMode;
  return true;
}

void SecurityEngine::noteEscapedFailure(bool outOfMemory) {
  errorCode = outOfMemory ? rc::kAllocationFailed : rc::kGeneralError;
}

// --- Version, result codes and messages -----------------------------------

Text SecurityEngine::GetVersion() {
  errorCode = 0;  // capiErrorCode keeps its value unless the record is unreadable
  FileVersion version;
  uint32_t error = 0;
  if (!services.host.moduleVersion || !services.host.moduleVersion->read(&version, &error)) {
    errorCode = rc::kNotSupported;
    capiErrorCode = error;
    return Text();
  }
  char text[32];
  std::snprintf(text, sizeof(text), "%d.%d.%d.%d", version.major, version.minor,
                version.build, version.revision);
  return ToInterfaceText(text);
}

Text SecurityEngine::GetErrorMsg() const { return ErrorMessageText(errorCode); }

Text SecurityEngine::GetCapiErrorMsg() const {
  return ToInterfaceText(CapiErrorMessage(capiErrorCode));
}

// --- Small operations on stored state --------------------------------------

int32_t SecurityEngine::PresetPasswdLengthRange(int32_t min, int32_t max) {
  if (max < min) std::swap(min, max);
  if (min < 1) min = 0;
  if (max < 1) max = 16;
  passwdMinLength = min;
  passwdMaxLength = max;
  passwdRangePreset = true;
  errorCode = 0;
  capiErrorCode = 0;
  return 0;
}

int32_t SecurityEngine::SetDefaultPfxFileName(TextArg strPrefix) {
  // Clears errorCode only, and stores the text unchanged (empty clears it);
  // protected mode does not matter here.
  errorCode = 0;
  defaultPfxFileName = ToNarrow(strPrefix);
  return errorCode;
}

Text SecurityEngine::GetUserHomePath() {
  clearCodes();
  return ToInterfaceText(userHomePath);
}

Text SecurityEngine::GetCsrForSign() const { return ToInterfaceText(csrForSign); }
Text SecurityEngine::GetCsrForEncrypt() const { return ToInterfaceText(csrForEncrypt); }
Text SecurityEngine::GetImportedPfxFilePath() const {
  return ToInterfaceText(importedPfxFilePath);
}
Text SecurityEngine::GetImportedPfxFileName() const {
  return ToInterfaceText(importedPfxFileName);
}
Text SecurityEngine::GetExportedPfxFilePath() const {
  return ToInterfaceText(exportedPfxFilePath);
}
Text SecurityEngine::GetExportedPfxFileName() const {
  return ToInterfaceText(exportedPfxFileName);
}
Text SecurityEngine::GetSignerPfxFilePath() const { return ToInterfaceText(signerCertFilePath); }
Text SecurityEngine::GetSignerPfxFileName() const { return ToInterfaceText(signerCertFileName); }

}  // namespace quorvant
