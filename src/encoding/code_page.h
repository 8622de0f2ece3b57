// Narrow text inside the engine is in the component's code page (code page
// 950, Big5, unless configured otherwise), as on the systems the component
// serves; interface text is UTF-16. These conversions give the very bytes the
// original platform's WideCharToMultiByte / MultiByteToWideChar give with no
// flags: best-fit mappings where the code page has them, "?" for every other
// unmappable character. Text that is hashed, signed or encrypted in its
// code-page form depends on that byte for byte.
#ifndef QUORVANT_ENCODING_CODE_PAGE_H_
#define QUORVANT_ENCODING_CODE_PAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvant {

inline constexpr uint32_t kDefaultCodePage = 950;

// The code page in force: the value of QUORVANT_CODEPAGE when it names a
// supported code page (read once), else 950.
uint32_t ActiveCodePage();
// Chooses the code page for the whole process (configuration and tests).
// Returns false, changing nothing, for a code page this build cannot convert.
bool SetActiveCodePage(uint32_t codePage);
bool IsSupportedCodePage(uint32_t codePage);

// Wide to narrow. Unmappable characters become their best fit or "?", so the
// conversion fails only for lack of memory or converter data; on failure *out
// is empty and *error (if given) holds the system error number.
bool NarrowFromWide(std::u16string_view wide, std::string* out,
                    uint32_t* error = nullptr);
// Narrow to wide. Byte sequences the code page does not define become "?".
bool WideFromNarrow(std::string_view narrow, std::u16string* out,
                    uint32_t* error = nullptr);

// Convenience forms for callers that treat a failed conversion as empty text.
std::string ToNarrow(std::u16string_view wide);
// Narrow text out to the interface. An absent pointer gives an empty string
// (interface strings are never null).
std::u16string ToInterfaceText(std::string_view narrow);
std::u16string ToInterfaceText(const char* narrow);

// UTF-8, the form file names take to the operating system.
std::string Utf8FromWide(std::u16string_view wide);
std::u16string WideFromUtf8(std::string_view utf8);
// A narrow code-page path as the UTF-8 name the OS wants.
std::string OsPathFromNarrow(std::string_view narrow);
// A UTF-8 string from the OS (a file name, an environment value) as narrow
// code-page text.
std::string NarrowFromOsText(std::string_view utf8);

}  // namespace quorvant

#endif  // QUORVANT_ENCODING_CODE_PAGE_H_
