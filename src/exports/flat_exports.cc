// The flat exported functions: one per engine operation, each a line that
// converts the arguments, calls theEngine and converts the result. The guard
// around each call keeps every failure on this side of the boundary as a
// result code. Each call holds the engine's lock from the first touch of
// theEngine to the last.
#include <memory>
#include <mutex>
#include <new>

#include <type_traits>

#include "QuorvantATL.h"
#include "operation_table.h"
#include "base/automation_string.h"
#include "base/result_codes.h"
#include "exports/the_engine.h"

namespace quorvant {
namespace {

std::unique_ptr<SecurityEngine> CreateTheEngine() noexcept {
  try {
    return std::make_unique<SecurityEngine>(DefaultEngineServices());
  } catch (...) {
    return nullptr;
  }
}

// Built by the library's initialisation when it is loaded, before any export
// can be called, and destroyed with the library's other static objects when
// it is unloaded (or at exit, if the loader keeps it).
std::unique_ptr<SecurityEngine> theEngine = CreateTheEngine();

std::recursive_mutex& TheEngineMutex() {
  // A function-local static, so an entry called during another library's
  // initialisation still finds it built.
  static std::recursive_mutex mutex;
  return mutex;
}

BSTR EmptyResult() { return MakeAutomationString(std::u16string_view()); }

template <class Operation>
BSTR TextExport(Operation&& operation) noexcept {
  EngineLock lock;
  SecurityEngine* engine = TheEngine();
  if (engine == nullptr) return EmptyResult();
  try {
    BSTR result = MakeAutomationString(operation(*engine));
    if (result == nullptr) engine->noteEscapedFailure(true);
    return result;
  } catch (const std::bad_alloc&) {
    engine->noteEscapedFailure(true);
  } catch (...) {
    engine->noteEscapedFailure(false);
  }
  return EmptyResult();
}

template <class Operation>
int32_t IntExport(Operation&& operation) noexcept {
  EngineLock lock;
  SecurityEngine* engine = TheEngine();
  if (engine == nullptr) return rc::kAllocationFailed;
  try {
    return operation(*engine);
  } catch (const std::bad_alloc&) {
    engine->noteEscapedFailure(true);
  } catch (...) {
    engine->noteEscapedFailure(false);
  }
  return engine->GetErrorCode();
}

std::u16string_view A(const OLECHAR* text) { return ArgumentText(text); }

}  // namespace

SecurityEngine* TheEngine() { return theEngine.get(); }

EngineLock::EngineLock() : guard_(TheEngineMutex()) {}

}  // namespace quorvant

// The public header declares every operation of the table with the table's
// result and parameter kinds, so the header, the exports below and every
// list built from the table cannot drift apart.
namespace quorvant::table_check {
using kText = BSTR;
using kInt = int32_t;
#define T(name) const OLECHAR*
#define I(name) int32_t
#define X(Name, Export, DispId, Result, Params)                              \
  static_assert(std::is_same_v<decltype(&::Export), Result(*) Params>,       \
                #Export " in QuorvantATL.h does not match the operation table");
QUORVANT_OPERATIONS(X)
#undef X
#undef I
#undef T
}  // namespace quorvant::table_check

using quorvant::A;
using quorvant::IntExport;
using quorvant::SecurityEngine;
using quorvant::TextExport;
using E = SecurityEngine;

extern "C" {

QUORVANT_API BSTR GetDllVersion(void) {
  return TextExport([](E& e) { return e.GetVersion(); });
}
QUORVANT_API int32_t GetErrorCode(void) {
  return IntExport([](E& e) { return e.GetErrorCode(); });
}
QUORVANT_API BSTR GetErrorMsg(void) {
  return TextExport([](E& e) { return e.GetErrorMsg(); });
}
QUORVANT_API int32_t GetCapiErrorCode(void) {
  return IntExport([](E& e) { return e.GetCapiErrorCode(); });
}
QUORVANT_API BSTR GetCapiErrorMsg(void) {
  return TextExport([](E& e) { return e.GetCapiErrorMsg(); });
}

QUORVANT_API BSTR GetMacAddress(void) {
  return TextExport([](E& e) { return e.GetMacAddress(); });
}
QUORVANT_API BSTR GetOSName(void) {
  return TextExport([](E& e) { return e.GetOSName(); });
}
QUORVANT_API BSTR GetUserHomePath(void) {
  return TextExport([](E& e) { return e.GetUserHomePath(); });
}
QUORVANT_API BSTR RegReadHKCU(const OLECHAR* strName) {
  return TextExport([&](E& e) { return e.RegReadHKCU(A(strName)); });
}
QUORVANT_API int32_t RegWriteHKCUInt(const OLECHAR* strName, int32_t dw) {
  return IntExport([&](E& e) { return e.RegWriteHKCUInt(A(strName), dw); });
}
QUORVANT_API int32_t RegWriteHKCUStr(const OLECHAR* strName, const OLECHAR* str) {
  return IntExport([&](E& e) { return e.RegWriteHKCUStr(A(strName), A(str)); });
}
QUORVANT_API BSTR RegReadHKLM(const OLECHAR* strName) {
  return TextExport([&](E& e) { return e.RegReadHKLM(A(strName)); });
}

QUORVANT_API BSTR Hash(const OLECHAR* strPlainText, int32_t dwFlags) {
  return TextExport([&](E& e) { return e.Hash(A(strPlainText), dwFlags); });
}
QUORVANT_API BSTR HashFile(const OLECHAR* strFileName, int32_t dwFlags) {
  return TextExport([&](E& e) { return e.HashFile(A(strFileName), dwFlags); });
}

QUORVANT_API int32_t SetProviderName(const OLECHAR* strProviderName) {
  return IntExport([&](E& e) { return e.SetProviderName(A(strProviderName)); });
}
QUORVANT_API BSTR CreatePKCS10(const OLECHAR* commonName, int32_t keyBits, int32_t genKeyFlags) {
  return TextExport([&](E& e) { return e.CreatePKCS10(A(commonName), keyBits, genKeyFlags); });
}
QUORVANT_API int32_t CreatePKCS10Pair(const OLECHAR* commonName, int32_t keyBits,
                                      int32_t genKeyFlags) {
  return IntExport(
      [&](E& e) { return e.CreatePKCS10Pair(A(commonName), keyBits, genKeyFlags); });
}
QUORVANT_API BSTR GetCsrForSign(void) {
  return TextExport([](E& e) { return e.GetCsrForSign(); });
}
QUORVANT_API BSTR GetCsrForEncrypt(void) {
  return TextExport([](E& e) { return e.GetCsrForEncrypt(); });
}
QUORVANT_API int32_t AcceptPKCS7(const OLECHAR* strPkcs7) {
  return IntExport([&](E& e) { return e.AcceptPKCS7(A(strPkcs7)); });
}

QUORVANT_API int32_t SetDefaultPfxFileName(const OLECHAR* strPrefix) {
  return IntExport([&](E& e) { return e.SetDefaultPfxFileName(A(strPrefix)); });
}
QUORVANT_API int32_t PresetPasswdLengthRange(int32_t min, int32_t max) {
  return IntExport([&](E& e) { return e.PresetPasswdLengthRange(min, max); });
}
QUORVANT_API int32_t ChangePfxPasswd(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                     const OLECHAR* strOldPass, const OLECHAR* strNewPass,
                                     int32_t dwFlags) {
  return IntExport([&](E& e) {
    return e.ChangePfxPasswd(A(strPfxPath), A(strPfxName), A(strOldPass), A(strNewPass),
                             dwFlags);
  });
}
QUORVANT_API int32_t ChangePfxPasswdEx(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                       const OLECHAR* strOldPass, const OLECHAR* strNewPass,
                                       int32_t dwPort, int32_t dwFlags) {
  return IntExport([&](E& e) {
    return e.ChangePfxPasswdEx(A(strPfxPath), A(strPfxName), A(strOldPass), A(strNewPass),
                               dwPort, dwFlags);
  });
}
QUORVANT_API int32_t QueryPfxInfo(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                  const OLECHAR* strPasswd, int32_t dwFlags,
                                  int32_t dwKeyUsage) {
  return IntExport([&](E& e) {
    return e.QueryPfxInfo(A(strPfxPath), A(strPfxName), A(strPasswd), dwFlags, dwKeyUsage);
  });
}
QUORVANT_API int32_t ImportPfxToIE(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                   const OLECHAR* strPasswd, int32_t dwFlags,
                                   int32_t dwKeyUsage) {
  return IntExport([&](E& e) {
    return e.ImportPfxToIE(A(strPfxPath), A(strPfxName), A(strPasswd), dwFlags, dwKeyUsage);
  });
}
QUORVANT_API BSTR GetImportedPfxFilePath(void) {
  return TextExport([](E& e) { return e.GetImportedPfxFilePath(); });
}
QUORVANT_API BSTR GetImportedPfxFileName(void) {
  return TextExport([](E& e) { return e.GetImportedPfxFileName(); });
}
QUORVANT_API int32_t ExportPfxFromIE(const OLECHAR* strSubject, const OLECHAR* strPfxPath,
                                     const OLECHAR* strPassword, int32_t dwFlags,
                                     int32_t dwKeyUsage) {
  return IntExport([&](E& e) {
    return e.ExportPfxFromIE(A(strSubject), A(strPfxPath), A(strPassword), dwFlags,
                             dwKeyUsage);
  });
}
QUORVANT_API BSTR ExportMobileFromPfx(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                      const OLECHAR* strPasswd, int32_t dwFlags,
                                      int32_t dwKeyUsage) {
  return TextExport([&](E& e) {
    return e.ExportMobileFromPfx(A(strPfxPath), A(strPfxName), A(strPasswd), dwFlags,
                                 dwKeyUsage);
  });
}
QUORVANT_API BSTR ExportMobileFromIE(const OLECHAR* strSubject, const OLECHAR* strPasswd,
                                     int32_t dwFlags, int32_t dwKeyUsage) {
  return TextExport([&](E& e) {
    return e.ExportMobileFromIE(A(strSubject), A(strPasswd), dwFlags, dwKeyUsage);
  });
}
QUORVANT_API BSTR GetExportedPfxFilePath(void) {
  return TextExport([](E& e) { return e.GetExportedPfxFilePath(); });
}
QUORVANT_API BSTR GetExportedPfxFileName(void) {
  return TextExport([](E& e) { return e.GetExportedPfxFileName(); });
}

QUORVANT_API int32_t SelectSigner(const OLECHAR* certFilter, int32_t dwFlags,
                                  int32_t dwKeyUsage) {
  return IntExport([&](E& e) { return e.SelectSigner(A(certFilter), dwFlags, dwKeyUsage); });
}
QUORVANT_API int32_t SelectSignerEx(const OLECHAR* certFilter, const OLECHAR* strPfxPath,
                                    const OLECHAR* strPfxName, const OLECHAR* strPasswd,
                                    const OLECHAR* strCompareDate, int32_t dwFlags,
                                    int32_t dwKeyUsage) {
  return IntExport([&](E& e) {
    return e.SelectSignerEx(A(certFilter), A(strPfxPath), A(strPfxName), A(strPasswd),
                            A(strCompareDate), dwFlags, dwKeyUsage);
  });
}
QUORVANT_API BSTR GetSignerPfxFilePath(void) {
  return TextExport([](E& e) { return e.GetSignerPfxFilePath(); });
}
QUORVANT_API BSTR GetSignerPfxFileName(void) {
  return TextExport([](E& e) { return e.GetSignerPfxFileName(); });
}
QUORVANT_API BSTR SignPkcs1(const OLECHAR* strContent, int32_t dwFlags) {
  return TextExport([&](E& e) { return e.SignPkcs1(A(strContent), dwFlags); });
}
QUORVANT_API BSTR SignPkcs7(const OLECHAR* strContent, int32_t dwFlags) {
  return TextExport([&](E& e) { return e.SignPkcs7(A(strContent), dwFlags); });
}
QUORVANT_API int32_t SelectSignerEx2(const OLECHAR* certFilter, const OLECHAR* strPfxPath,
                                     const OLECHAR* strPfxName, int32_t dwPort,
                                     const OLECHAR* strCompareDate, int32_t dwFlags,
                                     int32_t dwKeyUsage) {
  return IntExport([&](E& e) {
    return e.SelectSignerEx2(A(certFilter), A(strPfxPath), A(strPfxName), dwPort,
                             A(strCompareDate), dwFlags, dwKeyUsage);
  });
}
// A constant: theEngine is not touched.
QUORVANT_API int32_t GetPortEx(void) { return SecurityEngine::GetPortEx(); }

QUORVANT_API BSTR GetCertB64(void) {
  return TextExport([](E& e) { return e.GetCertB64(); });
}
QUORVANT_API BSTR GetCertSubject(void) {
  return TextExport([](E& e) { return e.GetCertSubject(); });
}
QUORVANT_API BSTR GetCertSubjectCN(void) {
  return TextExport([](E& e) { return e.GetCertSubjectCN(); });
}
QUORVANT_API BSTR GetCertIssuer(void) {
  return TextExport([](E& e) { return e.GetCertIssuer(); });
}
QUORVANT_API BSTR GetCertSerial(void) {
  return TextExport([](E& e) { return e.GetCertSerial(); });
}
QUORVANT_API BSTR GetCertNotBefore(void) {
  return TextExport([](E& e) { return e.GetCertNotBefore(); });
}
QUORVANT_API BSTR GetCertNotAfter(void) {
  return TextExport([](E& e) { return e.GetCertNotAfter(); });
}
QUORVANT_API BSTR GetCertFinger(void) {
  return TextExport([](E& e) { return e.GetCertFinger(); });
}
QUORVANT_API int32_t GetCertKeyUsage(void) {
  return IntExport([](E& e) { return e.GetCertKeyUsage(); });
}

QUORVANT_API BSTR SymEncrypt(const OLECHAR* strPlainText, const OLECHAR* strPasswdHex,
                             int32_t iAlgorithm, int32_t dwFlags) {
  return TextExport([&](E& e) {
    return e.SymEncrypt(A(strPlainText), A(strPasswdHex), iAlgorithm, dwFlags);
  });
}
QUORVANT_API BSTR SymDecrypt(const OLECHAR* strCipher, const OLECHAR* strPasswdHex,
                             int32_t iAlgorithm, int32_t dwFlags) {
  return TextExport([&](E& e) {
    return e.SymDecrypt(A(strCipher), A(strPasswdHex), iAlgorithm, dwFlags);
  });
}
QUORVANT_API BSTR CertEncryptPkcs7(const OLECHAR* strPlainText, const OLECHAR* strCertB64,
                                   int32_t iAlgorithm, int32_t dwFlags) {
  return TextExport([&](E& e) {
    return e.CertEncryptPkcs7(A(strPlainText), A(strCertB64), iAlgorithm, dwFlags);
  });
}
QUORVANT_API BSTR CertDecryptPkcs7(const OLECHAR* strCipher, int32_t dwFlags) {
  return TextExport([&](E& e) { return e.CertDecryptPkcs7(A(strCipher), dwFlags); });
}

QUORVANT_API int32_t GetIECertCount(void) {
  return IntExport([](E& e) { return e.GetIECertCount(); });
}
QUORVANT_API BSTR GetIECertSerial(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertSerial(dwIndex); });
}
QUORVANT_API BSTR GetIECertCommonName(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertCommonName(dwIndex); });
}
QUORVANT_API BSTR GetIECertSubject(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertSubject(dwIndex); });
}
QUORVANT_API BSTR GetIECertIssuer(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertIssuer(dwIndex); });
}
QUORVANT_API BSTR GetIECertNotBefore(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertNotBefore(dwIndex); });
}
QUORVANT_API BSTR GetIECertNotAfter(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertNotAfter(dwIndex); });
}
QUORVANT_API BSTR GetIECertFinger(int32_t dwIndex) {
  return TextExport([&](E& e) { return e.GetIECertFinger(dwIndex); });
}
QUORVANT_API int32_t DeleteIECert(int32_t dwIndex) {
  return IntExport([&](E& e) { return e.DeleteIECert(dwIndex); });
}

}  // extern "C"
