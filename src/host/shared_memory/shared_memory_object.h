// Named POSIX shared memory objects private to the user, with a lifetime that
// survives crashed holders, and the named events built on them. The design is
// described at the top of shared_memory.cc.
#ifndef QUORVANT_HOST_SHARED_MEMORY_OBJECT_H_
#define QUORVANT_HOST_SHARED_MEMORY_OBJECT_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace quorvant {

// "/quorvant-<uid>-<kind>-<name>" with every byte of `name` outside
// [A-Za-z0-9.-] written as "_" and two hex digits, so distinct names give
// distinct objects and a name can hold any bytes; names too long for the
// file system keep an escaped prefix and end in "~" and a hash of the whole.
std::string SharedObjectName(std::string_view kind, std::string_view name);

// Where the user's objects live: $XDG_RUNTIME_DIR when it is a directory of
// this user that nobody else can enter (a name there cannot be created or
// taken by another user), else the system's shared-memory folder, where any
// object of ours found owned by someone else is refused. Decided at each
// call, from the process environment.
std::string SharedObjectDirectory();
// open(2) and unlink(2) of an object name of SharedObjectName in that
// directory, never following a symbolic link; -1 / errno on failure.
int OpenSharedObjectFile(const std::string& objectName, int flags, mode_t mode);
int RemoveSharedObjectFile(const std::string& objectName);

// Serialises every creation and removal of the user's objects: LOCK_EX on the
// descriptor of "/quorvant-<uid>-guard" (never removed) for the guard's life.
// Re-entrant within a thread: an inner guard borrows the outer one.
class UserGuard {
 public:
  UserGuard();
  ~UserGuard();
  UserGuard(const UserGuard&) = delete;
  UserGuard& operator=(const UserGuard&) = delete;

  // 0 when the guard is held, else the system error number.
  uint32_t error() const { return error_; }

 private:
  UniqueFd fd_;
  uint32_t error_ = 0;
  bool outer_ = false;
};

// One mapped object. While open, the holder keeps LOCK_SH on its descriptor,
// which counts it among the object's users; the kernel drops that lock when
// the process dies, however it dies.
class SharedObject {
 public:
  SharedObject() = default;
  // Closes under a guard of its own.
  ~SharedObject();
  SharedObject(const SharedObject&) = delete;
  SharedObject& operator=(const SharedObject&) = delete;

  // Opens or creates `objectName`. An object no live process holds counts as
  // new, even when a crashed holder left it behind: it is cut to zero and
  // re-sized to `createSize` bytes, all zero, and fresh() is true. An existing
  // object is mapped at its current size. Refuses (ERROR_ACCESS_DENIED) an
  // object that is not a regular file of this user without group or other
  // permissions. Returns 0 or a system error number.
  uint32_t open(const UserGuard& guard, std::string objectName, size_t createSize);
  // Unmaps; when no other holder remains, removes the name as well.
  void close(const UserGuard& guard);

  bool isOpen() const { return data_ != nullptr; }
  bool fresh() const { return fresh_; }
  uint8_t* data() const { return data_; }
  size_t length() const { return length_; }

 private:
  std::string name_;
  UniqueFd fd_;
  uint8_t* data_ = nullptr;
  size_t length_ = 0;
  bool fresh_ = false;
};

// A named event another process can wait on: a shared object
// "/quorvant-<uid>-e-<name>" holding a 32-bit sequence word. Setting the event
// increments the word and wakes every waiter (FUTEX_WAKE on the shared word);
// a waiter remembers the word and sleeps (FUTEX_WAIT) until it differs. Like a
// manual-reset event that nobody resets, every waiter that read the word
// before a set sees that set. The object lives while some process holds it
// open (the scheme of SharedObject): a waiter keeps it alive, and a set that
// nobody waits for vanishes with the setter's handle, as a kernel event
// object does when its last handle is closed.
class NamedEvent {
 public:
  explicit NamedEvent(std::string_view eventName);
  ~NamedEvent() = default;
  NamedEvent(const NamedEvent&) = delete;
  NamedEvent& operator=(const NamedEvent&) = delete;

  bool isOpen() const { return object_.isOpen(); }
  uint32_t lastError() const { return error_; }

  // The sequence word now (0 when not open).
  uint32_t sequence() const;
  void signal();
  // True as soon as the word differs from `seen`; false after `timeout`.
  bool waitForChange(uint32_t seen, std::chrono::milliseconds timeout) const;

  // Opens or creates the event, sets it and closes it again, as the store
  // does after each change. 0 or a system error number.
  static uint32_t Signal(std::string_view eventName);

 private:
  SharedObject object_;
  uint32_t error_ = 0;
};

}  // namespace quorvant

#endif  // QUORVANT_HOST_SHARED_MEMORY_OBJECT_H_
