// The module's class factory and the count that DllCanUnloadNow reads.
#include <atomic>
#include <cstring>

#include "control/module_state.h"
#include "control/zeb_capi_control.h"

namespace quorvant::control {
namespace {

std::atomic<int64_t> liveObjects{0};
std::atomic<int64_t> serverLocks{0};

// Takes one away unless there is none, and gives the count before: an
// unlock without a lock, or a release without a reference, must not hide
// another user of the module.
template <class Count>
Count DropOne(std::atomic<Count>& count) {
  Count current = count.load();
  while (current > 0 && !count.compare_exchange_weak(current, current - 1)) {
  }
  return current;
}

bool SameGuid(const GUID* a, const GUID& b) {
  return a != nullptr && std::memcmp(a, &b, sizeof(GUID)) == 0;
}

// Lives as long as the module. Its references keep the module in use (a
// caller holding the factory may still create controls), but the object
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
  ULONG AddRef() override { return ++references; }
  ULONG Release() override {
    const ULONG before = DropOne(references);
    return before > 0 ? before - 1 : 0;
  }
  HRESULT CreateInstance(IUnknown* pUnkOuter, const IID* riid, void** ppvObject) override {
    return ZebCapiControl::Create(pUnkOuter, riid, ppvObject);
  }
  HRESULT LockServer(BOOL fLock) override {
    if (fLock) {
      ++serverLocks;
    } else {
      DropOne(serverLocks);
    }
    return S_OK;
  }

  bool referenced() const { return references.load() > 0; }

 private:
  std::atomic<ULONG> references{0};
};

ClassFactory& TheFactory() {
  static ClassFactory factory;
  return factory;
}

}  // namespace

void LockModule() { ++liveObjects; }
void UnlockModule() { DropOne(liveObjects); }

bool ModuleInUse() {
  return liveObjects.load() > 0 || serverLocks.load() > 0 || TheFactory().referenced();
}

HRESULT GetClassObject(const CLSID* rclsid, const IID* riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!SameGuid(rclsid, CLSID_ZEBCapi)) return CLASS_E_CLASSNOTAVAILABLE;
  return TheFactory().QueryInterface(riid, ppv);
}

}  // namespace quorvant::control
