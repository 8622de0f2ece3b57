// Join("k", std::to_string(i)): text pieces appended in order.
//
// GCC 12 at -O3 reports impossible overflows in `"literal" + std::string`
// (it cannot bound the insert at offset 0 that operator+ performs);
// appending to a new string takes a path it reads correctly.
#ifndef QUORVANT_TESTS_SUPPORT_JOIN_H_
#define QUORVANT_TESTS_SUPPORT_JOIN_H_

#include <string>
#include <string_view>

namespace quorvant {

template <class... Parts>
std::string Join(const Parts&... parts) {
  std::string out;
  (out.append(std::string_view(parts)), ...);
  return out;
}

}  // namespace quorvant

#endif  // QUORVANT_TESTS_SUPPORT_JOIN_H_
