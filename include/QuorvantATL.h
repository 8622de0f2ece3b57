/*
 * QuorvantATL: client-side certificate and signing component, flat interface.
 *
 * Rules that hold for every function declared here:
 *
 *  - Text is UTF-16 (char16_t code units, host byte order), NUL-terminated.
 *    A null string argument is treated exactly like an empty string. The
 *    library never keeps or frees a string argument.
 *  - A string result is a newly allocated automation string (BSTR): the
 *    32-bit byte length is stored just before the characters and a zero
 *    character follows them. The caller owns it and releases it with
 *    SysFreeString. A string result is never null: a failed operation
 *    returns an empty string, which must still be released.
 *  - Integers are signed 32-bit. An integer result is the operation's result
 *    code, or the count or value of the few operations that return one
 *    (GetIECertCount, GetCertKeyUsage, GetErrorCode, GetCapiErrorCode,
 *    GetPortEx).
 *  - After any call, GetErrorCode / GetErrorMsg tell the outcome (0 is
 *    success, every other code has a message), and GetCapiErrorCode /
 *    GetCapiErrorMsg the system or key-service error number behind a
 *    failure, if any.
 *  - All functions work on one process-wide engine created when the library
 *    is loaded, whose state (result codes, the selected signer, the
 *    personal-store list, recorded file names) belongs to the process.
 *    Every function that reaches it holds one process-wide lock for the
 *    whole call, a dialog it shows included, so any thread may call at any
 *    time: calls from several threads run one after another, and
 *    GetErrorCode reports the last call of any thread. A thread that needs
 *    its own result code reliably makes its calls without others between
 *    them. SysAllocString and its kin, and GetPortEx, take no lock.
 *  - Nothing here throws or aborts on bad input.
 */
#ifndef QUORVANT_ATL_H_
#define QUORVANT_ATL_H_

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(QUORVANT_BUILDING_LIBRARY)
#define QUORVANT_API __attribute__((visibility("default")))
#else
#define QUORVANT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef int32_t HRESULT;
typedef struct QuorvantGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef const GUID* REFCLSID;
typedef const GUID* REFIID;

/* Automation strings. SysAllocString(NULL) returns NULL; SysAllocStringLen
 * with a null source returns a string of len zero characters.
 * SysStringLen(NULL) is 0 and SysFreeString(NULL) does nothing. */
QUORVANT_API BSTR SysAllocString(const OLECHAR* psz);
QUORVANT_API BSTR SysAllocStringLen(const OLECHAR* strIn, uint32_t ui);
QUORVANT_API uint32_t SysStringLen(BSTR pbstr);
QUORVANT_API void SysFreeString(BSTR bstrString);

/* Module registration and the automation class factory. */
QUORVANT_API HRESULT DllCanUnloadNow(void);
QUORVANT_API HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
QUORVANT_API HRESULT DllRegisterServer(void);
QUORVANT_API HRESULT DllUnregisterServer(void);

/* Component version, result codes and messages. */
QUORVANT_API BSTR GetDllVersion(void);
QUORVANT_API int32_t GetErrorCode(void);
QUORVANT_API BSTR GetErrorMsg(void);
QUORVANT_API int32_t GetCapiErrorCode(void);
QUORVANT_API BSTR GetCapiErrorMsg(void);

/* System information and registry values ("key\\path\\valueName"). */
QUORVANT_API BSTR GetMacAddress(void);
QUORVANT_API BSTR GetOSName(void);
QUORVANT_API BSTR GetUserHomePath(void);
QUORVANT_API BSTR RegReadHKCU(const OLECHAR* strName);
QUORVANT_API int32_t RegWriteHKCUInt(const OLECHAR* strName, int32_t dw);
QUORVANT_API int32_t RegWriteHKCUStr(const OLECHAR* strName, const OLECHAR* str);
QUORVANT_API BSTR RegReadHKLM(const OLECHAR* strName);

/* Digests as upper-case hex. */
QUORVANT_API BSTR Hash(const OLECHAR* strPlainText, int32_t dwFlags);
QUORVANT_API BSTR HashFile(const OLECHAR* strFileName, int32_t dwFlags);

/* Enrolment. */
QUORVANT_API int32_t SetProviderName(const OLECHAR* strProviderName);
QUORVANT_API BSTR CreatePKCS10(const OLECHAR* commonName, int32_t keyBits, int32_t genKeyFlags);
QUORVANT_API int32_t CreatePKCS10Pair(const OLECHAR* commonName, int32_t keyBits, int32_t genKeyFlags);
QUORVANT_API BSTR GetCsrForSign(void);
QUORVANT_API BSTR GetCsrForEncrypt(void);
QUORVANT_API int32_t AcceptPKCS7(const OLECHAR* strPkcs7);

/* PFX files. */
QUORVANT_API int32_t SetDefaultPfxFileName(const OLECHAR* strPrefix);
QUORVANT_API int32_t PresetPasswdLengthRange(int32_t min, int32_t max);
QUORVANT_API int32_t ChangePfxPasswd(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                     const OLECHAR* strOldPass, const OLECHAR* strNewPass,
                                     int32_t dwFlags);
QUORVANT_API int32_t ChangePfxPasswdEx(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                       const OLECHAR* strOldPass, const OLECHAR* strNewPass,
                                       int32_t dwPort, int32_t dwFlags);
QUORVANT_API int32_t QueryPfxInfo(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                  const OLECHAR* strPasswd, int32_t dwFlags, int32_t dwKeyUsage);
QUORVANT_API int32_t ImportPfxToIE(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                   const OLECHAR* strPasswd, int32_t dwFlags, int32_t dwKeyUsage);
QUORVANT_API BSTR GetImportedPfxFilePath(void);
QUORVANT_API BSTR GetImportedPfxFileName(void);
QUORVANT_API int32_t ExportPfxFromIE(const OLECHAR* strSubject, const OLECHAR* strPfxPath,
                                     const OLECHAR* strPassword, int32_t dwFlags,
                                     int32_t dwKeyUsage);
QUORVANT_API BSTR ExportMobileFromPfx(const OLECHAR* strPfxPath, const OLECHAR* strPfxName,
                                      const OLECHAR* strPasswd, int32_t dwFlags,
                                      int32_t dwKeyUsage);
QUORVANT_API BSTR ExportMobileFromIE(const OLECHAR* strSubject, const OLECHAR* strPasswd,
                                     int32_t dwFlags, int32_t dwKeyUsage);
QUORVANT_API BSTR GetExportedPfxFilePath(void);
QUORVANT_API BSTR GetExportedPfxFileName(void);

/* Signer selection and signing. */
QUORVANT_API int32_t SelectSigner(const OLECHAR* certFilter, int32_t dwFlags, int32_t dwKeyUsage);
QUORVANT_API int32_t SelectSignerEx(const OLECHAR* certFilter, const OLECHAR* strPfxPath,
                                    const OLECHAR* strPfxName, const OLECHAR* strPasswd,
                                    const OLECHAR* strCompareDate, int32_t dwFlags,
                                    int32_t dwKeyUsage);
QUORVANT_API BSTR GetSignerPfxFilePath(void);
QUORVANT_API BSTR GetSignerPfxFileName(void);
QUORVANT_API BSTR SignPkcs1(const OLECHAR* strContent, int32_t dwFlags);
QUORVANT_API BSTR SignPkcs7(const OLECHAR* strContent, int32_t dwFlags);
QUORVANT_API int32_t SelectSignerEx2(const OLECHAR* certFilter, const OLECHAR* strPfxPath,
                                     const OLECHAR* strPfxName, int32_t dwPort,
                                     const OLECHAR* strCompareDate, int32_t dwFlags,
                                     int32_t dwKeyUsage);
QUORVANT_API int32_t GetPortEx(void);

/* Fields of the selected certificate. */
QUORVANT_API BSTR GetCertB64(void);
QUORVANT_API BSTR GetCertSubject(void);
QUORVANT_API BSTR GetCertSubjectCN(void);
QUORVANT_API BSTR GetCertIssuer(void);
QUORVANT_API BSTR GetCertSerial(void);
QUORVANT_API BSTR GetCertNotBefore(void);
QUORVANT_API BSTR GetCertNotAfter(void);
QUORVANT_API BSTR GetCertFinger(void);
QUORVANT_API int32_t GetCertKeyUsage(void);

/* Encryption. */
QUORVANT_API BSTR SymEncrypt(const OLECHAR* strPlainText, const OLECHAR* strPasswdHex,
                             int32_t iAlgorithm, int32_t dwFlags);
QUORVANT_API BSTR SymDecrypt(const OLECHAR* strCipher, const OLECHAR* strPasswdHex,
                             int32_t iAlgorithm, int32_t dwFlags);
QUORVANT_API BSTR CertEncryptPkcs7(const OLECHAR* strPlainText, const OLECHAR* strCertB64,
                                   int32_t iAlgorithm, int32_t dwFlags);
QUORVANT_API BSTR CertDecryptPkcs7(const OLECHAR* strCipher, int32_t dwFlags);

/* The personal store, addressed from 1 after GetIECertCount. */
QUORVANT_API int32_t GetIECertCount(void);
QUORVANT_API BSTR GetIECertSerial(int32_t dwIndex);
QUORVANT_API BSTR GetIECertCommonName(int32_t dwIndex);
QUORVANT_API BSTR GetIECertSubject(int32_t dwIndex);
QUORVANT_API BSTR GetIECertIssuer(int32_t dwIndex);
QUORVANT_API BSTR GetIECertNotBefore(int32_t dwIndex);
QUORVANT_API BSTR GetIECertNotAfter(int32_t dwIndex);
QUORVANT_API BSTR GetIECertFinger(int32_t dwIndex);
QUORVANT_API int32_t DeleteIECert(int32_t dwIndex);

/* For the browser bridge (quorvant-bridge) only: ask the user, through the
 * component's dialogs, on behalf of the web site `origin`. Both return 0 when
 * the user agreed, 5803 when no dialog can be shown, 5807 (a question) or 5804
 * (a signature) when the user declined; the code is also left for
 * GetErrorCode. */
QUORVANT_API int32_t QuorvantBridgeConfirmSite(const OLECHAR* origin, const OLECHAR* question);
QUORVANT_API int32_t QuorvantBridgeConfirmSigning(const OLECHAR* origin, const OLECHAR* content,
                                                  const OLECHAR* serial,
                                                  const OLECHAR* commonName,
                                                  const OLECHAR* notBefore,
                                                  const OLECHAR* notAfter);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* QUORVANT_ATL_H_ */
