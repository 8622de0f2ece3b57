// cSharedMemory: the property store that every instance of the component
// under one user shares, a named section of (normally) 20480 bytes holding a
// small table of key/value records (layout in
// host/shared_memory/shared_memory_table.h).
//
// Linux form (details and the reasoning at the top of shared_memory.cc):
//  - the section is the POSIX shared memory object
//    "/quorvant-<uid>-s-<name>", mode 0600, owned by the user; an object that
//    is not ours or is open to group or others is refused (ERROR_ACCESS_DENIED);
//  - a robust process-shared mutex in "/quorvant-<uid>-l-<name>" serialises
//    every operation of every thread and process; a holder that dies never
//    blocks the others;
//  - the contents live while some instance has the section mapped and are gone
//    when the last one is destroyed, also when earlier holders crashed;
//  - after each change the named event is set: "<key>_Event" for SetValue,
//    "<name>_Event" for AddValue, both (store-wide first) for DeleteValue. An
//    event is the object "/quorvant-<uid>-e-<event name>" holding a 32-bit
//    sequence word; setting it increments the word and wakes every futex
//    waiter on it; NamedEvent (host/shared_memory/shared_memory_object.h) waits.
//
// Errors (lastError): not open 4312, missing key 2, length 0 on set or add 24,
// key of 40 or more characters on add 1743, key present on add 183, no room on
// add 14, new value longer than the stored one on set 8, buffer too small on
// get 122, a failing key conversion its own error. Beyond those: a table whose
// walk leaves the section (written by a process that ignores the lock) 1392
// ERROR_FILE_CORRUPT, the lock not obtained within the lock timeout 1460
// ERROR_TIMEOUT, a null length or value pointer 87.
#ifndef QUORVANT_HOST_SHARED_MEMORY_H_
#define QUORVANT_HOST_SHARED_MEMORY_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace quorvant {

class cSharedMemory {
 public:
  // Narrow key text to UTF-16; false with a system error number on failure.
  using KeyConverter =
      std::function<bool(std::string_view narrow, std::u16string* out, uint32_t* error)>;

  static constexpr const char* kClassName = "cSharedMemory";
  static constexpr uint32_t kDefaultSize = 20480;
  static constexpr std::chrono::milliseconds kDefaultLockTimeout{10000};

  // Maps the section `name`, creating it when no instance holds it. Check
  // isOpen(); a failure leaves its system error in lastError(). Keys are
  // converted with `convert`, by default WideFromNarrow (the component's code
  // page).
  cSharedMemory(std::string_view name, uint32_t size, KeyConverter convert = {});
  ~cSharedMemory();
  cSharedMemory(const cSharedMemory&) = delete;
  cSharedMemory& operator=(const cSharedMemory&) = delete;

  // Keys are narrow text up to the first zero byte. Every operation returns
  // false with lastError() set on failure and sets lastError() to 0 on success.

  // True when a record has `key`; lastError() 0 whether or not one has.
  bool KeyExists(std::string_view key);
  // buffer null: the stored length in *length. Otherwise copies the value when
  // *length is at least the stored length; *length becomes the stored length.
  bool GetValue(std::string_view key, void* buffer, uint32_t* length);
  // The stored value of at most 4 bytes as a little-endian integer (a shorter
  // value zero-extended), else `defaultValue`.
  int32_t GetIntValue(std::string_view key, int32_t defaultValue);
  // Replaces an existing value in place: its stored length stays, the bytes
  // after a shorter new value become zero.
  bool SetValue(std::string_view key, const void* bytes, uint32_t length);
  bool SetIntValue(std::string_view key, int32_t value);
  // Appends a new record.
  bool AddValue(std::string_view key, uint32_t length, const void* bytes);
  bool AddIntValue(std::string_view key, int32_t value);
  bool DeleteValue(std::string_view key);

  int32_t lastError() const { return lastError_.load(std::memory_order_relaxed); }
  bool created() const { return created_; }
  bool isOpen() const { return open_; }
  uint32_t size() const { return size_; }
  const std::string& name() const { return name_; }

  // Test hooks.
  // Takes the store's lock and keeps it for `hold` (a test kills the process
  // meanwhile); with `midChange`, marks the table as being rewritten, as a
  // writer does, so the next holder treats it as lost.
  bool holdLockForTest(std::chrono::milliseconds hold, bool midChange);
  void setLockTimeoutForTest(std::chrono::milliseconds timeout);
  // The mapped section (size() bytes); empty when not open.
  std::span<uint8_t> viewForTest();

 private:
  struct State;
  class StoreLock;

  bool fail(uint32_t error);
  bool succeed();
  // The converted key, cut at its first zero unit.
  bool changeValue(std::string_view key, const void* bytes, uint32_t length, bool append);
  uint32_t convertKey(std::string_view key, std::u16string* out) const;
  void signalEvent(std::string_view prefix) const;

  std::string name_;
  std::atomic<int32_t> lastError_{0};
  bool created_ = true;
  bool open_ = false;
  uint32_t size_ = 0;
  std::unique_ptr<State> state_;
};

}  // namespace quorvant

#endif  // QUORVANT_HOST_SHARED_MEMORY_H_
