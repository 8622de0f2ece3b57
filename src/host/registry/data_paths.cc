#include "host/registry/data_paths.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>
#include <vector>

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
  // Work on a descriptor so the checks and the chmod concern one object.
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(err, errno);
  struct stat st;
  int code = 0;
  if (fstat(fd, &st) != 0) {
    code = errno;
  } else if (st.st_uid == geteuid() && (st.st_mode & S_ISVTX) == 0 &&
             (st.st_mode & 07777) != kPrivate && fchmod(fd, kPrivate) != 0) {
    code = errno;
  }
  close(fd);
  return code == 0 ? true : Fail(err, code);
}

}  // namespace quorvant
