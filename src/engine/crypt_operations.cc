// Encryption: SymEncrypt and SymDecrypt with a caller's DES or Triple-DES
// key, CertEncryptPkcs7 and CertDecryptPkcs7 with certificates. Every
// failure returns the empty text.
//
// Text that is encrypted is the caller's UTF-16 code units (low byte first,
// no terminator) or, with flag 0x800, its bytes in the component's code
// page; decryption reads the result back the same way.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/result_codes.h"
#include "base/win32_errors.h"
#include "crypt/envelope.h"
#include "crypt/symmetric_cipher.h"
#include "encoding/base64.h"
#include "encoding/code_page.h"
#include "encoding/hex.h"
#include "encoding/pem.h"
#include "engine/security_engine.h"
#include "pfx/pfx_files.h"
#include "pfx/pfx_store.h"
#include "platform/stores/cert_store.h"

namespace quorvant {
namespace {

constexpr int32_t kAnsiText = 0x800;
constexpr int32_t kPfxExportableKeys = 0x1;
constexpr char kPersonalStore[] = "MY";

// The bytes a text is encrypted as; false only when memory runs out.
bool TextBytes(TextArg text, int32_t dwFlags, ByteBuffer* out) {
  out->clear();
  if (dwFlags & kAnsiText) {
    std::string narrow;
    if (!NarrowFromWide(text, &narrow)) return false;
    const bool ok = narrow.empty() || out->append(narrow.data(), static_cast<int32_t>(narrow.size()));
    explicit_bzero(narrow.data(), narrow.size());
    return ok;
  }
  static_assert(std::endian::native == std::endian::little);
  if (text.size() > static_cast<size_t>(INT32_MAX / 2)) return false;
  return text.empty() ||
         out->append(text.data(), static_cast<int32_t>(text.size() * sizeof(char16_t)));
}

// Decrypted bytes as text: up to the first zero byte in the code page, or up
// to the first zero unit as UTF-16. A buffer of odd length ends in a unit
// whose high byte is the zero that follows every ByteBuffer's content.
std::string NarrowResult(const ByteBuffer& bytes) { return std::string(bytes.c_str()); }

std::u16string WideResult(const ByteBuffer& bytes) {
  const size_t units = (static_cast<size_t>(bytes.size()) + 1) / 2;
  std::u16string wide(units, u'\0');
  std::memcpy(wide.data(), bytes.data(), units * sizeof(char16_t));
  wide.resize(std::char_traits<char16_t>::length(wide.c_str()));
  return wide;
}

// The algorithm for iAlgorithm and the key length, or the result code.
int32_t ChooseAlgorithm(int32_t iAlgorithm, int32_t keyLength, int32_t* algId) {
  if (iAlgorithm == 0) {
    if (keyLength == 16) *algId = CALG_3DES_112;
    else if (keyLength == 24) *algId = CALG_3DES;
    else return rc::kBadCipherKeyLength;
    return rc::kSuccess;
  }
  if (iAlgorithm == 1) {
    if (keyLength != 8) return rc::kBadCipherKeyLength;
    *algId = CALG_DES;
    return rc::kSuccess;
  }
  return rc::kBadCipherAlgorithm;
}

// The decryption fallback's PFX file, opened with exportable keys into
// `pfx`. One place, so another placement of the transient keys can take
// over here.
int32_t OpenDecryptionPfx(const FileDialogValues& values, PfxStore* pfx) {
  return pfx->open(JoinPfxPath(values.directory, values.fileName), values.password,
                   kPfxExportableKeys);
}

// Opens `message` over `store`: the result code, content in *content.
int32_t DecryptOver(const EnvelopeMessage& message, const CertStore& store, ByteBuffer* content,
                    std::shared_ptr<PlatformDatabase> keys = nullptr) {
  return DecryptResultCode(message.decrypt(store, content, std::move(keys)));
}

// The caller's key: hex text, not empty.
bool KeyFromHex(TextArg hex, ByteBuffer* key) {
  const std::string keyText = ToNarrow(hex);
  return !keyText.empty() && HexDecode(keyText.c_str(), *key);
}

// `algId` over the caller's key, in CBC with a zero IV.
void SetUpCipher(int32_t algId, const ByteBuffer& key, SymmetricCipher* cipher) {
  cipher->setAlgorithm(algId);
  cipher->setKey(key.data(), key.size());
  cipher->setMode(1);
}

}  // namespace

Text SecurityEngine::SymEncrypt(TextArg strPlainText, TextArg strPasswdHex, int32_t iAlgorithm,
                                int32_t dwFlags) {
  clearCodes();
  if (strPlainText.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();
  ByteBuffer data;
  if (!TextBytes(strPlainText, dwFlags, &data)) {
    errorCode = rc::kAllocationFailed;
    return Text();
  }
  ByteBuffer key;
  if (!KeyFromHex(strPasswdHex, &key)) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  int32_t algId = CALG_DES;
  if ((errorCode = ChooseAlgorithm(iAlgorithm, key.size(), &algId)) != rc::kSuccess) return Text();

  SymmetricCipher cipher;
  SetUpCipher(algId, key, &cipher);
  if (!cipher.encrypt(data.data(), data.size())) {
    errorCode = rc::kEncryptFailed;
    capiErrorCode = cipher.lastError();
    return Text();
  }
  ByteBuffer text;
  if (!Base64Encode(cipher.output().data(), cipher.output().size(), text)) {
    errorCode = rc::kAllocationFailed;
    return Text();
  }
  return ToInterfaceText(text.view());
}

Text SecurityEngine::SymDecrypt(TextArg strCipher, TextArg strPasswdHex, int32_t iAlgorithm,
                                int32_t dwFlags) {
  clearCodes();
  if (strCipher.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  ByteBuffer data;
  if (!Base64Decode(ToNarrow(strCipher).c_str(), data)) {
    errorCode = rc::kBadCipherText;
    return Text();
  }
  ByteBuffer key;
  if (!KeyFromHex(strPasswdHex, &key)) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();
  int32_t algId = CALG_DES;
  if ((errorCode = ChooseAlgorithm(iAlgorithm, key.size(), &algId)) != rc::kSuccess) return Text();

  SymmetricCipher cipher;
  SetUpCipher(algId, key, &cipher);
  if (!cipher.decrypt(data.data(), data.size())) {
    errorCode = rc::kDecryptFailed;
    capiErrorCode = cipher.lastError();
    return Text();
  }
  if (dwFlags & kAnsiText) return ToInterfaceText(NarrowResult(cipher.output()));
  return WideResult(cipher.output());
}

Text SecurityEngine::CertEncryptPkcs7(TextArg strPlainText, TextArg strCertB64, int32_t iAlgorithm,
                                      int32_t dwFlags) {
  clearCodes();
  if (strPlainText.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();
  ByteBuffer data;
  if (!TextBytes(strPlainText, dwFlags, &data)) {
    errorCode = rc::kAllocationFailed;
    return Text();
  }
  if (strCertB64.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  // A DER SEQUENCE with a long-form length starts "M" in Base64.
  const std::string recipientText = StripPemArmour(ToNarrow(strCertB64));
  ByteBuffer recipientBytes;
  if (recipientText.empty() || recipientText[0] != 'M' ||
      !Base64Decode(recipientText.c_str(), recipientBytes)) {
    errorCode = rc::kBadCertificate;
    return Text();
  }
  std::vector<ByteBuffer> recipients;
  if (const Outcome read = ReadRecipientList(recipientBytes.bytes(), &recipients); !read.ok()) {
    errorCode = read.code();
    capiErrorCode = read.systemError();
    return Text();
  }
  ByteBuffer envelope;
  // The platform's envelope failures carry no system error.
  if (const Outcome built = BuildEnvelope(data.bytes(), recipients,
                                          ContentCipherFromAlgorithm(iAlgorithm), &envelope);
      !built.ok()) {
    errorCode = built.code();
    return Text();
  }
  ByteBuffer text;
  if (!Base64Encode(envelope.data(), envelope.size(), text)) {
    errorCode = rc::kAllocationFailed;
    return Text();
  }
  return ToInterfaceText(text.view());
}

Text SecurityEngine::CertDecryptPkcs7(TextArg strCipher, int32_t dwFlags) {
  clearCodes();
  if (strCipher.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  ByteBuffer messageBytes;
  if (!Base64Decode(ToNarrow(strCipher).c_str(), messageBytes)) {
    errorCode = rc::kBadCipherText;
    return Text();
  }
  if (refuseInProtectedMode()) return Text();

  EnvelopeMessage message;
  if (const uint32_t error = EnvelopeMessage::Read(messageBytes.bytes(), &message)) {
    errorCode = DecryptResultCode(error);
    return Text();
  }
  CertStore personal;
  if (services.stores) (void)services.stores->openSystemStore(kPersonalStore, &personal);
  ByteBuffer content;
  errorCode = DecryptOver(message, personal, &content);
  if (errorCode == rc::kNoDecryptCertificate) {
    // The key may live only in a PFX file the user points to.
    FileDialogRequest request;
    request.id = DialogId::kPfxFile;
    request.values.fileName = "*.pfx";
    request.passwdMinLength = passwdMinLength;
    request.passwdMaxLength = passwdMaxLength;
    FileDialogValues values;
    const DialogOutcome outcome = services.dialogs ? services.dialogs->fileDialog(request, &values)
                                                   : DialogOutcome::kCannotCreate;
    if (outcome != DialogOutcome::kOk) {
      errorCode = outcome == DialogOutcome::kCancel ? rc::kUserCancelled : rc::kAllocationFailed;
      return Text();
    }
    // The file's keys stay in this process's memory.
    PfxStore pfx(PfxKeyPlacement::kMemory);
    const int32_t opened = OpenDecryptionPfx(values, &pfx);
    explicit_bzero(values.password.data(), values.password.size());
    if (opened != rc::kSuccess) {
      errorCode = rc::kCertNotFound;
      capiErrorCode = pfx.lastError();
      return Text();
    }
    errorCode = DecryptOver(message, pfx.store(), &content, pfx.keyDatabase());
  }
  if (errorCode != rc::kSuccess) return Text();
  if (dwFlags & kAnsiText) return ToInterfaceText(NarrowResult(content));
  // Through the code page and back: what it cannot hold does not survive.
  return ToInterfaceText(ToNarrow(WideResult(content)));
}

}  // namespace quorvant
