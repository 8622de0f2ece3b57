// What keeps the module in use: live controls, references to the class
// factory and server locks. DllCanUnloadNow answers from this count.
#ifndef QUORVANT_CONTROL_MODULE_STATE_H_
#define QUORVANT_CONTROL_MODULE_STATE_H_

#include "QuorvantControl.h"

namespace quorvant::control {

// Each control counts itself from construction to destruction.
void LockModule();
void UnlockModule();
// True while a control, a reference to the class factory or a server lock
// is alive.
bool ModuleInUse();

// The class factory of CLSID_ZEBCapi: one object for the module's lifetime,
// handed out again on every request.
HRESULT GetClassObject(const CLSID* rclsid, const IID* riid, void** ppv);

}  // namespace quorvant::control

#endif  // QUORVANT_CONTROL_MODULE_STATE_H_
