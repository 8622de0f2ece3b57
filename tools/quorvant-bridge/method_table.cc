#include "method_table.h"

#include <initializer_list>

#include "operation_table.h"

namespace quorvant::bridge {
namespace {

constexpr bool kText = true;
constexpr bool kInt = false;

constexpr MethodInfo Method(std::string_view name, std::string_view exportName, int32_t dispId,
                            bool textResult, std::initializer_list<Param> params) {
  MethodInfo m;
  m.name = name;
  m.exportName = exportName;
  m.dispId = dispId;
  m.textResult = textResult;
  for (const Param& p : params) m.params[m.paramCount++] = p;
  return m;
}

#define T(n) Param{ParamKind::kText, #n}
#define I(n) Param{ParamKind::kInt, #n}
#define QV_UNPAREN(...) __VA_ARGS__
constexpr MethodInfo kMethods[] = {
#define X(Name, ExportName, DispId, Result, Params) \
  Method(#Name, #ExportName, DispId, Result, std::initializer_list<Param>{QV_UNPAREN Params}),
    QUORVANT_OPERATIONS(X)
#undef X
};
#undef QV_UNPAREN
#undef I
#undef T

}  // namespace

std::span<const MethodInfo> MethodTable() { return kMethods; }

const MethodInfo* FindMethod(std::string_view name) {
  for (const MethodInfo& m : kMethods) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

}  // namespace quorvant::bridge
