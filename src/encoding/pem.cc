#include "encoding/pem.h"

#include <array>

namespace quorvant {
namespace {

// Removes the occurrences of `what` found scanning `text` left to right;
// text that only comes together once an occurrence is gone is kept.
std::string removeAll(std::string_view text, std::string_view what) {
  std::string result;
  result.reserve(text.size());
  size_t from = 0;
  for (size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, from)) {
    result.append(text.substr(from, at - from));
    from = at + what.size();
  }
  result.append(text.substr(from));
  return result;
}

}  // namespace

std::string StripPemArmour(std::string_view text) {
  if (!text.starts_with("-----")) return std::string(text);
  static constexpr std::array<std::string_view, 6> kRemoved = {
      "-----BEGIN CERTIFICATE-----", "-----END CERTIFICATE-----",
      "-----BEGIN PKCS #7-----",     "-----END PKCS #7-----",
      "\n",                          "\r",
  };
  std::string result(text);
  for (const std::string_view what : kRemoved) result = removeAll(result, what);
  return result;
}

}  // namespace quorvant
