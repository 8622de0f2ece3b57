// The record table of the property store, walked over a plain byte range.
//
// Layout (little-endian on every side):
//   offset 0  count of records (uint32)
//   offset 4  size of the section, written by its creator (uint32)
//   offset 8  records, packed in insertion order, no gaps:
//               80 bytes  key as UTF-16LE, terminated, the rest zero
//                4 bytes  value length L
//                L bytes  value
// The used part is 8 plus the sum of 84 + L over all records; everything after
// it is zero.
//
// The bytes belong to a section that other processes of the same user map as
// well. Nothing here trusts them: every header is copied into a local before
// it is looked at (a writer that ignores the lock cannot change a field
// between its check and its use), every record must lie wholly inside the
// range, and a table whose walk leaves the range makes the operation fail
// with ERROR_FILE_CORRUPT (1392) without writing anything. The range is the caller's
// real mapping, never the size word at offset 4.
#ifndef QUORVANT_HOST_SHARED_MEMORY_TABLE_H_
#define QUORVANT_HOST_SHARED_MEMORY_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/win32_errors.h"

namespace quorvant {

class SharedTable {
 public:
  static constexpr size_t kHeaderBytes = 8;
  static constexpr size_t kKeyBytes = 80;
  static constexpr size_t kRecordHeaderBytes = 84;
  // 40 UTF-16 units fit the key field; one is the terminator.
  static constexpr size_t kMaxKeyUnits = 39;

  // `section` is the whole table, header included. A range shorter than the
  // header makes every operation fail with ERROR_FILE_CORRUPT.
  explicit SharedTable(std::span<uint8_t> section) : bytes_(section) {}

  struct Record {
    size_t offset = 0;    // of the record's key field
    uint32_t length = 0;  // L
  };

  // Every operation returns 0 or a system error number.
  // ERROR_FILE_NOT_FOUND when no record has `key`.
  uint32_t find(std::u16string_view key, Record* out) const;
  // Without a buffer: the stored length in *length. With one: the value when
  // *length is at least the stored length (ERROR_INSUFFICIENT_BUFFER if not);
  // *length becomes the stored length either way.
  uint32_t read(std::u16string_view key, void* buffer, uint32_t* length) const;
  // In place: a new value no longer than the stored one replaces its first
  // bytes, the rest of the stored length is zeroed, L is unchanged.
  uint32_t replace(std::u16string_view key, std::span<const uint8_t> value);
  // A new record at the end of the used part.
  uint32_t append(std::u16string_view key, std::span<const uint8_t> value);
  // Moves the following records down over the record and zeroes the freed
  // bytes at the end of the used part.
  uint32_t remove(std::u16string_view key);
  // An empty table: count 0, `sizeWord` at offset 4, everything else zero.
  void reset(uint32_t sizeWord);

  // Header words as they are now (the range must hold the header).
  uint32_t countWord() const;
  uint32_t sizeWord() const;
  // The end of the used part, or ERROR_FILE_CORRUPT.
  uint32_t usedBytes(size_t* out) const;

 private:
  struct Walk {
    uint32_t count = 0;  // the count word as read once at the start
    size_t used = 0;     // end of the last record
    bool found = false;
    Record record;       // the first record with the key, when found
  };
  // Visits every record; ERROR_FILE_CORRUPT when one does not fit the range.
  uint32_t walk(std::u16string_view key, Walk* out) const;

  std::span<uint8_t> bytes_;
};

}  // namespace quorvant

#endif  // QUORVANT_HOST_SHARED_MEMORY_TABLE_H_
