// The messages between the extension and the host, one JSON object a frame:
//
//   {"connect": "https://bank.example"}       first, from the service worker,
//                                             with the page's origin as the
//                                             browser reported it
//   {"id": 7, "method": "Hash", "args": ["abc", 3]}
//
// Parsing is strict: one object, no duplicate or unknown keys, an id that is
// a non-negative integer, a method of the table, exactly its number of
// arguments, text as JSON strings (no NUL) and integers as JSON integers in
// the 32-bit range (0x80000000 to 0xFFFFFFFF are taken as their signed
// values, as a script's flags are).
#ifndef QUORVANT_BRIDGE_MESSAGE_H_
#define QUORVANT_BRIDGE_MESSAGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "method_table.h"

namespace quorvant::bridge {

struct Argument {
  ParamKind kind = ParamKind::kInt;
  std::u16string text;  // kText
  int32_t value = 0;    // kInt
};

struct Message {
  enum Kind { kConnect, kCall } kind = kCall;
  std::string origin;                 // kConnect
  int64_t id = 0;                     // kCall
  const MethodInfo* method = nullptr; // kCall
  std::vector<Argument> args;         // kCall, typed by the method's table
};

struct ParseOutcome {
  std::optional<Message> message;
  std::string error;          // when there is no message
  std::optional<int64_t> id;  // the request's id, when it could be read
};

ParseOutcome ParseMessage(std::string_view utf8);

// The longest id a reply can carry: the integers a script's number keeps exactly.
inline constexpr int64_t kMaxId = (int64_t{1} << 53) - 1;

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_MESSAGE_H_
