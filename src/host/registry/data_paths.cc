#include "host/registry/data_paths.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>
#include <vector>

#include "base/user_messages.h"

namespace quorvant {
namespace {

std::optional<std::string> NonEmpty(const EnvLookup& env, const char* name) {
  if (!env) return std::nullopt;
  std::optional<std::string> value = env(name);
  if (value && value->empty()) return std::nullopt;
  return value;
}

// The home directory from the password database, for processes started
// without HOME (system services, some sandboxes).
std::optional<std::string> PasswordHome() {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t size = hint > 0 ? static_cast<size_t>(hint) : 1024;
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::vector<char> buffer(size);
    struct passwd entry;
    struct passwd* found = nullptr;
    int rc =
        getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE) {
      size *= 2;
      continue;
    }
    if (rc != 0 || found == nullptr || found->pw_dir == nullptr ||
        found->pw_dir[0] == '\0') {
      return std::nullopt;
    }
    return std::string(found->pw_dir);
  }
  return std::nullopt;
}

std::string JoinPath(std::string base, const char* tail) {
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base != "/") base += '/';
  base += tail;
  return base;
}

bool Fail(int* err, int code) {
  if (err != nullptr) *err = code;
  return false;
}

// A trailing slash would make the kernel follow a final symbolic link.
std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string OctalMode(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool Refuse(const std::string& path, const std::string& why, int* err) {
  TellUser("refusing to use " + path + ": " + why);
  return Fail(err, EACCES);
}

// Opens `path` without following a final symbolic link and checks what was
// opened (the descriptor, so the checks and a chmod concern one object):
// its type, its owner, that nobody else may write it. `tighten`, when not
// zero, is the mode a user's own object with other bits set is given.
bool OpenChecked(const std::string& path, int flags, mode_t createMode, DataOwner owner,
                 mode_t tighten, UniqueFd* out, int* err) {
  const bool directory = (flags & O_DIRECTORY) != 0;
  const int openFlags = flags | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool created = false;
  UniqueFd fd;
  if (createMode != 0) {
    fd.reset(::open(path.c_str(), openFlags | O_CREAT | O_EXCL, createMode));
    created = fd.valid();
  }
  if (!fd.valid() && (createMode == 0 || errno == EEXIST)) {
    fd.reset(::open(path.c_str(), openFlags));
  }
  if (!fd.valid()) {
    const int code = errno;
    // O_NOFOLLOW meets a link as ELOOP, O_DIRECTORY a link to a directory
    // as ENOTDIR, O_EXCL any link as EEXIST: say what is there.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      return Refuse(path, "it is a symbolic link", err);
    }
    return Fail(err, code);
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) return Fail(err, errno);
  if (directory ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    return Refuse(path, directory ? "it is not a directory" : "it is not a regular file", err);
  }
  const uid_t me = ::geteuid();
  if (st.st_uid != me && !(owner == DataOwner::kUserOrRoot && st.st_uid == 0)) {
    return Refuse(path, "it belongs to user " + std::to_string(st.st_uid) + ", not to user " +
                            std::to_string(me),
                  err);
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return Refuse(path, "other users can write to it (mode " + OctalMode(st.st_mode) + ")",
                  err);
  }
  // A new file gets exactly its mode (open applied the umask); one of the
  // user's own that others may read is made private.
  const bool loose = owner == DataOwner::kUser && (st.st_mode & 077) != 0;
  if (tighten != 0 && st.st_uid == me && (created || loose) &&
      (st.st_mode & 07777) != tighten && ::fchmod(fd.get(), tighten) != 0) {
    return Fail(err, errno);
  }
  // The non-blocking open only kept a FIFO from stalling the check.
  const int status = ::fcntl(fd.get(), F_GETFL);
  if (status >= 0) static_cast<void>(::fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK));
  *out = std::move(fd);
  return true;
}

}  // namespace

std::string UserDataDirectory(const EnvLookup& env) {
  try {
    if (auto home = NonEmpty(env, "QUORVANT_HOME")) return *home;
    if (auto xdg = NonEmpty(env, "XDG_DATA_HOME"); xdg && (*xdg)[0] == '/') {
      return JoinPath(*xdg, "quorvant");
    }
    std::optional<std::string> home = NonEmpty(env, "HOME");
    if (!home) home = PasswordHome();
    if (!home) return std::string();
    return JoinPath(*home, ".local/share/quorvant");
  } catch (const std::bad_alloc&) {
    return std::string();
  }
}

bool MakeDirectories(const std::string& path, mode_t mode, int* err) {
  if (path.empty()) return Fail(err, EINVAL);
  try {
    // Walk every prefix ending before a '/', then the whole path. mkdir is
    // tried first rather than stat, so two processes racing to create the
    // same tree both succeed (the loser just sees EEXIST).
    for (size_t i = 1; i <= path.size(); ++i) {
      if (i < path.size() && path[i] != '/') continue;
      if (path[i - 1] == '/') continue;  // "a//b" or a trailing slash
      std::string prefix = path.substr(0, i);
      if (mkdir(prefix.c_str(), mode) == 0) {
        // mkdir applies the umask; the mode asked for is what we want.
        if (chmod(prefix.c_str(), mode) != 0) return Fail(err, errno);
      } else if (errno != EEXIST) {
        return Fail(err, errno);
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(err, ENOMEM);
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return Fail(err, errno);
  if (!S_ISDIR(st.st_mode)) return Fail(err, ENOTDIR);
  return true;
}

bool EnsurePrivateDirectory(const std::string& path, int* err) {
  constexpr mode_t kPrivate = 0700;
  if (!MakeDirectories(path, kPrivate, err)) return false;
  UniqueFd fd;
  return OpenChecked(WithoutTrailingSlashes(path), O_RDONLY | O_DIRECTORY, 0, DataOwner::kUser,
                     kPrivate, &fd, err);
}

bool EnsureMachineDirectory(const std::string& path, int* err) {
  if (!MakeDirectories(path, 0755, err)) return false;
  UniqueFd fd;
  return OpenChecked(WithoutTrailingSlashes(path), O_RDONLY | O_DIRECTORY, 0,
                     DataOwner::kUserOrRoot, 0, &fd, err);
}

bool OpenDataFile(const std::string& path, int flags, mode_t createMode, DataOwner owner,
                  UniqueFd* fd, int* err) {
  return OpenChecked(path, flags, createMode, owner, createMode, fd, err);
}

bool CheckDatabaseSideFiles(const std::string& databasePath, DataOwner owner, int* err) {
  try {
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
      const std::string side = databasePath + suffix;
      UniqueFd fd;
      int code = 0;
      if (!OpenChecked(side, O_RDONLY, 0, owner, 0, &fd, &code) && code != ENOENT) {
        return Fail(err, code);
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(err, ENOMEM);
  }
  return true;
}

}  // namespace quorvant
