#include "reg_command.h"

#include <strings.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "QuorvantATL.h"

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
               "usage: quorvant reg query  KEY [/v NAME | /ve | /s]\n"
               "       quorvant reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
               "       quorvant reg delete KEY [/v NAME | /ve | /va] [/f]\n"
               "KEY: HKCU\\path, HKLM\\path or HKCR\\path; TYPE: REG_SZ (default),\n"
               "REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY (hex), REG_NONE\n");
  return kExitUsage;
}

struct Options {
  std::optional<std::string> valueName;  // /v NAME, or "" for /ve
  bool allValues = false;                // /va
  bool recursive = false;                // /s: every key below, with its values
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
    } else if (EqualsIgnoreCase(a, "/s")) {
      o.recursive = true;
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

// /s: the key's report without its list of subkeys, then each subkey's the
// same way, depth first. The store lists a key's subkeys as lines holding
// the key's full name, a backslash and the subkey's name.
bool QueryTree(const std::u16string& key, std::string* out) {
  const std::string report = TakeText(QuorvantRegQuery(key.c_str(), nullptr));
  if (::GetErrorCode() != 0) {
    *out += report;
    return false;
  }
  std::vector<std::string> lines;
  for (size_t at = 0; at < report.size();) {
    const size_t end = report.find('\n', at);
    lines.push_back(report.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? report.size() : end + 1;
  }
  std::string full;
  for (const std::string& line : lines) {
    if (!line.empty()) {
      full = line;
      break;
    }
  }
  std::vector<std::string> subkeys;
  std::string own;
  for (const std::string& line : lines) {
    if (!full.empty() && line.size() > full.size() + 1 && line.starts_with(full + "\\")) {
      subkeys.push_back(line);
    } else {
      own += line + "\n";
    }
  }
  while (own.size() > 1 && own.ends_with("\n\n")) own.pop_back();
  *out += own;
  for (const std::string& subkey : subkeys) {
    if (!QueryTree(Utf16FromUtf8(subkey), out)) return false;
  }
  return true;
}

}  // namespace

int RegCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  std::optional<Options> options = ParseOptions(args, 2);
  if (!options) return Usage();
  const std::u16string key = Utf16FromUtf8(args[1]);
  const Text16 valueName(options->valueName);
  // Reports of the registry store say "ERROR: ..." themselves.
  if (args[0] == "query" && options->recursive && !options->valueName) {
    std::string tree;
    QueryTree(key, &tree);
    std::fputs(tree.c_str(), stdout);
    return PrintOutcome();
  }
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
