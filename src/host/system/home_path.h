// The user's home folder as the engine computes it once, at construction.
#ifndef QUORVANT_HOST_HOME_PATH_H_
#define QUORVANT_HOST_HOME_PATH_H_

#include <string>

#include "host/system/services.h"

namespace quorvant {

// Systems of major version 4 and below: the drive of the Windows directory
// followed by "\My Documents". Later systems: the USERPROFILE variable (up to
// 254 bytes of narrow text; longer counts as unset). On Linux, where
// USERPROFILE is normally unset, the user's home directory (HOME) stands in
// for it so that a Linux user gets a real folder. Narrow text in the
// component's code page.
std::string ComputeUserHomePath(const OsVersionInfo& osVersion, const EnvLookup& environment);

}  // namespace quorvant

#endif  // QUORVANT_HOST_HOME_PATH_H_
