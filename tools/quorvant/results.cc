#include "results.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "QuorvantAdmin.h"

namespace quorvant::cli {

std::string Utf8FromUtf16(std::u16string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;  // a lone surrogate
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Utf16FromUtf8(std::string_view text) {
  std::u16string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    uint32_t c = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = length != 0 && i + length <= text.size();
    for (int k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not text.
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<size_t>(length);
  }
  return out;
}

std::string TakeText(BSTR text) {
  std::string out =
      text == nullptr ? std::string() : Utf8FromUtf16(std::u16string_view(text, SysStringLen(text)));
  SysFreeString(text);
  return out;
}

int PrintOutcome() {
  const int32_t code = ::GetErrorCode();
  std::printf("result: %d %s\n", code, TakeText(::GetErrorMsg()).c_str());
  const int32_t capi = ::GetCapiErrorCode();
  if (capi != 0) {
    // The message's first line: the number is printed already.
    std::string message = TakeText(::GetCapiErrorMsg());
    message = message.substr(0, message.find_first_of("\r\n"));
    std::printf("system error: 0x%08X %s\n", static_cast<uint32_t>(capi), message.c_str());
  }
  return code == 0 ? 0 : 1;
}

int PrintReport(BSTR report, const char* failurePrefix) {
  const std::string text = TakeText(report);
  if (::GetErrorCode() == 0) {
    std::fputs(text.c_str(), stdout);
  } else {
    std::fflush(stdout);
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find('\n', start);
      const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
      std::fprintf(stderr, "%s%s\n", failurePrefix, line.c_str());
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return PrintOutcome();
}

std::string ResultMessage(int32_t code) {
  // The table's rows are "CODE<TAB>TEXT" with one %d for the code, the last
  // one "default<TAB>TEXT".
  const std::string table = TakeText(QuorvantErrorTable());
  const std::string wanted = std::to_string(code) + "\t";
  std::string pattern;
  for (size_t at = 0; at < table.size();) {
    const size_t end = std::min(table.find('\n', at), table.size());
    const std::string_view row(table.data() + at, end - at);
    if (row.starts_with(wanted)) pattern = row.substr(wanted.size());
    if (pattern.empty() && row.starts_with("default\t")) pattern = row.substr(8);
    at = end + 1;
  }
  const size_t mark = pattern.find("%d");
  if (mark != std::string::npos) pattern.replace(mark, 2, std::to_string(code));
  return pattern;
}

std::string Base64Text(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  std::string text;
  text.reserve((n + 2) / 3 * 4);
  for (size_t i = 0; i < n; i += 3) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (i + 1 < n ? uint32_t{in[i + 1]} << 8 : 0) |
                       (i + 2 < n ? uint32_t{in[i + 2]} : 0);
    text += kDigits[(v >> 18) & 63];
    text += kDigits[(v >> 12) & 63];
    text += i + 1 < n ? kDigits[(v >> 6) & 63] : '=';
    text += i + 2 < n ? kDigits[v & 63] : '=';
  }
  return text;
}

}  // namespace quorvant::cli
