// Running the other implementations the tests compare against (the openssl
// command line, Python's cryptography) and the files they exchange.
#ifndef QUORVANT_TESTS_SUPPORT_TOOL_COMMANDS_H_
#define QUORVANT_TESTS_SUPPORT_TOOL_COMMANDS_H_

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

namespace quorvant::testing {

inline int RunQuiet(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard output and error of a command; *status its exit code.
inline std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char chunk[4096];
  size_t n = 0;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

inline std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline bool HaveOpensslCommand() { return RunQuiet("openssl version") == 0; }
inline bool HavePythonCryptography() {
  return RunQuiet("/usr/bin/python3 -c 'import cryptography'") == 0;
}

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_SUPPORT_TOOL_COMMANDS_H_
