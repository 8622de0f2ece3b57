// Comparing interface and class identifiers as the binary interface passes
// them (by pointer; null matches nothing).
#ifndef QUORVANT_CONTROL_GUID_H_
#define QUORVANT_CONTROL_GUID_H_

#include <cstring>

#include "QuorvantControl.h"

namespace quorvant::control {

inline bool SameGuid(const GUID* a, const GUID& b) {
  return a != nullptr && std::memcmp(a, &b, sizeof(GUID)) == 0;
}

}  // namespace quorvant::control

#endif  // QUORVANT_CONTROL_GUID_H_
