/*
 * QuorvantATL: the administration interface, for tools that look after a
 * user's certificate stores, PFX files and registry store (the quorvant
 * command-line tool is one). Not part of the component's operations: web
 * pages and applets never see it.
 *
 * The rules of QuorvantATL.h hold here too: UTF-16 text, a null string
 * argument read as empty unless a function says otherwise, string results
 * newly allocated and released with SysFreeString (never null), and after
 * every call GetErrorCode / GetErrorMsg and GetCapiErrorCode /
 * GetCapiErrorMsg tell the outcome. These functions hold the same
 * process-wide lock as the operations.
 *
 * A report is text of one or more lines, each ending in "\n", as the
 * quorvant tool prints it. On failure a report holds one line saying what
 * was wrong (which argument, which file and the system's reason).
 *
 * Store names are "MY", "CA" and "ROOT", in any case. Certificate numbers
 * count from 1 in the order QuorvantStoreList shows; in MY that is also the
 * index GetIECert* and DeleteIECert take after GetIECertCount.
 */
#ifndef QUORVANT_ADMIN_H_
#define QUORVANT_ADMIN_H_

#include "QuorvantATL.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Every result code with its message ("code\tmessage" lines, the message
 * with its "%d"), then "default\t" and the message of an unknown code. */
QUORVANT_API BSTR QuorvantErrorTable(void);

/* The certificates of a store: "NAME: N certificates", then each as
 * "[n] subject" with its issuer, serial, validity, thumbprint, key and
 * friendly name. */
QUORVANT_API BSTR QuorvantStoreList(const OLECHAR* strStore);
/* Adds a DER or PEM certificate file to a store (an equal certificate is
 * replaced in place and keeps its properties); the report shows its number
 * and fields. */
QUORVANT_API BSTR QuorvantStoreAdd(const OLECHAR* strStore, const OLECHAR* strFileName);
/* Deletes certificate dwNumber of a store. */
QUORVANT_API BSTR QuorvantStoreDelete(const OLECHAR* strStore, int32_t dwNumber);
/* Every field of a DER or PEM certificate file as the component reads it. */
QUORVANT_API BSTR QuorvantCertificateFile(const OLECHAR* strFileName);
/* The certificates of a PKCS #12 file, each with whether its private key is
 * in the file. A null strPasswd is the absent password, which is not the
 * empty one. */
QUORVANT_API BSTR QuorvantPfxInfo(const OLECHAR* strFileName, const OLECHAR* strPasswd);
/* What CertificateFilter selects from a store: "thumbprint subject" lines.
 * dwFlags and dwKeyUsage as SelectSigner takes them. */
QUORVANT_API BSTR QuorvantFilterStore(const OLECHAR* strStore, const OLECHAR* certFilter,
                                      int32_t dwFlags, int32_t dwKeyUsage);

/* The registry store. strKey is "HKCU\\path", "HKLM\\path" or "HKCR\\path"
 * (or the HKEY_... names). A null strValueName means no value: the whole
 * key for a query, only the key for an add, the key with everything below
 * it for a delete; "" is the key's default value. strType is REG_SZ (also
 * when null or empty), REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY
 * (strData in hex) or REG_NONE. */
/* The pending enrolment keys: each key whose record under
 * HKCU\\Software\\MORL\\QuorvantATL has no certificate in MY yet. With
 * purgeOlderThanDays 0 or more, those made that many days ago or earlier
 * are deleted with their key container (-1: none). */
QUORVANT_API BSTR QuorvantPendingKeys(int32_t purgeOlderThanDays);
QUORVANT_API BSTR QuorvantRegQuery(const OLECHAR* strKey, const OLECHAR* strValueName);
QUORVANT_API BSTR QuorvantRegAdd(const OLECHAR* strKey, const OLECHAR* strValueName,
                                 const OLECHAR* strType, const OLECHAR* strData);
/* dwAllValues non-zero: every value of the key, the key and its subkeys
 * stay. */
QUORVANT_API BSTR QuorvantRegDelete(const OLECHAR* strKey, const OLECHAR* strValueName,
                                    int32_t dwAllValues);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* QUORVANT_ADMIN_H_ */
