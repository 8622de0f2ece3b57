// What the engine does for the Java front end beyond the operations.
#include "base/result_codes.h"
#include "engine/security_engine.h"

namespace quorvant {

int32_t SecurityEngine::refuseUnrepresentableArgument() {
  clearCodes();
  errorCode = rc::kBadArgument;
  return errorCode;
}

}  // namespace quorvant
