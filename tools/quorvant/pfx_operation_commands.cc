#include "pfx_operation_commands.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "QuorvantATL.h"
#include "export_calls.h"
#include "passwords.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant pfx import FILE [--flags N] [--key-usage N] [PASSWORD-SOURCE]\n"
               "       quorvant pfx query FILE [--flags N] [--key-usage N] [PASSWORD-SOURCE]\n"
               "       quorvant pfx export FILTER FOLDER [--flags N] [--key-usage N] "
               "[PASSWORD-SOURCE]\n"
               "       quorvant pfx mobile FILE [--key-usage N] [PASSWORD-SOURCE]\n"
               "       quorvant pfx mobile --store FILTER [--flags N] [--key-usage N] "
               "[PASSWORD-SOURCE]\n"
               "       quorvant pfx passwd FILE [PASSWORD-SOURCE]\n"
               "PASSWORD-SOURCE: --password-stdin or --password-fd N (passwd: the old\n"
               "password, then the new one). %s"
               "Without a source or a terminal, the component's own dialog asks.\n",
               kPasswordUsage);
  return kExitUsage;
}

struct Options {
  std::vector<std::string> positional;
  int32_t flags = 0;
  int32_t keyUsage = 0;
  PasswordSource password;
  bool store = false;
};

std::optional<Options> ParseOptions(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool bad = false;
    if (ParsePasswordOption(args, &i, &options.password, &bad)) {
      if (bad) return std::nullopt;
    } else if (a == "--store") {
      options.store = true;
    } else if (a == "--flags" || a == "--key-usage") {
      if (i + 1 >= args.size()) return std::nullopt;
      const std::optional<int32_t> value = ParseInt32(args[++i]);
      if (!value) return std::nullopt;
      (a == "--flags" ? options.flags : options.keyUsage) = *value;
    } else if (a.rfind("--", 0) == 0) {
      return std::nullopt;
    } else {
      options.positional.push_back(a);
    }
  }
  return options;
}

// A file argument as the folder and name the operations take: the folder
// absolute, since a one-character folder would join as a root.
struct Location {
  std::u16string folder;
  std::u16string name;
};

Location Locate(const std::string& file) {
  std::error_code ignored;
  const std::filesystem::path path = std::filesystem::absolute(file, ignored);
  return {Utf16FromUtf8(path.parent_path().string()), Utf16FromUtf8(path.filename().string())};
}

}  // namespace

bool IsPfxOperationCommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  const std::string& c = args[0];
  return c == "import" || c == "query" || c == "export" || c == "mobile" || c == "passwd";
}

int PfxOperationCommand(const std::vector<std::string>& args) {
  const std::optional<Options> parsed = ParseOptions(args);
  if (!parsed) return Usage();
  const Options& o = *parsed;
  const std::string& command = args[0];
  Password password;

  if (command == "import" || command == "query") {
    if (o.positional.size() != 1 || o.store) return Usage();
    if (const int failed = ReadPassword(o.password, "PFX password: ", &password, Usage)) {
      return failed;
    }
    const Location at = Locate(o.positional[0]);
    const int32_t code =
        command == "import"
            ? ::ImportPfxToIE(at.folder.c_str(), at.name.c_str(), password.get(), o.flags,
                              o.keyUsage)
            : ::QueryPfxInfo(at.folder.c_str(), at.name.c_str(), password.get(), o.flags,
                             o.keyUsage);
    if (code == 0) {
      std::printf("%s: %s\n", command == "import" ? "imported" : "certificate",
                  TakeText(::GetCertSubject()).c_str());
    }
    return PrintOutcome();
  }
  if (command == "export") {
    if (o.positional.size() != 2 || o.store) return Usage();
    if (const int failed =
            ReadPassword(o.password, "Password for the new file: ", &password, Usage)) {
      return failed;
    }
    const std::u16string filter = Utf16FromUtf8(o.positional[0]);
    std::error_code ignored;
    const std::u16string folder =
        Utf16FromUtf8(std::filesystem::absolute(o.positional[1], ignored).string());
    if (::ExportPfxFromIE(filter.c_str(), folder.c_str(), password.get(), o.flags,
                          o.keyUsage) == 0) {
      std::printf("written: %s/%s\n", TakeText(::GetExportedPfxFilePath()).c_str(),
                  TakeText(::GetExportedPfxFileName()).c_str());
    }
    return PrintOutcome();
  }
  if (command == "mobile") {
    if (o.positional.size() != 1) return Usage();
    std::string text;
    if (o.store) {
      if (const int failed = ReadPassword(o.password, "Mobile password: ", &password, Usage)) {
        return failed;
      }
      const std::u16string filter = Utf16FromUtf8(o.positional[0]);
      text = TakeText(::ExportMobileFromIE(filter.c_str(), password.get(), o.flags, o.keyUsage));
    } else {
      if (const int failed = ReadPassword(o.password, "PFX password: ", &password, Usage)) {
        return failed;
      }
      const Location at = Locate(o.positional[0]);
      text = TakeText(::ExportMobileFromPfx(at.folder.c_str(), at.name.c_str(), password.get(),
                                            o.flags, o.keyUsage));
    }
    if (!text.empty()) std::printf("%s\n", text.c_str());
    return PrintOutcome();
  }
  if (command == "passwd") {
    if (o.positional.size() != 1 || o.store) return Usage();
    Password newPassword;
    if (const int failed = ReadPassword(o.password, "Old password: ", &password, Usage)) {
      return failed;
    }
    if (const int failed = ReadPassword(o.password, "New password: ", &newPassword, Usage)) {
      return failed;
    }
    const Location at = Locate(o.positional[0]);
    ::ChangePfxPasswd(at.folder.c_str(), at.name.c_str(), password.get(), newPassword.get(), 0);
    return PrintOutcome();
  }
  return Usage();
}

}  // namespace quorvant::cli
