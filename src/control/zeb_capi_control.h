// ZEBCapi, the automation control: IZEBCapi (dual, over IDispatch) and
// IObjectSafety on one object that owns its own SecurityEngine. Every
// IZEBCapi method converts its arguments, calls the engine operation of the
// same name and returns S_OK; the script reads the outcome from
// GetErrorCode afterwards.
//
// The object can be aggregated: it then delegates QueryInterface, AddRef and
// Release of its interfaces to the outer object, which holds the inner,
// non-delegating IUnknown.
#ifndef QUORVANT_CONTROL_ZEB_CAPI_CONTROL_H_
#define QUORVANT_CONTROL_ZEB_CAPI_CONTROL_H_

#include <atomic>
#include <memory>

#include "QuorvantControl.h"
#include "control/control_macros.h"
#include "engine/security_engine.h"

namespace quorvant::control {

class ZebCapiControl final : public IZEBCapi, public IObjectSafety {
  struct Key {};

 public:
  // Makes a control (aggregated when `outer` is not null, which then must
  // ask for IUnknown) and answers `riid` on it.
  static HRESULT Create(IUnknown* outer, const IID* riid, void** out);

  // For Create only (the key is private).
  ZebCapiControl(Key, IUnknown* outer, std::unique_ptr<SecurityEngine> engine);
  ~ZebCapiControl();
  ZebCapiControl(const ZebCapiControl&) = delete;
  ZebCapiControl& operator=(const ZebCapiControl&) = delete;

  // IUnknown, delegating to the controlling unknown.
  HRESULT QueryInterface(const IID* riid, void** ppvObject) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch.
  HRESULT GetTypeInfoCount(uint32_t* pctinfo) override;
  HRESULT GetTypeInfo(uint32_t iTInfo, LCID lcid, void** ppTInfo) override;
  HRESULT GetIDsOfNames(const IID* riid, OLECHAR** rgszNames, uint32_t cNames, LCID lcid,
                        DISPID* rgDispId) override;
  HRESULT Invoke(DISPID dispIdMember, const IID* riid, LCID lcid, uint16_t wFlags,
                 DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                 uint32_t* puArgErr) override;

  // IZEBCapi: one method per operation, then CountWeakKeys.
#pragma push_macro("T")
#pragma push_macro("I")
#define T(name) (BSTR, name)
#define I(name) (int32_t, name)
#define QUORVANT_CTL_DECLARE(Name, Export, DispId, Result, Params)        \
  HRESULT Name(QUORVANT_CTL_FOR_EACH(QUORVANT_CTL_SIGNATURE_ITEM, Params) \
                   QUORVANT_CTL_RET_##Result* Ret) override;
  QUORVANT_OPERATIONS(QUORVANT_CTL_DECLARE)
#undef QUORVANT_CTL_DECLARE
#undef T
#undef I
#pragma pop_macro("I")
#pragma pop_macro("T")
  HRESULT CountWeakKeys(int32_t count, int32_t* Ret) override;

  // IObjectSafety.
  HRESULT GetInterfaceSafetyOptions(const IID* riid, uint32_t* pdwSupportedOptions,
                                    uint32_t* pdwEnabledOptions) override;
  HRESULT SetInterfaceSafetyOptions(const IID* riid, uint32_t dwOptionSetMask,
                                    uint32_t dwEnabledOptions) override;

 private:
  // The object's own identity and reference count; the controlling unknown
  // when the control stands alone.
  struct NonDelegatingUnknown final : IUnknown {
    explicit NonDelegatingUnknown(ZebCapiControl* ownerIn) : owner(ownerIn) {}
    HRESULT QueryInterface(const IID* riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    ZebCapiControl* const owner;
    std::atomic<ULONG> references{0};
  };

  HRESULT answerInterface(const IID* riid, void** ppvObject);
  template <class Out, class Operation, class... Args>
  HRESULT forward(Out* ret, Operation&& operation, Args... args);

  NonDelegatingUnknown inner;
  // The outer object when aggregated, else null (the inner unknown controls).
  IUnknown* const outerUnknown;
  const std::unique_ptr<SecurityEngine> engine;
  // IObjectSafety's options: only ever gain bits.
  uint32_t safetyOptions = 0;
};

}  // namespace quorvant::control

#endif  // QUORVANT_CONTROL_ZEB_CAPI_CONTROL_H_
