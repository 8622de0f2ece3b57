// The component's one reader of the process environment. Everything else
// takes an EnvLookup, so tests describe any environment without touching
// the process's own.
#ifndef QUORVANT_BASE_ENVIRONMENT_H_
#define QUORVANT_BASE_ENVIRONMENT_H_

#include <functional>
#include <optional>
#include <string>

namespace quorvant {

// Reads one environment variable; nullopt when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const char*)>;

// One variable of the process environment. secure_getenv: a set-user-ID or
// set-group-ID process ignores its caller's environment, so the caller
// cannot redirect where it keeps its files or which helper it runs.
std::optional<std::string> ProcessEnvironmentValue(const char* name);

// ProcessEnvironmentValue as a lookup.
EnvLookup ProcessEnvironment();

}  // namespace quorvant

#endif  // QUORVANT_BASE_ENVIRONMENT_H_
