// Helpers shared by the encryption tests.
#ifndef QUORVANT_TESTS_CRYPT_CRYPT_TEST_UTIL_H_
#define QUORVANT_TESTS_CRYPT_CRYPT_TEST_UTIL_H_

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvant::testing {

// The standard output of a shell command.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status != nullptr) *status = rc;
  return out;
}

// UTF-16 code units as bytes, low byte first.
inline std::string Utf16Le(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_CRYPT_CRYPT_TEST_UTIL_H_
