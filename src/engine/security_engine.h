// SecurityEngine: the one object behind every operation of the component.
//
// It holds all state that lives between calls and implements the result-code
// protocol: an operation clears errorCode and capiErrorCode, checks its
// required arguments (5005), refuses in protected mode (1500), does its work
// and leaves its code; the caller reads the codes afterwards. Front ends
// (flat exports, automation control, Java methods) only convert arguments
// and results.
//
// Interface text arrives and leaves as UTF-16; inside, text is narrow in the
// component's code page. The engine takes no lock: one caller at a time.
#ifndef QUORVANT_ENGINE_SECURITY_ENGINE_H_
#define QUORVANT_ENGINE_SECURITY_ENGINE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs/dialog_host.h"
#include "encoding/byte_buffer.h"
#include "enroll/capi_session.h"
#include "host/services.h"

namespace quorvant {

class cSharedMemory;
class CertificateStores;

struct EngineServices {
  HostServices host;
  std::shared_ptr<DialogHost> dialogs;
  // The current user's certificate stores ("MY", "CA", "ROOT").
  std::shared_ptr<CertificateStores> stores;
};

// The production wiring: the Linux host services, the configured dialog
// host and the certificate stores of the user's platform database.
EngineServices DefaultEngineServices();

using Text = std::u16string;          // a result string, owned by the caller
using TextArg = std::u16string_view;  // an argument; a null pointer arrives empty

class SecurityEngine {
 public:
  explicit SecurityEngine(EngineServices services);
  ~SecurityEngine();
  SecurityEngine(const SecurityEngine&) = delete;
  SecurityEngine& operator=(const SecurityEngine&) = delete;

  // Version, result codes and messages.
  Text GetVersion();
  int32_t GetErrorCode() const { return errorCode; }
  int32_t GetCapiErrorCode() const { return static_cast<int32_t>(capiErrorCode); }
  Text GetErrorMsg() const;
  Text GetCapiErrorMsg() const;

  // System information and registry access.
  Text GetMacAddress();
  Text GetOSName();
  Text GetUserHomePath();
  Text RegReadHKCU(TextArg strName);
  int32_t RegWriteHKCUInt(TextArg strName, int32_t dw);
  int32_t RegWriteHKCUStr(TextArg strName, TextArg str);
  Text RegReadHKLM(TextArg strName);

  // Hashing.
  Text Hash(TextArg strPlainText, int32_t dwFlags);
  Text HashFile(TextArg strFileName, int32_t dwFlags);

  // Enrolment.
  int32_t SetProviderName(TextArg strProviderName);
  Text CreatePKCS10(TextArg commonName, int32_t keyBits, int32_t genKeyFlags);
  int32_t CreatePKCS10Pair(TextArg commonName, int32_t keyBits, int32_t genKeyFlags);
  Text GetCsrForSign() const;
  Text GetCsrForEncrypt() const;
  int32_t AcceptPKCS7(TextArg strPkcs7);
  int32_t CountWeakKeys(int32_t count);

  // PFX files.
  int32_t SetDefaultPfxFileName(TextArg strPrefix);
  int32_t PresetPasswdLengthRange(int32_t min, int32_t max);
  int32_t ChangePfxPasswd(TextArg strPfxPath, TextArg strPfxName, TextArg strOldPass,
                          TextArg strNewPass, int32_t dwFlags);
  int32_t ChangePfxPasswdEx(TextArg strPfxPath, TextArg strPfxName, TextArg strOldPass,
                            TextArg strNewPass, int32_t dwPort, int32_t dwFlags);
  int32_t QueryPfxInfo(TextArg strPfxPath, TextArg strPfxName, TextArg strPasswd,
                       int32_t dwFlags, int32_t dwKeyUsage);
  int32_t ImportPfxToIE(TextArg strPfxPath, TextArg strPfxName, TextArg strPasswd,
                        int32_t dwFlags, int32_t dwKeyUsage);
  Text GetImportedPfxFilePath() const;
  Text GetImportedPfxFileName() const;
  int32_t ExportPfxFromIE(TextArg strSubject, TextArg strPfxPath, TextArg strPassword,
                          int32_t dwFlags, int32_t dwKeyUsage);
  Text ExportMobileFromPfx(TextArg strPfxPath, TextArg strPfxName, TextArg strPasswd,
                           int32_t dwFlags, int32_t dwKeyUsage);
  Text ExportMobileFromIE(TextArg strSubject, TextArg strPasswd, int32_t dwFlags,
                          int32_t dwKeyUsage);
  Text GetExportedPfxFilePath() const;
  Text GetExportedPfxFileName() const;

  // Signer selection and signing.
  int32_t SelectSigner(TextArg certFilter, int32_t dwFlags, int32_t dwKeyUsage);
  int32_t SelectSignerEx(TextArg certFilter, TextArg strPfxPath, TextArg strPfxName,
                         TextArg strPasswd, TextArg strCompareDate, int32_t dwFlags,
                         int32_t dwKeyUsage);
  int32_t SelectSignerEx2(TextArg certFilter, TextArg strPfxPath, TextArg strPfxName,
                          int32_t dwPort, TextArg strCompareDate, int32_t dwFlags,
                          int32_t dwKeyUsage);
  Text GetSignerPfxFilePath() const;
  Text GetSignerPfxFileName() const;
  Text SignPkcs1(TextArg strContent, int32_t dwFlags);
  Text SignPkcs7(TextArg strContent, int32_t dwFlags);
  // A constant; touches no state and works in every mode.
  static int32_t GetPortEx() { return 65537; }

  // Fields of the selected certificate.
  Text GetCertB64();
  Text GetCertSubject();
  Text GetCertSubjectCN();
  Text GetCertIssuer();
  Text GetCertSerial();
  Text GetCertNotBefore();
  Text GetCertNotAfter();
  Text GetCertFinger();
  int32_t GetCertKeyUsage();

  // Encryption.
  Text SymEncrypt(TextArg strPlainText, TextArg strPasswdHex, int32_t iAlgorithm,
                  int32_t dwFlags);
  Text SymDecrypt(TextArg strCipher, TextArg strPasswdHex, int32_t iAlgorithm,
                  int32_t dwFlags);
  Text CertEncryptPkcs7(TextArg strPlainText, TextArg strCertB64, int32_t iAlgorithm,
                        int32_t dwFlags);
  Text CertDecryptPkcs7(TextArg strCipher, int32_t dwFlags);

  // The personal store, addressed from 1.
  int32_t GetIECertCount();
  Text GetIECertSerial(int32_t dwIndex);
  Text GetIECertCommonName(int32_t dwIndex);
  Text GetIECertSubject(int32_t dwIndex);
  Text GetIECertIssuer(int32_t dwIndex);
  Text GetIECertNotBefore(int32_t dwIndex);
  Text GetIECertNotAfter(int32_t dwIndex);
  Text GetIECertFinger(int32_t dwIndex);
  int32_t DeleteIECert(int32_t dwIndex);

  // The password-length rule as the PFX operations and dialogs read it.
  int32_t passwordMinLength() const { return passwdMinLength; }
  int32_t passwordMaxLength() const { return passwdMaxLength; }
  bool passwordRangePreset() const { return passwdRangePreset; }
  bool protectedMode() const { return ieProtectedMode; }

  // The cross-process property store. The accessors keep errorCode and
  // capiErrorCode and report nothing: failures give -1, empty text, false.
  int32_t GetIntProperty(std::string_view key);
  std::string GetStringProperty(std::string_view key);
  bool GetBytesProperty(std::string_view key, ByteBuffer& out);
  // Creates the store when there is none; replaces the key's value (an empty
  // text leaves the key absent).
  void SetStringProperty(std::string_view key, std::string_view text);
  // Writes the six signer keys from the selected signer.
  void PublishSigner();

  // ---- Browser bridge ----------------------------------------------------
  // Questions the native messaging host asks the user on behalf of a web
  // site, through this engine's dialog host. Each leaves its code and returns
  // it: 0 when the user said yes, 5803 when no dialog can be shown, else the
  // refusal's own code (5807 for a question, 5804 for a signature).
  int32_t BridgeConfirmSite(TextArg origin, TextArg question);
  int32_t BridgeConfirmSigning(TextArg origin, TextArg content, TextArg serial,
                               TextArg commonName, TextArg notBefore, TextArg notAfter);

  // A front end's guard turns a failure that escaped an operation into a
  // result code with this (memory exhaustion gives 5002, anything else 5001).
  void noteEscapedFailure(bool outOfMemory);

  // --- Automation control ---
  // The control refuses a string argument it cannot hand over whole (one
  // holding a zero character before its end, which the flat interface could
  // not carry either): the codes are cleared and 5005 is left, as for a
  // missing argument. Returns the code.
  int32_t refuseArgument();

 private:
  // Steps 1 and 3 of the result-code protocol.
  void clearCodes() {
    errorCode = 0;
    capiErrorCode = 0;
  }
  bool refuseInProtectedMode();
  // The single answer of every operation whose subsystem this build does not
  // have yet: the codes are cleared, protected mode is honoured, and 5004
  // ("not supported") is left.
  int32_t answerNotBuilt();
  // The four registry operations share their argument rules.
  struct RegistryName;
  bool parseRegistryName(TextArg strName, RegistryName* out);
  Text readRegistryValue(int root, TextArg strName);
  cSharedMemory& ensurePropertyStore();

  friend struct SecurityEngineTestAccess;

  const EngineServices services;

  // Fields in the order the component has always declared them; construction
  // and destruction follow it.
  int32_t errorCode = 0;
  uint32_t capiErrorCode = 0;
  OsVersionInfo osVersion;
  CapiSession capi;
  std::string userHomePath;
  int32_t signerMedia = -1;
  std::string signerCertHash;
  ByteBuffer signerCertBytes;
  std::string signerCertPasswd;
  std::string signerCertFilePath;
  std::string signerCertFileName;
  bool passwdRangePreset = false;
  int32_t passwdMinLength = 0;
  int32_t passwdMaxLength = 16;
  std::vector<ByteBuffer> ieCertList;
  std::string importedPfxFilePath;
  std::string importedPfxFileName;
  std::string exportedPfxFilePath;
  std::string exportedPfxFileName;
  std::string defaultPfxFileName;
  std::string csrForSign;
  std::string csrForEncrypt;
  // Created on first use; see the property store.
  std::unique_ptr<cSharedMemory> propertyStore;
  bool ieProtectedMode = false;
};

}  // namespace quorvant

#endif  // QUORVANT_ENGINE_SECURITY_ENGINE_H_
