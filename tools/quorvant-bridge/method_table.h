// The methods a page may name: exactly the automation interface's, built from
// the one operation table, with their DISPIDs and parameter kinds. Every
// request is checked against it before anything is called.
#ifndef QUORVANT_BRIDGE_METHOD_TABLE_H_
#define QUORVANT_BRIDGE_METHOD_TABLE_H_

#include <cstdint>
#include <span>
#include <string_view>

namespace quorvant::bridge {

enum class ParamKind : uint8_t { kText, kInt };

inline constexpr size_t kMaxParams = 7;

struct Param {
  ParamKind kind = ParamKind::kInt;
  std::string_view name;
};

struct MethodInfo {
  std::string_view name;        // the automation method
  std::string_view exportName;  // the flat export of the same operation
  int32_t dispId = 0;
  bool textResult = false;
  size_t paramCount = 0;
  Param params[kMaxParams] = {};
};

std::span<const MethodInfo> MethodTable();
// The method of that name (exact case, as GetIDsOfNames of a script engine
// would be asked); null for any other name.
const MethodInfo* FindMethod(std::string_view name);

}  // namespace quorvant::bridge

#endif  // QUORVANT_BRIDGE_METHOD_TABLE_H_
