#include "reg_command.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "encoding/code_page.h"
#include "host/data_paths.h"
#include "host/registry.h"
#include "host/system_messages.h"

namespace quorvant::cli {
namespace {

constexpr int kExitUsage = 64;

struct RootName {
  const char* shortName;
  const char* longName;
  RegRoot root;
};
constexpr RootName kRoots[] = {
    {"HKCU", "HKEY_CURRENT_USER", RegRoot::kCurrentUser},
    {"HKLM", "HKEY_LOCAL_MACHINE", RegRoot::kLocalMachine},
    {"HKCR", "HKEY_CLASSES_ROOT", RegRoot::kClassesRoot},
};

struct KeyName {
  RegRoot root;
  std::string rootName;  // long form, for output
  std::string path;      // below the root, without a leading backslash
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::optional<KeyName> ParseKey(const std::string& text) {
  const size_t slash = text.find('\\');
  const std::string head = text.substr(0, slash);
  for (const RootName& r : kRoots) {
    if (EqualsIgnoreCase(head, r.shortName) || EqualsIgnoreCase(head, r.longName)) {
      KeyName key{r.root, r.longName, slash == std::string::npos ? "" : text.substr(slash + 1)};
      while (!key.path.empty() && key.path.back() == '\\') key.path.pop_back();
      return key;
    }
  }
  return std::nullopt;
}

const char* TypeName(uint32_t type) {
  switch (type) {
    case reg::kSz: return "REG_SZ";
    case reg::kExpandSz: return "REG_EXPAND_SZ";
    case reg::kBinary: return "REG_BINARY";
    case reg::kDword: return "REG_DWORD";
    case reg::kMultiSz: return "REG_MULTI_SZ";
    case reg::kQword: return "REG_QWORD";
    default: return "REG_NONE";
  }
}

std::optional<uint32_t> TypeFromName(const std::string& name) {
  const std::pair<const char*, uint32_t> types[] = {
      {"REG_SZ", reg::kSz},         {"REG_EXPAND_SZ", reg::kExpandSz},
      {"REG_BINARY", reg::kBinary}, {"REG_DWORD", reg::kDword},
      {"REG_QWORD", reg::kQword},   {"REG_NONE", reg::kNone},
  };
  for (const auto& [n, t] : types) {
    if (EqualsIgnoreCase(name, n)) return t;
  }
  return std::nullopt;
}

std::u16string FromUtf16Le(const std::vector<uint8_t>& data) {
  std::u16string text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return text;
}

std::vector<uint8_t> ToUtf16Le(std::u16string_view text, bool terminate) {
  std::vector<uint8_t> data;
  for (char16_t c : text) {
    data.push_back(static_cast<uint8_t>(c & 0xFF));
    data.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminate) data.insert(data.end(), {0, 0});
  return data;
}

std::string DataText(const RegValue& value) {
  char buffer[32];
  switch (value.type) {
    case reg::kSz:
    case reg::kExpandSz:
      return Utf8FromWide(FromUtf16Le(value.data));
    case reg::kDword:
    case reg::kQword: {
      uint64_t number = 0;
      for (size_t i = 0; i < value.data.size() && i < 8; ++i) {
        number |= uint64_t{value.data[i]} << (8 * i);
      }
      std::snprintf(buffer, sizeof(buffer), "0x%llx", static_cast<unsigned long long>(number));
      return buffer;
    }
    default: {
      std::string hex;
      for (uint8_t b : value.data) {
        std::snprintf(buffer, sizeof(buffer), "%02X", b);
        hex += buffer;
      }
      return hex;
    }
  }
}

std::optional<std::vector<uint8_t>> DataFromText(uint32_t type, const std::string& text) {
  switch (type) {
    case reg::kSz:
    case reg::kExpandSz:
      return ToUtf16Le(WideFromUtf8(text), true);
    case reg::kDword:
    case reg::kQword: {
      char* end = nullptr;
      errno = 0;
      unsigned long long number = std::strtoull(text.c_str(), &end, 0);
      if (text.empty() || *end != '\0' || errno != 0 ||
          (type == reg::kDword && number > 0xFFFFFFFFull)) {
        return std::nullopt;
      }
      std::vector<uint8_t> data(type == reg::kDword ? 4 : 8);
      for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(number >> (8 * i));
      return data;
    }
    case reg::kBinary: {
      if (text.size() % 2 != 0) return std::nullopt;
      std::vector<uint8_t> data;
      for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const long b = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0') return std::nullopt;
        data.push_back(static_cast<uint8_t>(b));
      }
      return data;
    }
    default:
      return std::vector<uint8_t>();
  }
}

int Fail(uint32_t error) {
  std::string text(SystemMessageLine(error));
  if (error == reg::kErrFileNotFound) {
    text = "The system was unable to find the specified registry key or value.";
  }
  std::fprintf(stderr, "ERROR: %s\n", text.c_str());
  return 1;
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

void PrintValue(const std::string& name, const RegValue& value) {
  std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : name.c_str(),
              TypeName(value.type), DataText(value).c_str());
}

// The key's values, then each key below it with its values, depth first.
void QueryTree(Registry& registry, RegRoot root, const std::string& path,
               const std::string& full) {
  std::printf("\n%s\n", full.c_str());
  std::string name;
  RegValue value;
  for (uint32_t i = 0; registry.enumValue(root, path, i, &name, &value) == 0; ++i) {
    PrintValue(name, value);
  }
  for (uint32_t i = 0; registry.enumSubkey(root, path, i, &name) == 0; ++i) {
    QueryTree(registry, root, path.empty() ? name : path + "\\" + name, full + "\\" + name);
  }
}

int Query(Registry& registry, const KeyName& key, const Options& o) {
  const std::string full = key.rootName + (key.path.empty() ? "" : "\\" + key.path);
  if (uint32_t e = registry.keyExists(key.root, key.path)) return Fail(e);
  if (o.valueName) {
    RegValue value;
    if (uint32_t e = registry.queryValue(key.root, key.path, *o.valueName, &value)) {
      return Fail(e);
    }
    std::printf("\n%s\n", full.c_str());
    PrintValue(*o.valueName, value);
    return 0;
  }
  if (o.recursive) {
    QueryTree(registry, key.root, key.path, full);
    return 0;
  }
  std::printf("\n%s\n", full.c_str());
  std::string name;
  RegValue value;
  for (uint32_t i = 0; registry.enumValue(key.root, key.path, i, &name, &value) == 0; ++i) {
    PrintValue(name, value);
  }
  bool first = true;
  for (uint32_t i = 0; registry.enumSubkey(key.root, key.path, i, &name) == 0; ++i) {
    if (first) std::printf("\n");
    first = false;
    std::printf("%s\\%s\n", full.c_str(), name.c_str());
  }
  return 0;
}

int Add(Registry& registry, const KeyName& key, const Options& o) {
  if (uint32_t e = registry.createKey(key.root, key.path)) return Fail(e);
  if (o.valueName || o.data) {
    std::optional<uint32_t> type = TypeFromName(o.type);
    if (!type) return Usage();
    auto data = DataFromText(*type, o.data.value_or(""));
    if (!data) {
      std::fprintf(stderr, "ERROR: Invalid value for the type %s.\n", o.type.c_str());
      return 1;
    }
    if (uint32_t e = registry.setValue(key.root, key.path, o.valueName.value_or(""), *type,
                                       *data)) {
      return Fail(e);
    }
  }
  std::printf("The operation completed successfully.\n");
  return 0;
}

int Delete(Registry& registry, const KeyName& key, const Options& o) {
  uint32_t e = 0;
  if (o.valueName) {
    e = registry.deleteValue(key.root, key.path, *o.valueName);
  } else if (o.allValues) {
    std::string name;
    while ((e = registry.enumValue(key.root, key.path, 0, &name, nullptr)) == 0) {
      if ((e = registry.deleteValue(key.root, key.path, name)) != 0) break;
    }
    if (e == reg::kErrNoMoreItems) e = 0;
  } else {
    e = registry.deleteTree(key.root, key.path);
  }
  if (e != 0) return Fail(e);
  std::printf("The operation completed successfully.\n");
  return 0;
}

}  // namespace

int RegCommand(const std::vector<std::string>& args) {
  if (args.size() < 2) return Usage();
  std::optional<KeyName> key = ParseKey(args[1]);
  std::optional<Options> options = ParseOptions(args, 2);
  if (!key || !options) return Usage();
  std::unique_ptr<Registry> registry =
      OpenSqliteRegistry(DefaultRegistryPaths(ProcessEnvironment()));
  if (!registry) return Fail(reg::kErrOutOfMemory);
  if (args[0] == "query") return Query(*registry, *key, *options);
  if (args[0] == "add") return Add(*registry, *key, *options);
  if (args[0] == "delete") return Delete(*registry, *key, *options);
  return Usage();
}

}  // namespace quorvant::cli
