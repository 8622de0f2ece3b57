#include "store_command.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "QuorvantAdmin.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant store list [MY|CA|ROOT]\n"
               "       quorvant store add MY|CA|ROOT FILE\n"
               "       quorvant store delete [MY|CA|ROOT] N\n"
               "       quorvant cert FILE\n");
  return kExitUsage;
}

// A positive certificate number; 0 when the text is not one.
int32_t Number(const std::string& text) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
      number > 0x7FFFFFFF) {
    return 0;
  }
  return static_cast<int32_t>(number);
}

}  // namespace

int StoreCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& verb = args[0];
  if (verb == "list" && args.size() <= 2) {
    const std::u16string name = Utf16FromUtf8(args.size() == 2 ? args[1] : "MY");
    return PrintReport(QuorvantStoreList(name.c_str()));
  }
  if (verb == "add" && args.size() == 3) {
    const std::u16string name = Utf16FromUtf8(args[1]);
    const std::u16string file = Utf16FromUtf8(args[2]);
    return PrintReport(QuorvantStoreAdd(name.c_str(), file.c_str()));
  }
  if (verb == "delete" && (args.size() == 2 || args.size() == 3)) {
    const std::u16string name = Utf16FromUtf8(args.size() == 3 ? args[1] : "MY");
    const int32_t number = Number(args.back());
    if (number == 0) {
      std::fprintf(stderr, "quorvant: '%s' is not a certificate number (1, 2, ...)\n",
                   args.back().c_str());
      return Usage();
    }
    return PrintReport(QuorvantStoreDelete(name.c_str(), number));
  }
  return Usage();
}

int CertCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage();
  const std::u16string file = Utf16FromUtf8(args[0]);
  return PrintReport(QuorvantCertificateFile(file.c_str()));
}

}  // namespace quorvant::cli
