// The property store's record table over arbitrary section bytes, as another
// process of the user could leave them: lookups, reads, in-place sets, adds
// and deletes never touch a byte outside the section (the table is an
// exactly-sized heap buffer, so AddressSanitizer sees any stray access), and
// on a well-formed table they keep the layout's arithmetic.
//
// Input: byte 0 chooses the key and the value length; the rest is the section.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/shared_memory/shared_memory_table.h"

namespace {

using quorvant::SharedTable;

uint32_t Count(const std::vector<uint8_t>& s) {
  return s[0] | s[1] << 8 | s[2] << 16 | static_cast<uint32_t>(s[3]) << 24;
}

// The key of the first record when its field is terminated, so that lookups
// also hit existing records.
std::u16string FirstKey(const std::vector<uint8_t>& s) {
  std::u16string key;
  if (s.size() < SharedTable::kHeaderBytes + SharedTable::kRecordHeaderBytes) return key;
  for (size_t i = 0; i < 40; ++i) {
    const char16_t c = static_cast<char16_t>(s[8 + 2 * i] | s[9 + 2 * i] << 8);
    if (c == 0) return key;
    key.push_back(c);
  }
  return u"unterminated";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  const uint8_t control = data[0];
  std::vector<uint8_t> section(data + 1, data + size);
  SharedTable table{std::span<uint8_t>(section)};

  std::u16string key;
  switch (control & 3) {
    case 0: key = FirstKey(section); break;
    case 1: key = u"signerMedia"; break;
    case 2: key = std::u16string(39, u'\x4E2D'); break;
    default: key = u""; break;
  }
  const std::vector<uint8_t> value(1 + (control >> 2) * 3, 0x5A);

  // Reads: a value handed out lies inside the section.
  uint32_t length = 0;
  if (table.read(key, nullptr, &length) == 0) {
    SharedTable::Record record;
    if (table.find(key, &record) != 0 || record.length != length) std::abort();
    if (record.offset + SharedTable::kRecordHeaderBytes + length > section.size()) {
      std::abort();
    }
    std::vector<uint8_t> out(length);
    if (table.read(key, out.data(), &length) != 0) std::abort();
    if (length > 0 && std::memcmp(out.data(),
                                  section.data() + record.offset +
                                      SharedTable::kRecordHeaderBytes,
                                  length) != 0) {
      std::abort();
    }
  }

  // Writes: a failure changes nothing (except that an add to an empty table
  // first clears the record area); a success keeps the used-part arithmetic.
  for (int step = 0; step < 3 && section.size() >= SharedTable::kHeaderBytes; ++step) {
    const std::vector<uint8_t> before = section;
    size_t usedBefore = 0;
    const bool wellFormed = table.usedBytes(&usedBefore) == 0;
    const uint32_t countBefore = Count(section);
    SharedTable::Record old;
    const bool had = table.find(key, &old) == 0;
    uint32_t status = 0;
    switch (step) {
      case 0: status = table.replace(key, value); break;
      case 1: status = table.remove(key); break;
      default: status = table.append(key, value); break;
    }
    if (status != 0) {
      const bool clearedEmpty = step == 2 && countBefore == 0;
      if (!clearedEmpty && section != before) std::abort();
      continue;
    }
    size_t usedAfter = 0;
    if (!wellFormed || table.usedBytes(&usedAfter) != 0) std::abort();
    if (step == 1) {
      if (!had || Count(section) != countBefore - 1) std::abort();
      if (usedAfter != usedBefore - SharedTable::kRecordHeaderBytes - old.length) std::abort();
      for (size_t i = usedAfter; i < usedBefore; ++i) {
        if (section[i] != 0) std::abort();
      }
    } else if (step == 2) {
      if (Count(section) != countBefore + 1) std::abort();
      if (usedAfter != usedBefore + SharedTable::kRecordHeaderBytes + value.size()) std::abort();
    } else if (usedAfter != usedBefore || Count(section) != countBefore) {
      std::abort();
    }
  }
  return 0;
}
