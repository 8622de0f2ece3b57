// Where this component keeps per-user files, and how their directories are
// made. Paths are byte strings handed to the OS unchanged (UTF-8 in practice).
#ifndef QUORVANT_HOST_DATA_PATHS_H_
#define QUORVANT_HOST_DATA_PATHS_H_

#include <sys/types.h>

#include <string>

#include "base/environment.h"
#include "base/unique_fd.h"

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

// Who may own a directory or file the component keeps its data in.
enum class DataOwner {
  kUser,        // the effective user only: the per-user data and its files
  kUserOrRoot,  // root as well: the machine-wide registry
};

// MakeDirectories with mode 0700, for the user's registry, certificate
// stores and keys, which nobody else may list or read. The final directory
// must then be a real directory (not a symbolic link), owned by the
// effective user and writable by nobody else; otherwise it is refused with
// *err = EACCES and a message naming the path (TellUser). One of the user's
// own that others may only read or list is tightened to 0700.
bool EnsurePrivateDirectory(const std::string& path, int* err);

// MakeDirectories with mode 0755 for the machine-wide registry: the final
// directory must be a real directory owned by the user or root and
// writable by nobody else, or it is refused as above.
bool EnsureMachineDirectory(const std::string& path, int* err);

// Opens a data file in a directory checked above: never through a symbolic
// link, only a regular file owned by `owner` that no one else may write;
// others are refused with *err = EACCES and a message naming the path. With
// `createMode` non-zero the file is created when missing, with exactly that
// mode whatever the umask, and a file of the user's own with looser
// permissions is tightened to it. `flags` are open(2)'s access flags
// (O_RDONLY or O_RDWR). ENOENT when it is missing and not to be created.
bool OpenDataFile(const std::string& path, int flags, mode_t createMode, DataOwner owner,
                  UniqueFd* fd, int* err);

// SQLite keeps journals beside a database (-wal, -shm, -journal) and opens
// them itself: each one present must pass OpenDataFile's checks, so no
// planted link or another user's file is written through. True when all
// pass or none exists.
bool CheckDatabaseSideFiles(const std::string& databasePath, DataOwner owner, int* err);

}  // namespace quorvant

#endif  // QUORVANT_HOST_DATA_PATHS_H_
