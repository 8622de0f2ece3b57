#include "host/shared_memory/shared_memory_object.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <new>

#include "base/environment.h"
#include "base/user_messages.h"
#include "host/system/system_messages.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

// A file name (the part after "/dev/shm/") may have 255 bytes; longer escaped
// names are shortened well below that.
constexpr size_t kMaxEscapedName = 160;
constexpr size_t kKeptPrefix = 96;
constexpr size_t kEventBytes = 4;

uint64_t Fnv1a64(std::string_view text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

bool IsPlain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '.' || c == '-';
}

// Access denied, with a line for the user naming the object: in a shared
// /dev/shm another user may have created our name first.
uint32_t Refuse(const std::string& objectName, const std::string& why) {
  TellUser("refusing to use the shared object " + SharedObjectDirectory() + objectName + ": " +
           why);
  return win32::kErrorAccessDenied;
}

// Opens (creating) one of our objects: a regular file of ours that nobody
// else may open.
uint32_t OpenPrivate(const std::string& objectName, UniqueFd* out) {
  UniqueFd fd(OpenSharedObjectFile(objectName, O_RDWR | O_CREAT, 0600));
  if (!fd.valid()) {
    const int err = errno;
    if (err == EACCES) return Refuse(objectName, "another user holds the name");
    return Win32ErrorFromErrno(err);
  }
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return Win32ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return Refuse(objectName, "it is not a regular file");
  if (st.st_uid != ::geteuid()) {
    return Refuse(objectName, "it belongs to user " + std::to_string(st.st_uid));
  }
  if ((st.st_mode & 077) != 0) return Refuse(objectName, "other users can open it");
  *out = std::move(fd);
  return 0;
}

int FlockRetry(int fd, int operation) {
  int rc;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

bool SameObject(int fd, const std::string& name) {
  UniqueFd again(OpenSharedObjectFile(name, O_RDONLY, 0));
  if (!again.valid()) return false;
  struct stat a{}, b{};
  return ::fstat(fd, &a) == 0 && ::fstat(again.get(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// XDG_RUNTIME_DIR only when it is safe to create names in: an absolute path
// of a real directory of ours with no group or other permissions.
bool UsableRuntimeDirectory(const std::optional<std::string>& dir) {
  if (!dir || dir->empty() || (*dir)[0] != '/') return false;
  struct stat st{};
  if (::lstat(dir->c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

long Futex(uint32_t* word, int op, uint32_t value, const timespec* timeout) {
  return ::syscall(SYS_futex, word, op, value, timeout, nullptr, 0);
}

thread_local int guardDepth = 0;

}  // namespace

std::string SharedObjectDirectory() {
  // Through the environment's one reader (secure_getenv): a set-user-id
  // host must not be steered into another user's folder.
  const std::optional<std::string> runtime = ProcessEnvironmentValue("XDG_RUNTIME_DIR");
  if (UsableRuntimeDirectory(runtime)) {
    std::string dir(*runtime);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
  }
  return "/dev/shm";
}

int OpenSharedObjectFile(const std::string& objectName, int flags, mode_t mode) {
  const std::string path = SharedObjectDirectory() + objectName;
  return ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
}

int RemoveSharedObjectFile(const std::string& objectName) {
  const std::string path = SharedObjectDirectory() + objectName;
  return ::unlink(path.c_str());
}

std::string SharedObjectName(std::string_view kind, std::string_view name) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string escaped;
  escaped.reserve(name.size());
  for (unsigned char c : name) {
    if (IsPlain(c)) {
      escaped.push_back(static_cast<char>(c));
    } else {
      escaped.push_back('_');
      escaped.push_back(kHex[c >> 4]);
      escaped.push_back(kHex[c & 15]);
    }
  }
  if (escaped.size() > kMaxEscapedName) {
    char tail[40];
    std::snprintf(tail, sizeof(tail), "~%016llx-%zx",
                  static_cast<unsigned long long>(Fnv1a64(name)), name.size());
    escaped.resize(kKeptPrefix);
    escaped += tail;
  }
  std::string out = "/quorvant-" + std::to_string(::geteuid()) + "-";
  out.append(kind);
  out += "-";
  out += escaped;
  return out;
}

UserGuard::UserGuard() {
  if (guardDepth > 0) {
    ++guardDepth;
    return;
  }
  char name[48];
  std::snprintf(name, sizeof(name), "/quorvant-%u-guard", static_cast<unsigned>(::geteuid()));
  UniqueFd fd;
  if (const uint32_t status = OpenPrivate(name, &fd)) {
    error_ = status;
    return;
  }
  if (FlockRetry(fd.get(), LOCK_EX) != 0) {
    error_ = Win32ErrorFromErrno(errno);
    return;
  }
  fd_ = std::move(fd);
  outer_ = true;
  ++guardDepth;
}

UserGuard::~UserGuard() {
  if (error_ == 0) --guardDepth;
  // Closing the only descriptor of the open file releases LOCK_EX.
  if (outer_) fd_.reset();
}

SharedObject::~SharedObject() {
  if (!isOpen() && !fd_.valid()) return;
  UserGuard guard;
  close(guard);
}

uint32_t SharedObject::open(const UserGuard& guard, std::string objectName,
                            size_t createSize) {
  if (guard.error() != 0) return guard.error();
  if (isOpen() || fd_.valid()) return win32::kErrorInvalidParameter;
  if (createSize == 0) return win32::kErrorInvalidParameter;
  UniqueFd fd;
  if (const uint32_t status = OpenPrivate(objectName, &fd)) return status;

  size_t length = 0;
  bool fresh = false;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: whatever it holds was left by processes that are gone.
    // Cutting it to zero drops every old page, so the new content is zero.
    if (::ftruncate(fd.get(), 0) != 0 ||
        ::ftruncate(fd.get(), static_cast<off_t>(createSize)) != 0) {
      return Win32ErrorFromErrno(errno);
    }
    // The conversion to LOCK_SH is not atomic (flock(2)); the guard keeps
    // every closer away until it is done.
    if (FlockRetry(fd.get(), LOCK_SH) != 0) return Win32ErrorFromErrno(errno);
    length = createSize;
    fresh = true;
  } else if (errno == EWOULDBLOCK) {
    if (FlockRetry(fd.get(), LOCK_SH) != 0) return Win32ErrorFromErrno(errno);
    struct stat st{};
    if (::fstat(fd.get(), &st) != 0) return Win32ErrorFromErrno(errno);
    if (st.st_size <= 0 || static_cast<uint64_t>(st.st_size) > UINT32_MAX) {
      return win32::kErrorFileCorrupt;
    }
    length = static_cast<size_t>(st.st_size);
  } else {
    return Win32ErrorFromErrno(errno);
  }

  void* map = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (map == MAP_FAILED) return Win32ErrorFromErrno(errno);
  name_ = std::move(objectName);
  fd_ = std::move(fd);
  data_ = static_cast<uint8_t*>(map);
  length_ = length;
  fresh_ = fresh;
  return 0;
}

void SharedObject::close(const UserGuard& guard) {
  if (data_ != nullptr) ::munmap(data_, length_);
  data_ = nullptr;
  length_ = 0;
  // Without the guard a closer could race an opener; it leaves the name, and
  // the next opener finds nobody holding it and starts afresh.
  if (fd_.valid() && guard.error() == 0 && ::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0 &&
      SameObject(fd_.get(), name_)) {
    RemoveSharedObjectFile(name_);
  }
  fd_.reset();
}

NamedEvent::NamedEvent(std::string_view eventName) {
  try {
    UserGuard guard;
    error_ = object_.open(guard, SharedObjectName("e", eventName), kEventBytes);
    if (error_ == 0 && object_.length() < kEventBytes) {
      object_.close(guard);
      error_ = win32::kErrorFileCorrupt;
    }
  } catch (const std::bad_alloc&) {
    error_ = win32::kErrorNotEnoughMemory;
  }
}

uint32_t NamedEvent::sequence() const {
  if (!isOpen()) return 0;
  return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(object_.data()))
      .load(std::memory_order_acquire);
}

void NamedEvent::signal() {
  if (!isOpen()) return;
  uint32_t* word = reinterpret_cast<uint32_t*>(object_.data());
  std::atomic_ref<uint32_t>(*word).fetch_add(1, std::memory_order_acq_rel);
  // Shared (not FUTEX_PRIVATE) so waiters in other processes, which map the
  // same page at other addresses, are found by the page's identity.
  Futex(word, FUTEX_WAKE, INT_MAX, nullptr);
}

bool NamedEvent::waitForChange(uint32_t seen, std::chrono::milliseconds timeout) const {
  if (!isOpen()) return false;
  uint32_t* word = reinterpret_cast<uint32_t*>(object_.data());
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (std::atomic_ref<uint32_t>(*word).load(std::memory_order_acquire) != seen) {
      return true;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return false;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec relative{static_cast<time_t>(ns / 1000000000),
                            static_cast<long>(ns % 1000000000)};
    // Returns at once (EAGAIN) when the word no longer holds `seen`, so a set
    // between the load above and this call is not missed.
    Futex(word, FUTEX_WAIT, seen, &relative);
  }
}

uint32_t NamedEvent::Signal(std::string_view eventName) {
  NamedEvent event(eventName);
  if (!event.isOpen()) return event.lastError();
  event.signal();
  return 0;
}

}  // namespace quorvant
