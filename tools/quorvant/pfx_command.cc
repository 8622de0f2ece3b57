#include "pfx_command.h"

#include <cstdio>
#include <optional>

#include "QuorvantAdmin.h"
#include "export_calls.h"
#include "passwords.h"
#include "results.h"
#include "pfx_operation_commands.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant pfx info FILE [--password-stdin | --password-fd N]\n"
               "       quorvant pfx import|query|export|mobile|passwd ... (pfx_operation_commands.h)\n"
               "       quorvant filter TEXT [--flags N] [--key-usage N] [--store MY|CA|ROOT]\n");
  return kExitUsage;
}

}  // namespace

int PfxCommand(const std::vector<std::string>& args) {
  if (IsPfxOperationCommand(args)) return PfxOperationCommand(args);
  if (args.empty() || args[0] != "info") return Usage();
  std::vector<std::string> positional;
  PasswordSource source;
  for (size_t i = 1; i < args.size(); ++i) {
    bool bad = false;
    if (ParsePasswordOption(args, &i, &source, &bad)) {
      if (bad) return Usage();
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.empty() || positional.size() > 2) return Usage();
  Password password;
  if (positional.size() == 2) {
    // Older scripts name the password here; it still works, but anyone on
    // the machine can read it while the command runs.
    std::fprintf(stderr,
                 "quorvant: warning: a password on the command line is visible to other "
                 "users; use --password-stdin or --password-fd\n");
    password.assignUtf8(positional[1]);
  } else if (const int failed = ReadPassword(source, "PFX password: ", &password, Usage)) {
    return failed;
  }
  const std::u16string path = Utf16FromUtf8(positional[0]);
  return PrintReport(QuorvantPfxInfo(path.c_str(), password.get()));
}

int FilterCommand(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  int32_t flags = 0;
  int32_t keyUsage = 0;
  std::string storeName = "MY";
  for (size_t i = 1; i < args.size(); i += 2) {
    const std::string& option = args[i];
    if (i + 1 >= args.size()) {
      std::fprintf(stderr, "quorvant: %s needs a value\n", option.c_str());
      return Usage();
    }
    if (option == "--store") {
      storeName = args[i + 1];
      continue;
    }
    std::optional<int32_t> value = ParseInt32(args[i + 1]);
    if (!value) {
      std::fprintf(stderr, "quorvant: %s %s is not a 32-bit number\n", option.c_str(),
                   args[i + 1].c_str());
      return Usage();
    }
    if (option == "--flags") {
      flags = *value;
    } else if (option == "--key-usage") {
      keyUsage = *value;
    } else {
      std::fprintf(stderr, "quorvant: no filter option %s\n", option.c_str());
      return Usage();
    }
  }
  const std::u16string store = Utf16FromUtf8(storeName);
  const std::u16string filter = Utf16FromUtf8(args[0]);
  return PrintReport(QuorvantFilterStore(store.c_str(), filter.c_str(), flags, keyUsage));
}

}  // namespace quorvant::cli
