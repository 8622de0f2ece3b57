#include "reg_command.h"

#include <strings.h>

#include <cstdio>
#include <optional>

#include "QuorvantAdmin.h"
#include "results.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  return ::strcasecmp(a.c_str(), b) == 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: quorvant reg query  KEY [/v NAME | /ve]\n"
               "       quorvant reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
               "       quorvant reg delete KEY [/v NAME | /ve | /va] [/f]\n"
               "KEY: HKCU\\path, HKLM\\path or HKCR\\path; TYPE: REG_SZ (default),\n"
               "REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY (hex), REG_NONE\n");
  return kExitUsage;
}

struct Options {
  std::optional<std::string> valueName;  // /v NAME, or "" for /ve
  bool allValues = false;                // /va
  std::string type = "REG_SZ";
  std::optional<std::string> data;
};

std::optional<Options> ParseOptions(const std::vector<std::string>& args, size_t from) {
  Options o;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (EqualsIgnoreCase(a, "/v")) {
      o.valueName = next();
      if (!o.valueName) return std::nullopt;
    } else if (EqualsIgnoreCase(a, "/ve")) {
      o.valueName = "";
    } else if (EqualsIgnoreCase(a, "/va")) {
      o.allValues = true;
    } else if (EqualsIgnoreCase(a, "/t")) {
      auto t = next();
      if (!t) return std::nullopt;
      o.type = *t;
    } else if (EqualsIgnoreCase(a, "/d")) {
      o.data = next();
      if (!o.data) return std::nullopt;
    } else if (!EqualsIgnoreCase(a, "/f")) {
      return std::nullopt;
    }
  }
  return o;
}

// A null pointer for an absent option, the option's text otherwise.
struct Text16 {
  explicit Text16(const std::optional<std::string>& text)
      : present(text.has_value()), text(text ? Utf16FromUtf8(*text) : std::u16string()) {}
  const char16_t* get() const { return present ? text.c_str() : nullptr; }
  bool present;
  std::u16string text;
};

}  // namespace

int RegCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  std::optional<Options> options = ParseOptions(args, 2);
  if (!options) return Usage();
  const std::u16string key = Utf16FromUtf8(args[1]);
  const Text16 valueName(options->valueName);
  // Reports of the registry store say "ERROR: ..." themselves.
  if (args[0] == "query") return PrintReport(QuorvantRegQuery(key.c_str(), valueName.get()), "");
  if (args[0] == "add") {
    const std::u16string type = Utf16FromUtf8(options->type);
    const Text16 data(options->data);
    return PrintReport(QuorvantRegAdd(key.c_str(), valueName.get(), type.c_str(), data.get()), "");
  }
  if (args[0] == "delete") {
    return PrintReport(
        QuorvantRegDelete(key.c_str(), valueName.get(), options->allValues ? 1 : 0), "");
  }
  return Usage();
}

}  // namespace quorvant::cli
