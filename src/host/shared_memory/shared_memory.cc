// The property store on Linux.
//
// Objects. Every instance of the store named N under user U maps two POSIX
// shared memory objects, both mode 0600 and refused unless owned by U with no
// group or other permission bits:
//   "/quorvant-U-s-N"  the section itself, byte for byte the table of
//                      host/shared_memory/shared_memory_table.h and
//                      nothing else;
//   "/quorvant-U-l-N"  a LockBlock: a magic word, a "changing" word and a
//                      pthread mutex (PTHREAD_PROCESS_SHARED, ROBUST,
//                      ERRORCHECK) that every operation holds.
// N is escaped so that any bytes make a valid, distinct object name (see
// SharedObjectName). Events are objects of their own ("/quorvant-U-e-<event
// name>", see NamedEvent).
//
// Lifetime. POSIX objects live until unlinked, whereas the store must vanish
// with its last user even if that user crashed. Every instance therefore
// keeps LOCK_SH (flock(2), which works on shm descriptors: they are tmpfs
// files) on the descriptor of each object it maps; the kernel drops it when
// the process dies. Whoever can take LOCK_EX | LOCK_NB on an object knows no
// live process holds it:
//   - an opener that gets LOCK_EX truncates the object to zero and back to its
//     size (fresh, all zero), initialises it (the creator writes the size word;
//     the lock's creator initialises the mutex, then publishes the magic word),
//     and converts to LOCK_SH; it reports created() true. An opener that is
//     refused takes LOCK_SH and attaches (created() false), after checking the
//     magic word and that the size word lies within the object's real size.
//   - a closer unmaps and tries LOCK_EX | LOCK_NB; if it gets it, it was the
//     last holder and unlinks the name (after checking that the name still
//     denotes its object).
// flock conversions are not atomic, and "open the name, then lock" against
// "lock, then unlink the name" is the classic lock-file race: an opener could
// attach to an object the last closer is about to unlink, or lock an object
// already unlinked. Both are excluded by one more lock: every open and every
// close runs under LOCK_EX on "/quorvant-U-guard" (UserGuard), an empty object
// that is never unlinked. Within the guard, the name always denotes the object
// the holders hold, and a holder count of zero cannot change. The guard is
// held for a few system calls only, and never while waiting for a store's
// mutex, so the two locks cannot deadlock. A crash inside the guard releases
// it; a crash between unlinking the section and the lock object leaves the
// latter unheld, and the next opener re-initialises it.
//
// Serialisation. Each operation holds the robust mutex from its first read of
// the table to its last write; events are set after it is released. The lock
// is waited for at most lockTimeout (ERROR_TIMEOUT after that), so a process
// that stops while holding it cannot hang every browser of the user. A holder
// that dies makes the next locker see EOWNERDEAD: it marks the mutex
// consistent and looks at the "changing" word, which a writer sets before its
// first write to the table and clears after its last. If it is clear, the dead
// holder only read, and the table stands. If it is set, the table may be
// half-rewritten (a record half-moved by a delete can still pass every
// structural check), so it is reset to empty, the store-wide event is set to
// tell readers to publish again, and the operation proceeds on the empty table.
//
// Untrusted contents. Any process of the user can write the section without
// taking the lock. Every walk over the records is bounds-checked against the
// mapping (never against the size word, which is checked against the object's
// real size once, when attaching) and reads each header into a local before
// using it; a table that does not fit fails the operation with
// ERROR_FILE_CORRUPT (1392) and nothing is written. Such a table stays as it is
// (the store cannot tell a foreign writer from a bug); the next writer that
// dies holding the lock, or the last closer, clears it. A process of the user
// that truncates the object under us makes our accesses fault; it could as
// well ptrace us, so the store defends against stray bytes, not against the
// user's own processes.
//
// Forked children inherit descriptors, and flock locks belong to the open file
// description: a child does not count as a holder of its own. A child that
// uses the store constructs its own instance.
#include "host/shared_memory/shared_memory.h"

#include <pthread.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

#include "encoding/byte_order.h"
#include "encoding/code_page.h"
#include "host/shared_memory/shared_memory_object.h"
#include "host/shared_memory/shared_memory_table.h"
#include "host/system/system_messages.h"
#include "base/win32_errors.h"

namespace quorvant {
namespace {

// An integer value as the store keeps it: 4 bytes, little-endian.
std::array<uint8_t, 4> IntValueBytes(int32_t value) {
  std::array<uint8_t, 4> bytes;
  StoreLe32(bytes.data(), static_cast<uint32_t>(value));
  return bytes;
}

constexpr uint32_t kLockMagic = 0x4B4C5651;  // "QVLK"
constexpr size_t kMaxKeyChars = 39;

struct LockBlock {
  uint32_t magic;     // kLockMagic once the mutex is initialised
  uint32_t changing;  // 1 while a holder is rewriting the table
  pthread_mutex_t mutex;
};

std::atomic_ref<uint32_t> Word(uint32_t& word) { return std::atomic_ref<uint32_t>(word); }

uint32_t InitMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attr;
  int rc = ::pthread_mutexattr_init(&attr);
  if (rc != 0) return Win32ErrorFromErrno(rc);
  rc = ::pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  if (rc == 0) rc = ::pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  if (rc == 0) rc = ::pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  if (rc == 0) rc = ::pthread_mutex_init(mutex, &attr);
  ::pthread_mutexattr_destroy(&attr);
  return rc == 0 ? 0 : Win32ErrorFromErrno(rc);
}


std::string_view UpToZero(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

}  // namespace

struct cSharedMemory::State {
  SharedObject section;
  SharedObject lock;
  LockBlock* block = nullptr;
  KeyConverter convert;
  std::chrono::milliseconds lockTimeout = kDefaultLockTimeout;

  SharedTable table(uint32_t size) const {
    return SharedTable(std::span<uint8_t>(section.data(), size));
  }
};

// Holds the store's mutex for its life. After the release it sets the
// store-wide event when it had to clear a table left half-written.
class cSharedMemory::StoreLock {
 public:
  explicit StoreLock(cSharedMemory& store) : store_(store) {
    State& state = *store.state_;
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    const auto ms = state.lockTimeout.count();
    deadline.tv_sec += static_cast<time_t>(ms / 1000);
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000;
    }
    int rc = ::pthread_mutex_clocklock(&state.block->mutex, CLOCK_MONOTONIC, &deadline);
    if (rc == EOWNERDEAD) {
      if (Word(state.block->changing).load(std::memory_order_acquire) != 0) {
        state.table(store.size_).reset(store.size_);
        Word(state.block->changing).store(0, std::memory_order_release);
        recovered_ = true;
      }
      rc = ::pthread_mutex_consistent(&state.block->mutex);
      // We own the mutex even if it could not be marked consistent.
      if (rc != 0) ::pthread_mutex_unlock(&state.block->mutex);
    }
    switch (rc) {
      case 0:
        locked_ = true;
        break;
      case ETIMEDOUT:
        status_ = win32::kErrorTimeout;
        break;
      case EDEADLK:
        status_ = win32::kErrorPossibleDeadlock;
        break;
      case ENOTRECOVERABLE:
        status_ = win32::kErrorFileCorrupt;
        break;
      default:
        status_ = Win32ErrorFromErrno(rc);
        break;
    }
  }

  ~StoreLock() {
    if (!locked_) return;
    ::pthread_mutex_unlock(&store_.state_->block->mutex);
    if (recovered_) store_.signalEvent(store_.name_);
  }

  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  uint32_t status() const { return status_; }

  // Brackets the writes of one change, so that a holder dying in between is
  // recognised by the next one.
  void beginChange() {
    Word(store_.state_->block->changing).store(1, std::memory_order_release);
  }
  void endChange() {
    Word(store_.state_->block->changing).store(0, std::memory_order_release);
  }

 private:
  cSharedMemory& store_;
  uint32_t status_ = 0;
  bool locked_ = false;
  bool recovered_ = false;
};

cSharedMemory::cSharedMemory(std::string_view name, uint32_t size, KeyConverter convert) {
  try {
    name_.assign(UpToZero(name));
    state_ = std::make_unique<State>();
    state_->convert = std::move(convert);
    if (size < SharedTable::kHeaderBytes) {
      fail(win32::kErrorInvalidParameter);
      return;
    }
    UserGuard guard;
    uint32_t status = guard.error();
    if (status == 0) {
      status = state_->section.open(guard, SharedObjectName("s", name_), size);
    }
    if (status == 0) {
      status = state_->lock.open(guard, SharedObjectName("l", name_), sizeof(LockBlock));
    }
    if (status == 0) {
      auto* block = reinterpret_cast<LockBlock*>(state_->lock.data());
      if (state_->lock.fresh()) {
        status = InitMutex(&block->mutex);
        if (status == 0) Word(block->magic).store(kLockMagic, std::memory_order_release);
      } else if (state_->lock.length() < sizeof(LockBlock) ||
                 Word(block->magic).load(std::memory_order_acquire) != kLockMagic) {
        status = win32::kErrorFileCorrupt;
      }
      state_->block = block;
    }
    if (status == 0) {
      if (state_->section.fresh()) {
        created_ = true;
        size_ = size;
        state_->table(size_).reset(size_);
      } else {
        created_ = false;
        const size_t length = state_->section.length();
        const uint32_t word =
            length < SharedTable::kHeaderBytes ? 0 : LoadLe32(state_->section.data() + 4);
        if (word < SharedTable::kHeaderBytes || word > length) {
          status = win32::kErrorFileCorrupt;
        } else {
          size_ = word;
        }
      }
    }
    if (status != 0) {
      state_->lock.close(guard);
      state_->section.close(guard);
      state_->block = nullptr;
      size_ = 0;
      fail(status);
      return;
    }
    open_ = true;
    lastError_ = 0;
  } catch (const std::bad_alloc&) {
    fail(win32::kErrorNotEnoughMemory);
  }
}

cSharedMemory::~cSharedMemory() {
  if (!state_) return;
  UserGuard guard;
  state_->lock.close(guard);
  state_->section.close(guard);
}

bool cSharedMemory::fail(uint32_t error) {
  lastError_.store(static_cast<int32_t>(error), std::memory_order_relaxed);
  return false;
}

bool cSharedMemory::succeed() {
  lastError_.store(0, std::memory_order_relaxed);
  return true;
}

uint32_t cSharedMemory::convertKey(std::string_view key, std::u16string* out) const {
  try {
    const std::string_view narrow = UpToZero(key);
    uint32_t error = 0;
    const bool ok = state_->convert ? state_->convert(narrow, out, &error)
                                    : WideFromNarrow(narrow, out, &error);
    if (!ok) return error != 0 ? error : win32::kErrorNoUnicodeTranslation;
    const size_t zero = out->find(u'\0');
    if (zero != std::u16string::npos) out->resize(zero);
    return 0;
  } catch (const std::bad_alloc&) {
    return win32::kErrorNotEnoughMemory;
  } catch (...) {
    return win32::kErrorGenFailure;
  }
}

void cSharedMemory::signalEvent(std::string_view prefix) const {
  try {
    std::string eventName(UpToZero(prefix));
    eventName += "_Event";
    NamedEvent::Signal(eventName);
  } catch (const std::bad_alloc&) {
    // Nobody in the component waits on the events; a lost one is harmless.
  }
}

bool cSharedMemory::KeyExists(std::string_view key) {
  if (!open_) return fail(win32::kErrorObjectNotFound);
  std::u16string wide;
  if (const uint32_t status = convertKey(key, &wide)) return fail(status);
  StoreLock lock(*this);
  if (lock.status() != 0) return fail(lock.status());
  SharedTable::Record record;
  const uint32_t status = state_->table(size_).find(wide, &record);
  if (status == win32::kErrorFileNotFound) {
    succeed();
    return false;
  }
  return status == 0 ? succeed() : fail(status);
}

bool cSharedMemory::GetValue(std::string_view key, void* buffer, uint32_t* length) {
  if (!open_) return fail(win32::kErrorObjectNotFound);
  if (length == nullptr) return fail(win32::kErrorInvalidParameter);
  std::u16string wide;
  if (const uint32_t status = convertKey(key, &wide)) return fail(status);
  StoreLock lock(*this);
  if (lock.status() != 0) return fail(lock.status());
  const uint32_t status = state_->table(size_).read(wide, buffer, length);
  return status == 0 ? succeed() : fail(status);
}

int32_t cSharedMemory::GetIntValue(std::string_view key, int32_t defaultValue) {
  uint8_t bytes[4] = {};
  uint32_t length = sizeof(bytes);
  if (!GetValue(key, bytes, &length)) return defaultValue;
  return static_cast<int32_t>(LoadLe32(bytes));
}

bool cSharedMemory::SetValue(std::string_view key, const void* bytes, uint32_t length) {
  return changeValue(key, bytes, length, /*append=*/false);
}

bool cSharedMemory::SetIntValue(std::string_view key, int32_t value) {
  const std::array<uint8_t, 4> bytes = IntValueBytes(value);
  return SetValue(key, bytes.data(), bytes.size());
}

bool cSharedMemory::AddValue(std::string_view key, uint32_t length, const void* bytes) {
  return changeValue(key, bytes, length, /*append=*/true);
}

// SetValue replaces the key's entry and sets the key's event; AddValue puts
// one more entry after the others (keys it adds are limited to
// kMaxKeyChars) and sets the store's.
bool cSharedMemory::changeValue(std::string_view key, const void* bytes, uint32_t length,
                                bool append) {
  if (!open_) return fail(win32::kErrorObjectNotFound);
  if (length == 0) return fail(win32::kErrorBadLength);
  if (bytes == nullptr) return fail(win32::kErrorInvalidParameter);
  std::u16string wide;
  if (const uint32_t status = convertKey(key, &wide)) return fail(status);
  if (append && wide.size() > kMaxKeyChars) return fail(win32::kRpcSStringTooLong);
  const std::span<const uint8_t> value(static_cast<const uint8_t*>(bytes), length);
  uint32_t status;
  {
    StoreLock lock(*this);
    if (lock.status() != 0) return fail(lock.status());
    lock.beginChange();
    status = append ? state_->table(size_).append(wide, value)
                    : state_->table(size_).replace(wide, value);
    lock.endChange();
  }
  if (status != 0) return fail(status);
  signalEvent(append ? std::string_view(name_) : key);
  return succeed();
}

bool cSharedMemory::AddIntValue(std::string_view key, int32_t value) {
  const std::array<uint8_t, 4> bytes = IntValueBytes(value);
  return AddValue(key, bytes.size(), bytes.data());
}

bool cSharedMemory::DeleteValue(std::string_view key) {
  if (!open_) return fail(win32::kErrorObjectNotFound);
  std::u16string wide;
  if (const uint32_t status = convertKey(key, &wide)) return fail(status);
  uint32_t status;
  {
    StoreLock lock(*this);
    if (lock.status() != 0) return fail(lock.status());
    lock.beginChange();
    status = state_->table(size_).remove(wide);
    lock.endChange();
  }
  if (status != 0) return fail(status);
  signalEvent(name_);
  signalEvent(key);
  return succeed();
}

bool cSharedMemory::holdLockForTest(std::chrono::milliseconds hold, bool midChange) {
  if (!open_) return fail(win32::kErrorObjectNotFound);
  StoreLock lock(*this);
  if (lock.status() != 0) return fail(lock.status());
  if (midChange) lock.beginChange();
  std::this_thread::sleep_for(hold);
  if (midChange) lock.endChange();
  return succeed();
}

void cSharedMemory::setLockTimeoutForTest(std::chrono::milliseconds timeout) {
  if (state_) state_->lockTimeout = timeout;
}

std::span<uint8_t> cSharedMemory::viewForTest() {
  if (!open_) return {};
  return std::span<uint8_t>(state_->section.data(), size_);
}

}  // namespace quorvant
