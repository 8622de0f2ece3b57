// Runs a libFuzzer target without libFuzzer: every file named on the command
// line, and every regular file under every directory named, is passed once
// to LLVMFuzzerTestOneInput. The normal test run uses this to replay the
// committed corpora with any compiler; a crash or a failed check aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool runFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  // A heap block of the exact size, so AddressSanitizer catches a read one
  // past the end as it would under libFuzzer.
  const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  static const uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(input.empty() ? &kNothing : input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const auto& f : files) {
        if (!runFile(f)) return 1;
        ++count;
      }
    } else {
      if (!runFile(arg)) return 1;
      ++count;
    }
  }
  std::printf("%zu inputs ran\n", count);
  // An empty or missing corpus is a mistake in the build, not a pass.
  return count > 0 ? 0 : 1;
}
