#include "platform/certificates/certificate_der.h"

#include "base/win32_errors.h"

namespace quorvant::der {

bool Reader::fail(uint32_t error) {
  if (error_ == 0) error_ = error;
  return false;
}

bool Reader::peekTag(uint8_t* tag) const {
  if (rest_.empty()) return false;
  *tag = rest_[0];
  return true;
}

bool Reader::read(Element* out) {
  if (rest_.empty()) return fail(win32::kCryptEAsn1Eod);
  size_t pos = 1;
  if ((rest_[0] & 0x1F) == 0x1F) {
    // High tag number: base-128 octets, the last without bit 8.
    for (;;) {
      if (pos >= rest_.size()) return fail(win32::kCryptEAsn1Eod);
      if ((rest_[pos++] & 0x80) == 0) break;
      if (pos > 5) return fail(win32::kCryptEAsn1Badtag);
    }
  }
  if (pos >= rest_.size()) return fail(win32::kCryptEAsn1Eod);
  const uint8_t first = rest_[pos++];
  size_t length = first;
  if (first & 0x80) {
    const size_t octets = first & 0x7F;
    // 0x80 is the indefinite form, which DER forbids; more than four length
    // octets cannot describe anything that fits in memory here.
    if (octets == 0 || octets > 4) return fail(win32::kCryptEAsn1Corrupt);
    if (rest_.size() - pos < octets) return fail(win32::kCryptEAsn1Eod);
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | rest_[pos++];
  }
  if (rest_.size() - pos < length) return fail(win32::kCryptEAsn1Eod);
  out->tag = rest_[0];
  out->content = rest_.subspan(pos, length);
  out->encoded = rest_.first(pos + length);
  rest_ = rest_.subspan(pos + length);
  return true;
}

bool Reader::read(uint8_t tag, Element* out) {
  uint8_t next = 0;
  if (!peekTag(&next)) return fail(win32::kCryptEAsn1Eod);
  if (next != tag) return fail(win32::kCryptEAsn1Badtag);
  return read(out);
}

bool Reader::readOptional(uint8_t tag, Element* out) {
  uint8_t next = 0;
  if (!peekTag(&next) || next != tag) return false;
  return read(out);
}

}  // namespace quorvant::der
