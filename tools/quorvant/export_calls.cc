#include "export_calls.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <tuple>
#include <type_traits>

#include "QuorvantATL.h"
#include "operation_table.h"
#include "results.h"

namespace quorvant::cli {
namespace {

template <class T>
struct ArgTraits;
template <>
struct ArgTraits<const OLECHAR*> {
  using Storage = std::u16string;
  static constexpr const char* kName = "text";
  static bool parse(const std::string& in, Storage* out) {
    *out = Utf16FromUtf8(in);
    return true;
  }
  static const OLECHAR* pass(const Storage& s) { return s.c_str(); }
};
template <>
struct ArgTraits<int32_t> {
  using Storage = int32_t;
  static constexpr const char* kName = "int";
  static bool parse(const std::string& in, Storage* out) {
    auto v = ParseInt32(in);
    if (!v) return false;
    *out = *v;
    return true;
  }
  static int32_t pass(Storage s) { return s; }
};

template <class R>
void StoreResult(R result, CallOutcome* outcome) {
  if constexpr (std::is_same_v<R, BSTR>) {
    outcome->textResult = true;
    outcome->text = result == nullptr ? std::string() : Utf8FromUtf16(std::u16string_view(result, SysStringLen(result)));
    SysFreeString(result);
  } else {
    outcome->value = result;
  }
}

template <class R>
constexpr const char* ResultName() {
  return std::is_same_v<R, BSTR> ? "text" : "int";
}

using Invoker = std::function<std::optional<CallOutcome>(const std::vector<std::string>&,
                                                         std::string*)>;
struct Entry {
  std::string signature;
  Invoker invoke;
};

template <class R, class... Args>
Entry MakeEntry(R (*fn)(Args...)) {
  Entry entry;
  entry.signature = std::string(ResultName<R>()) + " (";
  const char* names[] = {ArgTraits<Args>::kName..., ""};
  for (size_t i = 0; i < sizeof...(Args); ++i) {
    if (i > 0) entry.signature += ", ";
    entry.signature += names[i];
  }
  entry.signature += ")";
  entry.invoke = [fn](const std::vector<std::string>& args,
                      std::string* problem) -> std::optional<CallOutcome> {
    if (args.size() != sizeof...(Args)) {
      *problem = "expects " + std::to_string(sizeof...(Args)) + " argument(s)";
      return std::nullopt;
    }
    std::tuple<typename ArgTraits<Args>::Storage...> storage;
    bool ok = true;
    size_t index = 0;
    std::apply(
        [&](auto&... slot) {
          ((ok = ok && ArgTraits<Args>::parse(args[index++], &slot)), ...);
        },
        storage);
    if (!ok) {
      *problem = "an integer argument is not a 32-bit number";
      return std::nullopt;
    }
    CallOutcome outcome;
    std::apply(
        [&](auto&... slot) { StoreResult<R>(fn(ArgTraits<Args>::pass(slot)...), &outcome); },
        storage);
    return outcome;
  };
  return entry;
}

const std::map<std::string_view, Entry>& Table() {
  static const std::map<std::string_view, Entry> table = {
#define X(Name, Export, DispId, Result, Params) {#Export, MakeEntry(&::Export)},
      QUORVANT_OPERATIONS(X)
#undef X
  };
  return table;
}

}  // namespace

const std::vector<ExportInfo>& ExportList() {
  static const std::vector<ExportInfo> list = [] {
    std::vector<ExportInfo> out;
    for (const auto& [name, entry] : Table()) out.push_back({name, entry.signature});
    return out;
  }();
  return list;
}

std::optional<CallOutcome> CallExport(std::string_view name,
                                      const std::vector<std::string>& args,
                                      std::string* problem) {
  auto it = Table().find(name);
  if (it == Table().end()) {
    *problem = "no export named " + std::string(name);
    return std::nullopt;
  }
  std::optional<CallOutcome> outcome = it->second.invoke(args, problem);
  if (!outcome) *problem = std::string(name) + " " + *problem + ": " + it->second.signature;
  return outcome;
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  std::string s(text);
  if (s.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  long long v = hex ? static_cast<long long>(std::strtoull(s.c_str() + 2, &end, 16))
                    : std::strtoll(s.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') return std::nullopt;
  if (hex ? (v < 0 || v > 0xFFFFFFFFLL) : (v < INT32_MIN || v > INT32_MAX)) {
    return std::nullopt;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

}  // namespace quorvant::cli
