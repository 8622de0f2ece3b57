#include "host/shared_memory/shared_memory_table.h"

#include <cstring>

#include "encoding/byte_order.h"

namespace quorvant {
namespace {

using win32::kErrorAlreadyExists;
using win32::kErrorBadLength;
using win32::kErrorFileCorrupt;
using win32::kErrorFileNotFound;
using win32::kErrorInsufficientBuffer;
using win32::kErrorNotEnoughMemory;
using win32::kErrorOutofmemory;
using win32::kRpcSStringTooLong;



// A key field equals `key` when its first key.size() units are the key's and
// the next one is the terminator. A field without a terminator in its 40
// units equals no key.
bool KeyFieldEquals(const uint8_t* field, std::u16string_view key) {
  if (key.size() > SharedTable::kMaxKeyUnits) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const char16_t unit = static_cast<char16_t>(field[2 * i] | field[2 * i + 1] << 8);
    if (unit != key[i]) return false;
  }
  return field[2 * key.size()] == 0 && field[2 * key.size() + 1] == 0;
}

}  // namespace

uint32_t SharedTable::countWord() const { return LoadLe32(bytes_.data()); }
uint32_t SharedTable::sizeWord() const { return LoadLe32(bytes_.data() + 4); }

uint32_t SharedTable::walk(std::u16string_view key, Walk* out) const {
  *out = Walk{};
  const size_t limit = bytes_.size();
  if (limit < kHeaderBytes) return kErrorFileCorrupt;
  uint8_t word[4];
  std::memcpy(word, bytes_.data(), sizeof(word));
  out->count = LoadLe32(word);
  size_t offset = kHeaderBytes;
  // Each record takes at least 84 bytes, so a count that is too high ends the
  // loop at the range's end, not after four billion steps.
  for (uint32_t i = 0; i < out->count; ++i) {
    if (limit - offset < kRecordHeaderBytes) return kErrorFileCorrupt;
    uint8_t header[kRecordHeaderBytes];
    std::memcpy(header, bytes_.data() + offset, sizeof(header));
    const uint32_t length = LoadLe32(header + kKeyBytes);
    if (limit - offset - kRecordHeaderBytes < length) return kErrorFileCorrupt;
    if (!out->found && KeyFieldEquals(header, key)) {
      out->found = true;
      out->record = Record{offset, length};
    }
    offset += kRecordHeaderBytes + length;
  }
  out->used = offset;
  return 0;
}

uint32_t SharedTable::usedBytes(size_t* out) const {
  Walk w;
  const uint32_t status = walk(std::u16string_view(), &w);
  *out = w.used;
  return status;
}

uint32_t SharedTable::find(std::u16string_view key, Record* out) const {
  Walk w;
  if (const uint32_t status = walk(key, &w)) return status;
  if (!w.found) return kErrorFileNotFound;
  *out = w.record;
  return 0;
}

uint32_t SharedTable::read(std::u16string_view key, void* buffer,
                           uint32_t* length) const {
  Record r;
  if (const uint32_t status = find(key, &r)) return status;
  const uint32_t room = *length;
  *length = r.length;
  if (buffer == nullptr) return 0;
  if (room < r.length) return kErrorInsufficientBuffer;
  std::memcpy(buffer, bytes_.data() + r.offset + kRecordHeaderBytes, r.length);
  return 0;
}

uint32_t SharedTable::replace(std::u16string_view key, std::span<const uint8_t> value) {
  if (value.empty()) return kErrorBadLength;
  Record r;
  if (const uint32_t status = find(key, &r)) return status;
  if (r.length < value.size()) return kErrorNotEnoughMemory;
  uint8_t* dst = bytes_.data() + r.offset + kRecordHeaderBytes;
  std::memset(dst, 0, r.length);
  std::memcpy(dst, value.data(), value.size());
  return 0;
}

uint32_t SharedTable::append(std::u16string_view key, std::span<const uint8_t> value) {
  if (value.empty()) return kErrorBadLength;
  if (key.size() > kMaxKeyUnits) return kRpcSStringTooLong;
  if (bytes_.size() < kHeaderBytes) return kErrorFileCorrupt;
  if (countWord() == 0) {
    std::memset(bytes_.data() + kHeaderBytes, 0, bytes_.size() - kHeaderBytes);
  }
  Walk w;
  if (const uint32_t status = walk(key, &w)) return status;
  if (w.found) return kErrorAlreadyExists;
  const uint64_t needed = uint64_t{kRecordHeaderBytes} + value.size();
  if (needed > bytes_.size() - w.used) return kErrorOutofmemory;

  uint8_t header[kRecordHeaderBytes] = {};
  for (size_t i = 0; i < key.size(); ++i) {
    header[2 * i] = static_cast<uint8_t>(key[i]);
    header[2 * i + 1] = static_cast<uint8_t>(key[i] >> 8);
  }
  StoreLe32(header + kKeyBytes, static_cast<uint32_t>(value.size()));
  uint8_t* dst = bytes_.data() + w.used;
  std::memcpy(dst, header, sizeof(header));
  std::memcpy(dst + kRecordHeaderBytes, value.data(), value.size());
  // The count last: until it is written the record lies beyond the used part,
  // so a writer that dies half-way leaves the table it found.
  StoreLe32(bytes_.data(), w.count + 1);
  return 0;
}

uint32_t SharedTable::remove(std::u16string_view key) {
  Walk w;
  if (const uint32_t status = walk(key, &w)) return status;
  if (!w.found) return kErrorFileNotFound;
  const size_t freed = kRecordHeaderBytes + w.record.length;
  const size_t next = w.record.offset + freed;
  uint8_t* base = bytes_.data();
  std::memmove(base + w.record.offset, base + next, w.used - next);
  StoreLe32(base, w.count - 1);
  std::memset(base + w.used - freed, 0, freed);
  return 0;
}

void SharedTable::reset(uint32_t sizeWord) {
  if (bytes_.size() < kHeaderBytes) return;
  std::memset(bytes_.data(), 0, bytes_.size());
  StoreLe32(bytes_.data() + 4, sizeWord);
}

}  // namespace quorvant
