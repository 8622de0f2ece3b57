#include "base/environment.h"

#include <stdlib.h>

namespace quorvant {

std::optional<std::string> ProcessEnvironmentValue(const char* name) {
  // getenv's result stays valid only until the next change of the
  // environment, so it is copied at once.
  const char* value = ::secure_getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

EnvLookup ProcessEnvironment() { return ProcessEnvironmentValue; }

}  // namespace quorvant
