// Where this component keeps per-user files, and how their directories are
// made. Paths are byte strings handed to the OS unchanged (UTF-8 in practice).
#ifndef QUORVANT_HOST_DATA_PATHS_H_
#define QUORVANT_HOST_DATA_PATHS_H_

#include <sys/types.h>

#include <string>

#include "base/environment.h"

namespace quorvant {

// The per-user data directory, first match wins:
//   1. $QUORVANT_HOME, when set and non-empty;
//   2. $XDG_DATA_HOME/quorvant, when XDG_DATA_HOME is an absolute path (the
//      XDG base-directory rules ignore relative values);
//   3. $HOME/.local/share/quorvant, HOME from the environment or else the
//      effective user's password entry.
// Empty when none of these is known.
std::string UserDataDirectory(const EnvLookup& env);

// Creates `path` and any missing parents, each with exactly `mode` (whatever
// the umask). Directories that already exist are left as they are. False
// with *err = errno when the path cannot be made into a directory (ENOTDIR
// for a non-directory in the way, EINVAL for an empty path). `err` may be
// null.
bool MakeDirectories(const std::string& path, mode_t mode, int* err);

// MakeDirectories with mode 0700, for the user's registry and other files
// nobody else may list or read; an existing final directory owned by the
// effective user is tightened to 0700 as well. A sticky directory (a shared
// one such as /tmp, named by mistake) is never changed.
bool EnsurePrivateDirectory(const std::string& path, int* err);

}  // namespace quorvant

#endif  // QUORVANT_HOST_DATA_PATHS_H_
