/*
 * QuorvantATL: the automation control ZEBCapi and its binary interface.
 *
 * Script hosts and native programs reach the component's operations through
 * a COM-compatible object: the module's DllGetClassObject hands out the class
 * factory for CLSID_ZEBCapi, whose CreateInstance makes a control. Rules:
 *
 *  - Interfaces are tables of function pointers in the platform's one
 *    calling convention (System V x86-64); every method takes the interface
 *    pointer first. C callers call p->lpVtbl->Method(p, ...); C++ callers
 *    see the same tables as abstract classes and call p->Method(...).
 *    Define QUORVANT_CINTERFACE to get the C form in C++ as well.
 *  - Reference counting follows the usual rules: every interface pointer
 *    handed out carries one reference, released with Release. Counts are
 *    atomic; the control itself is to be called from one thread at a time.
 *  - Strings are automation strings (BSTR, see QuorvantATL.h): [in] strings
 *    stay the caller's and may be NULL (read as empty); [out, retval]
 *    strings are new and the caller frees them with SysFreeString.
 *    A string argument holding a zero character before its end cannot be
 *    passed on: the method refuses it with result code 5005.
 *  - Every IZEBCapi method returns S_OK once its [out, retval] pointer is
 *    usable (E_POINTER for NULL): a failed operation leaves its result code
 *    for GetErrorCode / GetErrorMsg on the same control. Each control has its
 *    own engine: codes and the selected signer are not shared between
 *    controls (the cross-process property store aside), nor with the flat
 *    exports.
 *  - IDispatch resolves the method names case-insensitively to the DISPIDs
 *    below; Invoke takes arguments in reverse order, as automation passes
 *    them, and answers the automation errors a script host expects. There is
 *    no type library to load: GetTypeInfoCount gives 0.
 *  - "long" of the automation interface is int32_t; ULONG, UINT, LCID and
 *    DWORD are uint32_t.
 */
#ifndef QUORVANT_CONTROL_H_
#define QUORVANT_CONTROL_H_

#include <stddef.h>
#include <stdint.h>

#include "QuorvantATL.h"
/* The component's operations, in interface order, with their DISPIDs. */
#include "operation_table.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t ULONG;
typedef uint32_t LCID;
typedef int32_t DISPID;
typedef int32_t BOOL;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef int32_t SCODE;
typedef GUID IID;
typedef GUID CLSID;

/* Result values. */
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000A)
#define DISP_E_BADINDEX ((HRESULT)0x8002000B)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000E)
#define SELFREG_E_TYPELIB ((HRESULT)0x80040200)
#define SELFREG_E_CLASS ((HRESULT)0x80040201)

#define DISPID_UNKNOWN ((DISPID)-1)
#define DISPID_PROPERTYPUT ((DISPID)-3)

/* IDispatch::Invoke flags. */
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

/* IObjectSafety options. */
#define INTERFACESAFE_FOR_UNTRUSTED_CALLER 0x00000001
#define INTERFACESAFE_FOR_UNTRUSTED_DATA 0x00000002

/* Variant types the control reads and writes. */
enum QuorvantVarType {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000
};

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

struct IUnknown;
struct IDispatch;

/* 24 bytes: the type at offset 0, the value at offset 8. */
typedef struct tagVARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    int32_t lVal;
    uint8_t bVal;
    int16_t iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    struct IUnknown* punkVal;
    struct IDispatch* pdispVal;
    char cVal;
    uint16_t uiVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t intVal;
    uint32_t uintVal;
    uint8_t* pbVal;
    int16_t* piVal;
    int32_t* plVal;
    int64_t* pllVal;
    float* pfltVal;
    double* pdblVal;
    VARIANT_BOOL* pboolVal;
    BSTR* pbstrVal;
    struct tagVARIANT* pvarVal;
    char* pcVal;
    uint16_t* puiVal;
    uint32_t* pulVal;
    uint64_t* pullVal;
    int32_t* pintVal;
    uint32_t* puintVal;
    void* byref;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } brecVal;
  };
} VARIANT;
typedef VARIANT VARIANTARG;

typedef struct tagDISPPARAMS {
  VARIANTARG* rgvarg;          /* the arguments, last one first */
  DISPID* rgdispidNamedArgs;
  uint32_t cArgs;
  uint32_t cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
  uint16_t wCode;
  uint16_t wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  uint32_t dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(struct tagEXCEPINFO*);
  SCODE scode;
} EXCEPINFO;

/* Identities. The platform's own interfaces keep their usual identifiers. */
static const GUID LIBID_QUORVANTATLLib = {
    0xA7D05B12, 0x8C39, 0x4E61, {0xB2, 0xF4, 0x1F, 0x6B, 0x93, 0xC0, 0xE7, 0x25}};
static const GUID IID_IZEBCapi = {
    0x9B7E3C14, 0x2F68, 0x4A01, {0x8D, 0x5C, 0xE4, 0xD2, 0x0A, 0x7B, 0x5F, 0x19}};
static const GUID CLSID_ZEBCapi = {
    0x6E1C2A90, 0x3D47, 0x4B8E, {0x9F, 0x15, 0x7A, 0x2C, 0x51, 0xE0, 0x8D, 0x34}};
static const GUID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
static const GUID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID IID_IObjectSafety = {
    0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};
static const GUID IID_IOleObject = {
    0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID IID_IPersistStreamInit = {
    0x7FD52380, 0x4E07, 0x101B, {0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13}};
static const GUID IID_IPersistStorage = {
    0x0000010A, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const GUID IID_IPersistPropertyBag = {
    0x37D84F60, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}};

#define QUORVANT_PROGID_VERSIONED u"QuorvantATL.ZEBCapi.1"
#define QUORVANT_PROGID u"QuorvantATL.ZEBCapi"

/* Registration on the machine's side: DllInstall(TRUE, u"machine")
 * registers under HKEY_LOCAL_MACHINE\Software\Classes (root only),
 * DllInstall(FALSE, u"machine") unregisters there; u"user" (or NULL) works
 * on the user's side like DllRegisterServer / DllUnregisterServer. */
QUORVANT_API HRESULT DllInstall(BOOL bInstall, const OLECHAR* pszCmdLine);

/* --- The interfaces -------------------------------------------------------
 * Each IZEBCapi method is generated from the operation list: [in] BSTR for a
 * string parameter, [in] int32_t for an integer, then [out, retval] BSTR* or
 * int32_t*. */
#define QUORVANT_CTL_RET_kText BSTR
#define QUORVANT_CTL_RET_kInt int32_t
#define QUORVANT_CTL_PARAMS_AFTER(...) __VA_OPT__(, __VA_ARGS__)
#define QUORVANT_CTL_PARAMS_BEFORE(...) __VA_ARGS__ __VA_OPT__(,)

#pragma push_macro("T")
#pragma push_macro("I")
#undef T
#undef I
#define T(name) BSTR name
#define I(name) int32_t name

#if defined(__cplusplus) && !defined(QUORVANT_CINTERFACE)

#define QUORVANT_CTL_METHOD(Name, Export, DispId, Result, Params)           \
  virtual HRESULT Name(QUORVANT_CTL_PARAMS_BEFORE Params                    \
                           QUORVANT_CTL_RET_##Result* Ret) = 0;

struct IUnknown {
  virtual HRESULT QueryInterface(const IID* riid, void** ppvObject) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* pUnkOuter, const IID* riid, void** ppvObject) = 0;
  virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(uint32_t* pctinfo) = 0;
  virtual HRESULT GetTypeInfo(uint32_t iTInfo, LCID lcid, void** ppTInfo) = 0;
  virtual HRESULT GetIDsOfNames(const IID* riid, OLECHAR** rgszNames, uint32_t cNames,
                                LCID lcid, DISPID* rgDispId) = 0;
  virtual HRESULT Invoke(DISPID dispIdMember, const IID* riid, LCID lcid, uint16_t wFlags,
                         DISPPARAMS* pDispParams, VARIANT* pVarResult,
                         EXCEPINFO* pExcepInfo, uint32_t* puArgErr) = 0;
};

struct IZEBCapi : IDispatch {
  QUORVANT_OPERATIONS(QUORVANT_CTL_METHOD)
  /* In the interface table only: no DISPID, not reachable through Invoke. */
  virtual HRESULT CountWeakKeys(int32_t count, int32_t* Ret) = 0;
};

struct IObjectSafety : IUnknown {
  virtual HRESULT GetInterfaceSafetyOptions(const IID* riid, uint32_t* pdwSupportedOptions,
                                            uint32_t* pdwEnabledOptions) = 0;
  virtual HRESULT SetInterfaceSafetyOptions(const IID* riid, uint32_t dwOptionSetMask,
                                            uint32_t dwEnabledOptions) = 0;
};

#else /* the C form */

#define QUORVANT_CTL_METHOD(Name, Export, DispId, Result, Params) \
  HRESULT (*Name)(IZEBCapi * This QUORVANT_CTL_PARAMS_AFTER Params,  \
                  QUORVANT_CTL_RET_##Result * Ret);

typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
typedef struct IDispatch IDispatch;
typedef struct IZEBCapi IZEBCapi;
typedef struct IObjectSafety IObjectSafety;

#define QUORVANT_CTL_IUNKNOWN_SLOTS(Self)                                    \
  HRESULT (*QueryInterface)(Self * This, const IID* riid, void** ppvObject); \
  ULONG (*AddRef)(Self * This);                                              \
  ULONG (*Release)(Self * This);

#define QUORVANT_CTL_IDISPATCH_SLOTS(Self)                                           \
  HRESULT (*GetTypeInfoCount)(Self * This, uint32_t * pctinfo);                      \
  HRESULT (*GetTypeInfo)(Self * This, uint32_t iTInfo, LCID lcid, void** ppTInfo);   \
  HRESULT (*GetIDsOfNames)(Self * This, const IID* riid, OLECHAR** rgszNames,        \
                           uint32_t cNames, LCID lcid, DISPID* rgDispId);            \
  HRESULT (*Invoke)(Self * This, DISPID dispIdMember, const IID* riid, LCID lcid,    \
                    uint16_t wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,   \
                    EXCEPINFO* pExcepInfo, uint32_t* puArgErr);

typedef struct IUnknownVtbl {
  QUORVANT_CTL_IUNKNOWN_SLOTS(IUnknown)
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};

typedef struct IClassFactoryVtbl {
  QUORVANT_CTL_IUNKNOWN_SLOTS(IClassFactory)
  HRESULT (*CreateInstance)(IClassFactory* This, IUnknown* pUnkOuter, const IID* riid,
                            void** ppvObject);
  HRESULT (*LockServer)(IClassFactory* This, BOOL fLock);
} IClassFactoryVtbl;
struct IClassFactory {
  const IClassFactoryVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
  QUORVANT_CTL_IUNKNOWN_SLOTS(IDispatch)
  QUORVANT_CTL_IDISPATCH_SLOTS(IDispatch)
} IDispatchVtbl;
struct IDispatch {
  const IDispatchVtbl* lpVtbl;
};

typedef struct IZEBCapiVtbl {
  QUORVANT_CTL_IUNKNOWN_SLOTS(IZEBCapi)
  QUORVANT_CTL_IDISPATCH_SLOTS(IZEBCapi)
  QUORVANT_OPERATIONS(QUORVANT_CTL_METHOD)
  /* In the interface table only: no DISPID, not reachable through Invoke. */
  HRESULT (*CountWeakKeys)(IZEBCapi* This, int32_t count, int32_t* Ret);
} IZEBCapiVtbl;
struct IZEBCapi {
  const IZEBCapiVtbl* lpVtbl;
};

typedef struct IObjectSafetyVtbl {
  QUORVANT_CTL_IUNKNOWN_SLOTS(IObjectSafety)
  HRESULT (*GetInterfaceSafetyOptions)(IObjectSafety* This, const IID* riid,
                                       uint32_t* pdwSupportedOptions,
                                       uint32_t* pdwEnabledOptions);
  HRESULT (*SetInterfaceSafetyOptions)(IObjectSafety* This, const IID* riid,
                                       uint32_t dwOptionSetMask, uint32_t dwEnabledOptions);
} IObjectSafetyVtbl;
struct IObjectSafety {
  const IObjectSafetyVtbl* lpVtbl;
};

#undef QUORVANT_CTL_IUNKNOWN_SLOTS
#undef QUORVANT_CTL_IDISPATCH_SLOTS

#endif /* C++ or C form */

#undef QUORVANT_CTL_METHOD
#undef T
#undef I
#pragma pop_macro("I")
#pragma pop_macro("T")

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* QUORVANT_CONTROL_H_ */
