// Result codes the engine leaves in errorCode; every code has its message in
// ErrorMessageTable (error_messages.cc).
#ifndef QUORVANT_BASE_RESULT_CODES_H_
#define QUORVANT_BASE_RESULT_CODES_H_

#include <cstdint>

namespace quorvant::rc {

inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kCannotCreateDirectory = 1001;
inline constexpr int32_t kFileUnreadable = 1002;
inline constexpr int32_t kFileUnwritable = 1003;
inline constexpr int32_t kCertFileMissing = 1101;
inline constexpr int32_t kCertFileUnreadable = 1102;
inline constexpr int32_t kCertFileUnwritable = 1103;
inline constexpr int32_t kProtectedMode = 1500;
inline constexpr int32_t kWeakRsaKey = 1501;
inline constexpr int32_t kSmartCardPinBlocked = 3204;
inline constexpr int32_t kSmartCardWrongPin = 3206;
inline constexpr int32_t kGeneralError = 5001;
inline constexpr int32_t kAllocationFailed = 5002;
inline constexpr int32_t kOutOfMemory = 5003;
inline constexpr int32_t kNotSupported = 5004;
inline constexpr int32_t kBadArgument = 5005;
inline constexpr int32_t kBadHandle = 5006;
inline constexpr int32_t kBase64Error = 5008;
inline constexpr int32_t kDigestFailed = 5035;
inline constexpr int32_t kEncryptionFailed = 5063;
inline constexpr int32_t kCertNotFound = 5010;
inline constexpr int32_t kCertExpired = 5011;
inline constexpr int32_t kCertNotYetValid = 5012;
inline constexpr int32_t kCertUsageMismatch = 5017;
inline constexpr int32_t kBadCertificate = 5040;
inline constexpr int32_t kBadPkcs7 = 5042;
inline constexpr int32_t kSignFailed = 5061;
inline constexpr int32_t kNoSignerSelected = 5067;
inline constexpr int32_t kUserCancelled = 5070;
inline constexpr int32_t kWrongPassword = 5071;
inline constexpr int32_t kPersonalStoreUnopenable = 5201;
inline constexpr int32_t kNoCertificateChain = 5202;
inline constexpr int32_t kNoPrivateKey = 5204;
inline constexpr int32_t kKeyNotExportable = 5205;
inline constexpr int32_t kPersonalStoreDenied = 5206;
inline constexpr int32_t kBadPkcs12 = 5207;
inline constexpr int32_t kPkcs12WrongPassword = 5208;
inline constexpr int32_t kPasswordMismatch = 5209;
inline constexpr int32_t kPfxExportFailed = 5210;
inline constexpr int32_t kTokenNotReady = 5225;
inline constexpr int32_t kMemoryStoreUnopenable = 5226;
inline constexpr int32_t kPfxFileUnreadable = 5401;
inline constexpr int32_t kPfxWriteFailed = 5402;
inline constexpr int32_t kFileNotFound = 5902;
inline constexpr int32_t kPathNotFound = 5903;
inline constexpr int32_t kAccessDenied = 5906;
inline constexpr int32_t kBadCipherAlgorithm = 9001;
inline constexpr int32_t kBadCipherText = 9002;
inline constexpr int32_t kBadCipherKeyLength = 9003;
inline constexpr int32_t kEncryptFailed = 9004;
inline constexpr int32_t kDecryptFailed = 9005;
inline constexpr int32_t kNoDecryptCertificate = 9006;
// Enrolment.
inline constexpr int32_t kCspNameError = 5046;
inline constexpr int32_t kCspNotSupported = 5047;
inline constexpr int32_t kKeyMissing = 5060;
inline constexpr int32_t kCspUnavailable = 5203;
inline constexpr int32_t kCspAccessDenied = 5211;
inline constexpr int32_t kBadKeyLength = 5301;
inline constexpr int32_t kKeyGenerationFailed = 5302;
// Refusals of the browser bridge: what a web page asked for and was not given.
inline constexpr int32_t kBridgeSiteNotApproved = 5801;
inline constexpr int32_t kBridgeSiteBlocked = 5802;
inline constexpr int32_t kBridgeNoDialog = 5803;
inline constexpr int32_t kBridgeSigningNotConfirmed = 5804;
inline constexpr int32_t kBridgeKeyExportRefused = 5805;
inline constexpr int32_t kBridgeRegistryConfined = 5806;
inline constexpr int32_t kBridgeNotConfirmed = 5807;
inline constexpr int32_t kBridgeSystemInfoRefused = 5808;
inline constexpr int32_t kBridgeForeignCaller = 5809;

}  // namespace quorvant::rc

#endif  // QUORVANT_BASE_RESULT_CODES_H_
