// Fixed digit patterns for times: certificate validity as shown to callers,
// the filter's validity comparison, pending-key records and key container
// names.
#ifndef QUORVANT_ENCODING_TIME_FORMS_H_
#define QUORVANT_ENCODING_TIME_FORMS_H_

#include <cstdint>
#include <optional>
#include <string>

namespace quorvant {

// Local calendar fields; month 1-12, day 1-31.
struct CalendarTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;

  friend bool operator==(const CalendarTime&, const CalendarTime&) = default;
};

// Converts a UTC instant (seconds since 1970-01-01T00:00:00Z, earlier
// instants negative) to local time under the process's time-zone rules (the
// TZ variable, else the system zone). Empty when the platform cannot convert
// the instant or its year does not fit an int.
std::optional<CalendarTime> LocalCalendarFromUtc(int64_t unixSeconds);

// "%04d%02d%02d%02d%02d%02d": 20130624113115.
std::string CompactTimeText(const CalendarTime& t);
// "%04d/%02d/%02d": 2013/06/24.
std::string DateText(const CalendarTime& t);
// "%04d/%02d/%02d %02d:%02d:%02d": 2013/06/24 11:31:15.
std::string DateTimeText(const CalendarTime& t);
// "%4d/%02d/%02d %02d:%02d:%02d": like DateTimeText, but the year is padded
// with spaces rather than zeros (pending-key records were always written so).
std::string RecordTimeText(const CalendarTime& t);
// "%4d%02d%02d-%d_": the prefix of the key containers made while counting
// weak keys, e.g. 20130624-3_.
std::string ContainerPrefix(const CalendarTime& t, int iteration);

// The forms a certificate time is shown in.
enum class TimeForm { kCompact, kDate, kDateTime };

// A certificate time (UTC) as local time in `form`; empty text when the
// conversion fails.
std::string CertificateTimeText(int64_t unixSeconds, TimeForm form);

}  // namespace quorvant

#endif  // QUORVANT_ENCODING_TIME_FORMS_H_
