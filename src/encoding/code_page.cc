#include "encoding/code_page.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "base/environment.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

// ICU converter names whose tables convert as the Windows code pages do.
// For 950 only "windows-950-2000" does: glibc's CP950 differs in U+2550, the
// 0xC6A1-0xC8FE range and its transliteration.
struct CodePageName {
  uint32_t codePage;
  const char* icuName;
};
constexpr CodePageName kCodePages[] = {
    {874, "windows-874-2000"}, {932, "ibm-943_P15A-2003"},
    {936, "windows-936-2000"}, {949, "windows-949-2000"},
    {950, "windows-950-2000"}, {1250, "windows-1250"},
    {1251, "windows-1251"},    {1252, "windows-1252"},
    {1253, "windows-1253"},    {1254, "windows-1254"},
    {1255, "windows-1255"},    {1256, "windows-1256"},
    {1257, "windows-1257"},    {1258, "windows-1258"},
    {65001, "UTF-8"},
};

// Error numbers as the platform reports them for these conversions.
using win32::kErrorInvalidParameter;
using win32::kErrorNotEnoughMemory;

const char* IcuName(uint32_t codePage) {
  for (const auto& entry : kCodePages) {
    if (entry.codePage == codePage) return entry.icuName;
  }
  return nullptr;
}

uint32_t CodePageFromEnvironment() {
  const std::optional<std::string> value = ProcessEnvironmentValue("QUORVANT_CODEPAGE");
  if (!value || value->empty()) return kDefaultCodePage;
  char* end = nullptr;
  unsigned long parsed = std::strtoul(value->c_str(), &end, 10);
  if (*end != '\0' || IcuName(static_cast<uint32_t>(parsed)) == nullptr) {
    return kDefaultCodePage;
  }
  return static_cast<uint32_t>(parsed);
}

std::atomic<uint32_t>& ActiveCodePageSlot() {
  static std::atomic<uint32_t> slot{CodePageFromEnvironment()};
  return slot;
}

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Undefined byte sequences read back as "?", as MultiByteToWideChar gives
// them without MB_ERR_INVALID_CHARS.
void QuestionMarkToUnicode(const void*, UConverterToUnicodeArgs* args,
                           const char*, int32_t, UConverterCallbackReason reason,
                           UErrorCode* status) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to do
  static const UChar kQuestion[] = {u'?'};
  *status = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, kQuestion, 1, 0, status);
}

// One converter per thread and code page: opening an ICU converter costs far
// more than a typical conversion, and converters are not thread-safe.
UConverter* ThreadConverter(uint32_t codePage, uint32_t* error) {
  thread_local ConverterPtr converter;
  thread_local uint32_t converterCodePage = 0;
  if (converter && converterCodePage == codePage) return converter.get();
  converter.reset();
  const char* name = IcuName(codePage);
  if (name == nullptr) {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr opened(ucnv_open(name, &status));
  if (U_FAILURE(status) || !opened) {
    *error = status == U_MEMORY_ALLOCATION_ERROR ? kErrorNotEnoughMemory
                                                 : kErrorInvalidParameter;
    return nullptr;
  }
  // Best-fit: Windows maps many characters without a round-trip mapping to
  // a look-alike; ICU's fallback mappings of the windows-* tables are those.
  ucnv_setFallback(opened.get(), true);
  ucnv_setSubstChars(opened.get(), "?", 1, &status);
  ucnv_setToUCallBack(opened.get(), QuestionMarkToUnicode, nullptr, nullptr,
                      nullptr, &status);
  if (U_FAILURE(status)) {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  converter = std::move(opened);
  converterCodePage = codePage;
  return converter.get();
}

uint32_t ErrorFromIcu(UErrorCode status) {
  return status == U_MEMORY_ALLOCATION_ERROR ? kErrorNotEnoughMemory
                                             : kErrorInvalidParameter;
}

void SetError(uint32_t* error, uint32_t value) {
  if (error != nullptr) *error = value;
}

}  // namespace

uint32_t ActiveCodePage() { return ActiveCodePageSlot().load(); }

bool IsSupportedCodePage(uint32_t codePage) {
  return IcuName(codePage) != nullptr;
}

bool SetActiveCodePage(uint32_t codePage) {
  if (!IsSupportedCodePage(codePage)) return false;
  ActiveCodePageSlot().store(codePage);
  return true;
}

bool NarrowFromWide(std::u16string_view wide, std::string* out,
                    uint32_t* error) {
  out->clear();
  SetError(error, 0);
  if (wide.empty()) return true;
  uint32_t openError = 0;
  UConverter* cnv = ThreadConverter(ActiveCodePage(), &openError);
  if (cnv == nullptr) {
    SetError(error, openError);
    return false;
  }
  try {
    // Every code unit gives at most the converter's longest character.
    out->resize(wide.size() * static_cast<size_t>(ucnv_getMaxCharSize(cnv)) + 1);
  } catch (const std::bad_alloc&) {
    SetError(error, kErrorNotEnoughMemory);
    return false;
  }
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetFromUnicode(cnv);
  int32_t written = ucnv_fromUChars(cnv, out->data(),
                                    static_cast<int32_t>(out->size()),
                                    wide.data(), static_cast<int32_t>(wide.size()),
                                    &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
    out->clear();
    SetError(error, ErrorFromIcu(status));
    return false;
  }
  out->resize(static_cast<size_t>(written));
  return true;
}

bool WideFromNarrow(std::string_view narrow, std::u16string* out,
                    uint32_t* error) {
  out->clear();
  SetError(error, 0);
  if (narrow.empty()) return true;
  uint32_t openError = 0;
  UConverter* cnv = ThreadConverter(ActiveCodePage(), &openError);
  if (cnv == nullptr) {
    SetError(error, openError);
    return false;
  }
  try {
    // No code page here gives more UTF-16 units than input bytes.
    out->resize(narrow.size() + 1);
  } catch (const std::bad_alloc&) {
    SetError(error, kErrorNotEnoughMemory);
    return false;
  }
  UErrorCode status = U_ZERO_ERROR;
  ucnv_resetToUnicode(cnv);
  int32_t written = ucnv_toUChars(cnv, out->data(),
                                  static_cast<int32_t>(out->size()),
                                  narrow.data(), static_cast<int32_t>(narrow.size()),
                                  &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) {
    out->clear();
    SetError(error, ErrorFromIcu(status));
    return false;
  }
  out->resize(static_cast<size_t>(written));
  return true;
}

std::string ToNarrow(std::u16string_view wide) {
  std::string out;
  if (!NarrowFromWide(wide, &out)) out.clear();
  return out;
}

std::u16string ToInterfaceText(std::string_view narrow) {
  std::u16string out;
  if (!WideFromNarrow(narrow, &out)) out.clear();
  return out;
}

std::u16string ToInterfaceText(const char* narrow) {
  return narrow == nullptr ? std::u16string() : ToInterfaceText(std::string_view(narrow));
}

std::string Utf8FromWide(std::u16string_view wide) {
  std::string out;
  if (wide.empty()) return out;
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  // Unpaired surrogates become U+FFFD rather than failing the whole name.
  u_strToUTF8WithSub(nullptr, 0, &needed, wide.data(),
                     static_cast<int32_t>(wide.size()), 0xFFFD, nullptr, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return out;
  try {
    out.resize(static_cast<size_t>(needed));
  } catch (const std::bad_alloc&) {
    return std::string();
  }
  status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), needed, &needed, wide.data(),
                     static_cast<int32_t>(wide.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) out.clear();
  return out;
}

std::u16string WideFromUtf8(std::string_view utf8) {
  std::u16string out;
  if (utf8.empty()) return out;
  UErrorCode status = U_ZERO_ERROR;
  int32_t needed = 0;
  u_strFromUTF8WithSub(nullptr, 0, &needed, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return out;
  try {
    out.resize(static_cast<size_t>(needed));
  } catch (const std::bad_alloc&) {
    return std::u16string();
  }
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), needed, &needed, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) out.clear();
  return out;
}

std::string OsPathFromNarrow(std::string_view narrow) {
  return Utf8FromWide(ToInterfaceText(narrow));
}

std::string NarrowFromOsText(std::string_view utf8) {
  return ToNarrow(WideFromUtf8(utf8));
}

}  // namespace quorvant
