#include "message.h"

#include <nlohmann/json.hpp>

#include "utf.h"

namespace quorvant::bridge {
namespace {

using nlohmann::json;

ParseOutcome Fail(std::string error, std::optional<int64_t> id = std::nullopt) {
  ParseOutcome out;
  out.error = std::move(error);
  out.id = id;
  return out;
}

std::optional<int64_t> IdOf(const json& value) {
  if (value.is_number_unsigned()) {
    const uint64_t id = value.get<uint64_t>();
    if (id <= static_cast<uint64_t>(kMaxId)) return static_cast<int64_t>(id);
  } else if (value.is_number_integer()) {
    const int64_t id = value.get<int64_t>();
    if (id >= 0 && id <= kMaxId) return id;
  }
  return std::nullopt;
}

bool TypeArgument(const Param& param, const json& value, Argument* out, std::string* error) {
  out->kind = param.kind;
  const std::string name(param.name);
  if (param.kind == ParamKind::kText) {
    if (!value.is_string()) {
      *error = name + " must be a string";
      return false;
    }
    const std::string& utf8 = value.get_ref<const std::string&>();
    if (utf8.find('\0') != std::string::npos) {
      // The component reads text up to its first NUL: the rest would be
      // silently dropped (and a signature made over less than was shown).
      *error = name + " must not contain NUL";
      return false;
    }
    std::optional<std::u16string> text = Utf16FromUtf8(utf8);
    if (!text) {
      *error = name + " is not valid text";
      return false;
    }
    out->text = std::move(*text);
    return true;
  }
  if (value.is_number_unsigned()) {
    const uint64_t n = value.get<uint64_t>();
    if (n <= 0xFFFFFFFFu) {
      out->value = static_cast<int32_t>(static_cast<uint32_t>(n));
      return true;
    }
  } else if (value.is_number_integer()) {
    const int64_t n = value.get<int64_t>();
    if (n >= INT32_MIN && n <= INT32_MAX) {
      out->value = static_cast<int32_t>(n);
      return true;
    }
  }
  *error = name + " must be a 32-bit integer";
  return false;
}

// Duplicate keys are refused: a parser that keeps the first and one that
// keeps the last would disagree on what was asked.
json ParseStrict(std::string_view utf8, bool* duplicate) {
  std::vector<std::vector<std::string>> keys;
  auto callback = [&](int, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
        keys.emplace_back();
        break;
      case json::parse_event_t::object_end:
        if (!keys.empty()) keys.pop_back();
        break;
      case json::parse_event_t::key: {
        const std::string& key = parsed.get_ref<const std::string&>();
        if (!keys.empty()) {
          for (const std::string& seen : keys.back()) {
            if (seen == key) *duplicate = true;
          }
          keys.back().push_back(key);
        }
        break;
      }
      default:
        break;
    }
    return true;
  };
  return json::parse(utf8.begin(), utf8.end(), callback, /*allow_exceptions=*/false,
                     /*ignore_comments=*/false);
}

}  // namespace

ParseOutcome ParseMessage(std::string_view utf8) {
  bool duplicate = false;
  const json doc = ParseStrict(utf8, &duplicate);
  if (doc.is_discarded()) return Fail("malformed JSON");
  if (!doc.is_object()) return Fail("a message is a JSON object");
  if (duplicate) return Fail("duplicate key");

  if (doc.contains("connect")) {
    if (doc.size() != 1 || !doc["connect"].is_string()) return Fail("bad connect message");
    Message m;
    m.kind = Message::kConnect;
    m.origin = doc["connect"].get<std::string>();
    ParseOutcome out;
    out.message = std::move(m);
    return out;
  }

  const auto idIt = doc.find("id");
  if (idIt == doc.end()) return Fail("missing id");
  const std::optional<int64_t> id = IdOf(*idIt);
  if (!id) return Fail("id must be an integer from 0 to 2^53-1");
  for (const auto& [key, value] : doc.items()) {
    if (key != "id" && key != "method" && key != "args") return Fail("unknown key " + key, id);
  }
  const auto methodIt = doc.find("method");
  if (methodIt == doc.end() || !methodIt->is_string()) return Fail("missing method", id);
  const MethodInfo* method = FindMethod(methodIt->get_ref<const std::string&>());
  if (method == nullptr) return Fail("unknown method " + methodIt->get<std::string>(), id);

  const auto argsIt = doc.find("args");
  static const json kNoArgs = json::array();
  const json& args = argsIt == doc.end() ? kNoArgs : *argsIt;
  if (!args.is_array()) return Fail("args must be an array", id);
  if (args.size() != method->paramCount) {
    return Fail(std::string(method->name) + " takes " + std::to_string(method->paramCount) +
                    " argument(s), not " + std::to_string(args.size()),
                id);
  }
  Message m;
  m.kind = Message::kCall;
  m.id = *id;
  m.method = method;
  m.args.resize(method->paramCount);
  for (size_t i = 0; i < method->paramCount; ++i) {
    std::string problem;
    if (!TypeArgument(method->params[i], args[i], &m.args[i], &problem)) {
      return Fail(std::string(method->name) + ": " + problem, id);
    }
  }
  ParseOutcome out;
  out.id = id;
  out.message = std::move(m);
  return out;
}

}  // namespace quorvant::bridge
