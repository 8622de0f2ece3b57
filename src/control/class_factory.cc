// The module's class factory and the count that DllCanUnloadNow reads.
#include <atomic>
#include <cstring>

#include "control/module_state.h"
#include "control/zeb_capi_control.h"

namespace quorvant::control {
namespace {

std::atomic<int64_t> moduleUsers{0};

bool SameGuid(const GUID* a, const GUID& b) {
  return a != nullptr && std::memcmp(a, &b, sizeof(GUID)) == 0;
}

// Lives as long as the module. Its references count as users of the module
// (a caller holding the factory may still create controls), but the object
// itself is never destroyed.
class ClassFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(const IID* riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (!SameGuid(riid, IID_IUnknown) && !SameGuid(riid, IID_IClassFactory)) {
      return E_NOINTERFACE;
    }
    *ppvObject = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override {
    LockModule();
    return ++references;
  }
  ULONG Release() override {
    // A release without a reference changes nothing.
    ULONG current = references.load();
    while (current != 0 && !references.compare_exchange_weak(current, current - 1)) {
    }
    if (current == 0) return 0;
    UnlockModule();
    return current - 1;
  }
  HRESULT CreateInstance(IUnknown* pUnkOuter, const IID* riid, void** ppvObject) override {
    return ZebCapiControl::Create(pUnkOuter, riid, ppvObject);
  }
  HRESULT LockServer(BOOL fLock) override {
    if (fLock) {
      LockModule();
    } else {
      UnlockModule();
    }
    return S_OK;
  }

 private:
  std::atomic<ULONG> references{0};
};

}  // namespace

void LockModule() { ++moduleUsers; }

// An unlock without a lock (LockServer(FALSE) first) is ignored rather than
// letting the count go negative and report the module free too early.
void UnlockModule() {
  int64_t current = moduleUsers.load();
  while (current > 0 && !moduleUsers.compare_exchange_weak(current, current - 1)) {
  }
}

bool ModuleInUse() { return moduleUsers.load() > 0; }

HRESULT GetClassObject(const CLSID* rclsid, const IID* riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!SameGuid(rclsid, CLSID_ZEBCapi)) return CLASS_E_CLASSNOTAVAILABLE;
  static ClassFactory factory;
  return factory.QueryInterface(riid, ppv);
}

}  // namespace quorvant::control
