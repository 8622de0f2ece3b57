// Hash and HashFile: digests of the caller's text or of a file as upper-case
// hex. Both use the component's own digest engines, so they work in any
// environment and do not look at protected mode; both clear only errorCode,
// leaving capiErrorCode of an earlier operation as it was.
#include <bit>

#include "encoding/code_page.h"
#include "encoding/hex.h"
#include "base/result_codes.h"
#include "engine/security_engine.h"
#include "sign/hashing.h"

namespace quorvant {
namespace {

constexpr int32_t kHashAnsiText = 0x10;

// The file picker of HashFile.
OpenFileRequest FilePickerRequest() {
  OpenFileRequest request;
  request.title = ToNarrow(u"請選擇檔案");
  request.filter = "All Files (*.*)|*.*||";
  request.defaultExtension = "*.*";
  request.hideReadOnly = true;
  request.validateName = false;
  return request;
}

}  // namespace

Text SecurityEngine::Hash(TextArg strPlainText, int32_t dwFlags) {
  errorCode = 0;
  if (strPlainText.empty()) {
    errorCode = rc::kBadArgument;
    return Text();
  }
  MessageDigest digest(HashAlgorithmFromFlags(dwFlags));
  if (dwFlags & kHashAnsiText) {
    std::string narrow;
    if (!NarrowFromWide(strPlainText, &narrow)) {
      errorCode = rc::kAllocationFailed;
      return Text();
    }
    digest.update(narrow.data(), narrow.size());
  } else {
    // The UTF-16 code units as stored, low byte first, no terminator.
    static_assert(std::endian::native == std::endian::little);
    digest.update(strPlainText.data(), strPlainText.size() * sizeof(char16_t));
  }
  ByteBuffer hex;
  if (!digest.finish() ||
      !HexEncode(digest.output().data(), digest.output().size(), hex)) {
    errorCode = rc::kAllocationFailed;
    return Text();
  }
  return ToInterfaceText(hex.view());
}

Text SecurityEngine::HashFile(TextArg strFileName, int32_t dwFlags) {
  errorCode = 0;
  std::string path = ToNarrow(strFileName);
  if (path.empty()) {
    // No name: the user picks the file. A picker that cannot be shown counts
    // as not confirmed.
    std::string chosen;
    if (!services.dialogs ||
        services.dialogs->openFile(FilePickerRequest(), &chosen) != DialogOutcome::kOk ||
        chosen.empty()) {
      errorCode = rc::kUserCancelled;
      return Text();
    }
    path = std::move(chosen);
  }
  ByteBuffer digest;
  errorCode = HashFileContents(OsPathFromNarrow(path), HashAlgorithmFromFlags(dwFlags), &digest);
  if (errorCode != rc::kSuccess) return Text();
  ByteBuffer hex;
  if (!HexEncode(digest.data(), digest.size(), hex)) {
    errorCode = rc::kAllocationFailed;
    return Text();
  }
  return ToInterfaceText(hex.view());
}

}  // namespace quorvant
