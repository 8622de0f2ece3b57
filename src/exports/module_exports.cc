// The module's registration and class-factory entry points. The automation
// control is not part of this build yet: there is no class to hand out and
// nothing to register.
#include "QuorvantATL.h"

namespace {
constexpr HRESULT kOk = 0;
constexpr HRESULT kNotImplemented = static_cast<HRESULT>(0x80004001);
constexpr HRESULT kPointer = static_cast<HRESULT>(0x80004003);
constexpr HRESULT kClassNotAvailable = static_cast<HRESULT>(0x80040111);
}  // namespace

extern "C" {

QUORVANT_API HRESULT DllCanUnloadNow(void) { return kOk; }

QUORVANT_API HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
  if (ppv == nullptr) return kPointer;
  *ppv = nullptr;
  return kClassNotAvailable;
}

QUORVANT_API HRESULT DllRegisterServer(void) { return kNotImplemented; }
QUORVANT_API HRESULT DllUnregisterServer(void) { return kNotImplemented; }

}  // extern "C"
