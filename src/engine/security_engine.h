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
#include "base/outcome.h"
#include "enroll/enroll_services.h"
#include "host/system/services.h"

namespace quorvant {

class cSharedMemory;
class CertContext;
class CertificateStores;
class PlatformDatabase;
class CryptKey;
struct KeyProviderInfo;
struct SignerKey;  // sign_operations.cc

struct EngineServices {
  HostServices host;
  std::shared_ptr<DialogHost> dialogs;
  // The current user's certificate stores ("MY", "CA", "ROOT").
  std::shared_ptr<CertificateStores> stores;
  // Enrolment: the provider enumeration, the key containers' database and
  // the weak-key test; empty members mean the platform's own.
  EnrollServices enroll;
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

  // --- Front ends (automation control, Java methods) ---
  // A front end refuses a string argument it cannot hand over whole (one
  // holding a zero character before its end, which the flat interface could
  // not carry either): the codes are cleared and 5005 is left, as for a
  // missing argument. Returns the code.
  int32_t refuseArgument();
  // --- base: the administration interface (exports/admin_exports.cc) ---
  // Its calls leave their outcome where GetErrorCode and GetCapiErrorCode
  // read it, as an operation does.
  void setAdministrationResult(int32_t code, uint32_t systemError) {
    errorCode = code;
    capiErrorCode = systemError;
  }

 private:
  // Steps 1 and 3 of the result-code protocol.
  void clearCodes() {
    errorCode = 0;
    capiErrorCode = 0;
  }
  bool refuseInProtectedMode();
  // The four registry operations share their argument rules.
  struct RegistryName;
  bool parseRegistryName(TextArg strName, RegistryName* out);
  Text readRegistryValue(int root, TextArg strName);
  cSharedMemory& ensurePropertyStore();
  // Enrolment: the services the session borrows for one operation.
  EnrollHost enrollHost() const;

  // --- Signer selection and signing (sign_operations.cc) ---
  struct SignerSearch;
  struct SignerStore;
  int32_t selectSigner(const SignerSearch& search);
  bool takeOverPublishedSigner(const SignerSearch& search);
  void clearSelectedSigner();
  void recordCodes(Outcome outcome);
  Outcome openSignerStore(SignerStore* out);
  Outcome findSignerCertificate(const SignerStore& store, CertContext* out) const;
  Outcome locateSigner(SignerStore* store, CertContext* certificate, KeyProviderInfo* info,
                       int32_t noKeyInfo);
  Outcome confirmSigning(TextArg content, const CertContext& certificate);
  // The certificates SignPkcs7 carries with 0x200: the signer's chain, signer first.
  Result<std::vector<ByteBuffer>> carriedChain(const SignerStore& store,
                                               const CertContext& certificate);
  // The user's key database, opened once for the signatures of this engine
  // (again when the data directory changes).
  std::shared_ptr<PlatformDatabase> signerKeyDatabase();
  std::shared_ptr<PlatformDatabase> keyDatabase;
  // Where the keys of a signer's PFX file live while it is open: a database
  // in memory, kept by the engine so its tables are made once; each
  // signature's store removes its keys again when it closes.
  std::shared_ptr<PlatformDatabase> signerPfxKeyDatabase();
  std::shared_ptr<PlatformDatabase> pfxKeyDatabase;
  // The signer's key (from MY or its PFX file) stays loaded between its
  // signatures: a fresh key object costs OpenSSL more than the signature
  // itself. Each signature still reads the key again and uses this one only
  // while it is the same key (then already checked against this
  // certificate); a new selection drops it.
  std::shared_ptr<CryptKey> warmSignerKey;
  std::string warmSignerHash;
  bool useWarmSignerKey(std::shared_ptr<CryptKey>* key);
  void keepWarmSignerKey(const std::shared_ptr<CryptKey>& key);
  Outcome acquireSignerKey(const SignerStore& store, const CertContext& certificate,
                           const KeyProviderInfo& info, SignerKey* key);
  // --- PFX operations (pfx_operations.cc) ---
  // Dialogs 202, 203, 206 and 207 with the engine's password range: 0, 5070
  // for Cancel, 5002 when it cannot be shown.
  int32_t showPfxFileDialog(DialogId id, FileDialogValues* values);
  // Dialog 204 over `certificates`: 0 with *index, 5070, or cannotShowCode.
  int32_t chooseCertificate(const std::vector<CertContext>& certificates,
                            int32_t cannotShowCode, size_t* index);
  int32_t importOrQueryPfx(bool import, TextArg strPfxPath, TextArg strPfxName,
                           TextArg strPasswd, int32_t dwFlags, int32_t dwKeyUsage);
  // Steps shared by ChangePfxPasswd and ChangePfxPasswdEx; on success the
  // changed file's full path and its new password.
  int32_t changePfxPassword(TextArg strPfxPath, TextArg strPfxName, TextArg strOldPass,
                            TextArg strNewPass, std::string* fullPath,
                            std::string* newPassword);

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
