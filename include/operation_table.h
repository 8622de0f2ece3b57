// The component's operations in the order of the automation interface:
// the one list from which every front end and every check of the exported
// interface is built.
//
//   QUORVANT_OPERATIONS(X) expands X(Name, ExportName, DispId, Result, Params)
//   for each operation, where
//     Name        the engine operation and the automation method,
//     ExportName  the flat export and Java native method's target,
//     DispId      the automation DISPID,
//     Result      kText (a string result) or kInt (a 32-bit integer),
//     Params      a parenthesised list of T(name) for a string parameter
//                 and I(name) for a 32-bit integer, in order.
//
// CountWeakKeys follows DeleteIECert in the automation vtable only; it has
// no DISPID, no flat export and no Java method, so it is not listed here.
#ifndef QUORVANT_OPERATION_TABLE_H_
#define QUORVANT_OPERATION_TABLE_H_

// clang-format off
#define QUORVANT_OPERATIONS(X) \
  X(GetVersion, GetDllVersion, 1, kText, ()) \
  X(GetErrorCode, GetErrorCode, 2, kInt, ()) \
  X(GetErrorMsg, GetErrorMsg, 3, kText, ()) \
  X(GetCapiErrorCode, GetCapiErrorCode, 4, kInt, ()) \
  X(GetCapiErrorMsg, GetCapiErrorMsg, 5, kText, ()) \
  X(GetMacAddress, GetMacAddress, 6, kText, ()) \
  X(GetOSName, GetOSName, 7, kText, ()) \
  X(GetUserHomePath, GetUserHomePath, 8, kText, ()) \
  X(RegReadHKCU, RegReadHKCU, 20, kText, (T(strName))) \
  X(RegWriteHKCUInt, RegWriteHKCUInt, 21, kInt, (T(strName), I(dw))) \
  X(RegWriteHKCUStr, RegWriteHKCUStr, 22, kInt, (T(strName), T(str))) \
  X(RegReadHKLM, RegReadHKLM, 23, kText, (T(strName))) \
  X(Hash, Hash, 30, kText, (T(strPlainText), I(dwFlags))) \
  X(HashFile, HashFile, 31, kText, (T(strFileName), I(dwFlags))) \
  X(SetProviderName, SetProviderName, 40, kInt, (T(strProviderName))) \
  X(CreatePKCS10, CreatePKCS10, 41, kText, (T(commonName), I(keyBits), I(genKeyFlags))) \
  X(CreatePKCS10Pair, CreatePKCS10Pair, 42, kInt, (T(commonName), I(keyBits), I(genKeyFlags))) \
  X(GetCsrForSign, GetCsrForSign, 43, kText, ()) \
  X(GetCsrForEncrypt, GetCsrForEncrypt, 44, kText, ()) \
  X(AcceptPKCS7, AcceptPKCS7, 45, kInt, (T(strPkcs7))) \
  X(SetDefaultPfxFileName, SetDefaultPfxFileName, 50, kInt, (T(strPrefix))) \
  X(PresetPasswdLengthRange, PresetPasswdLengthRange, 51, kInt, (I(min), I(max))) \
  X(ChangePfxPasswd, ChangePfxPasswd, 52, kInt, (T(strPfxPath), T(strPfxName), T(strOldPass), T(strNewPass), I(dwFlags))) \
  X(ChangePfxPasswdEx, ChangePfxPasswdEx, 53, kInt, (T(strPfxPath), T(strPfxName), T(strOldPass), T(strNewPass), I(dwPort), I(dwFlags))) \
  X(QueryPfxInfo, QueryPfxInfo, 54, kInt, (T(strPfxPath), T(strPfxName), T(strPasswd), I(dwFlags), I(dwKeyUsage))) \
  X(ImportPfxToIE, ImportPfxToIE, 55, kInt, (T(strPfxPath), T(strPfxName), T(strPasswd), I(dwFlags), I(dwKeyUsage))) \
  X(GetImportedPfxFilePath, GetImportedPfxFilePath, 56, kText, ()) \
  X(GetImportedPfxFileName, GetImportedPfxFileName, 57, kText, ()) \
  X(ExportPfxFromIE, ExportPfxFromIE, 60, kInt, (T(strSubject), T(strPfxPath), T(strPassword), I(dwFlags), I(dwKeyUsage))) \
  X(ExportMobileFromPfx, ExportMobileFromPfx, 61, kText, (T(strPfxPath), T(strPfxName), T(strPasswd), I(dwFlags), I(dwKeyUsage))) \
  X(ExportMobileFromIE, ExportMobileFromIE, 62, kText, (T(strSubject), T(strPasswd), I(dwFlags), I(dwKeyUsage))) \
  X(GetExportedPfxFilePath, GetExportedPfxFilePath, 63, kText, ()) \
  X(GetExportedPfxFileName, GetExportedPfxFileName, 64, kText, ()) \
  X(SelectSigner, SelectSigner, 70, kInt, (T(certFilter), I(dwFlags), I(dwKeyUsage))) \
  X(SelectSignerEx, SelectSignerEx, 71, kInt, (T(certFilter), T(strPfxPath), T(strPfxName), T(strPasswd), T(strCompareDate), I(dwFlags), I(dwKeyUsage))) \
  X(GetSignerPfxFilePath, GetSignerPfxFilePath, 72, kText, ()) \
  X(GetSignerPfxFileName, GetSignerPfxFileName, 73, kText, ()) \
  X(SignPkcs1, SignPkcs1, 74, kText, (T(strContent), I(dwFlags))) \
  X(SignPkcs7, SignPkcs7, 75, kText, (T(strContent), I(dwFlags))) \
  X(SelectSignerEx2, SelectSignerEx2, 76, kInt, (T(certFilter), T(strPfxPath), T(strPfxName), I(dwPort), T(strCompareDate), I(dwFlags), I(dwKeyUsage))) \
  X(GetPortEx, GetPortEx, 77, kInt, ()) \
  X(GetCertB64, GetCertB64, 80, kText, ()) \
  X(GetCertSubject, GetCertSubject, 81, kText, ()) \
  X(GetCertSubjectCN, GetCertSubjectCN, 82, kText, ()) \
  X(GetCertIssuer, GetCertIssuer, 83, kText, ()) \
  X(GetCertSerial, GetCertSerial, 84, kText, ()) \
  X(GetCertNotBefore, GetCertNotBefore, 85, kText, ()) \
  X(GetCertNotAfter, GetCertNotAfter, 86, kText, ()) \
  X(GetCertFinger, GetCertFinger, 87, kText, ()) \
  X(GetCertKeyUsage, GetCertKeyUsage, 88, kInt, ()) \
  X(SymEncrypt, SymEncrypt, 90, kText, (T(strPlainText), T(strPasswdHex), I(iAlgorithm), I(dwFlags))) \
  X(SymDecrypt, SymDecrypt, 91, kText, (T(strCipher), T(strPasswdHex), I(iAlgorithm), I(dwFlags))) \
  X(CertEncryptPkcs7, CertEncryptPkcs7, 92, kText, (T(strPlainText), T(strCertB64), I(iAlgorithm), I(dwFlags))) \
  X(CertDecryptPkcs7, CertDecryptPkcs7, 93, kText, (T(strCipher), I(dwFlags))) \
  X(GetIECertCount, GetIECertCount, 101, kInt, ()) \
  X(GetIECertSerial, GetIECertSerial, 102, kText, (I(dwIndex))) \
  X(GetIECertCommonName, GetIECertCommonName, 103, kText, (I(dwIndex))) \
  X(GetIECertSubject, GetIECertSubject, 104, kText, (I(dwIndex))) \
  X(GetIECertIssuer, GetIECertIssuer, 105, kText, (I(dwIndex))) \
  X(GetIECertNotBefore, GetIECertNotBefore, 106, kText, (I(dwIndex))) \
  X(GetIECertNotAfter, GetIECertNotAfter, 107, kText, (I(dwIndex))) \
  X(GetIECertFinger, GetIECertFinger, 108, kText, (I(dwIndex))) \
  X(DeleteIECert, DeleteIECert, 109, kInt, (I(dwIndex)))
// clang-format on

#endif  // QUORVANT_OPERATION_TABLE_H_
