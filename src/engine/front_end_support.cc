// What the front ends ask of the engine beyond its operations.
#include "base/result_codes.h"
#include "engine/security_engine.h"

namespace quorvant {

int32_t SecurityEngine::refuseArgument() {
  clearCodes();
  errorCode = rc::kBadArgument;
  return errorCode;
}

}  // namespace quorvant
