#include "encoding/time_forms.h"

#include <time.h>

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace quorvant {
namespace {

// Six ints with separators never need more than 6 * 11 + 6 characters.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* pattern, ...) {
  char buffer[96];
  va_list args;
  va_start(args, pattern);
  const int n = std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n) < sizeof buffer
                                 ? static_cast<size_t>(n)
                                 : sizeof buffer - 1);
}

}  // namespace

std::optional<CalendarTime> LocalCalendarFromUtc(int64_t unixSeconds) {
  if constexpr (sizeof(time_t) < sizeof(int64_t)) {
    if (unixSeconds < std::numeric_limits<time_t>::min() ||
        unixSeconds > std::numeric_limits<time_t>::max()) {
      return std::nullopt;
    }
  }
  const time_t instant = static_cast<time_t>(unixSeconds);
  struct tm local {};
  if (localtime_r(&instant, &local) == nullptr) return std::nullopt;
  const int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
  if (year > std::numeric_limits<int>::max()) return std::nullopt;
  return CalendarTime{static_cast<int>(year), local.tm_mon + 1, local.tm_mday,
                      local.tm_hour,          local.tm_min,     local.tm_sec};
}

std::string CompactTimeText(const CalendarTime& t) {
  return format("%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
}

std::string DateText(const CalendarTime& t) {
  return format("%04d/%02d/%02d", t.year, t.month, t.day);
}

std::string DateTimeText(const CalendarTime& t) {
  return format("%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
}

std::string RecordTimeText(const CalendarTime& t) {
  return format("%4d/%02d/%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
}

std::string ContainerPrefix(const CalendarTime& t, int iteration) {
  return format("%4d%02d%02d-%d_", t.year, t.month, t.day, iteration);
}

std::string CertificateTimeText(int64_t unixSeconds, TimeForm form) {
  const std::optional<CalendarTime> local = LocalCalendarFromUtc(unixSeconds);
  if (!local) return std::string();
  switch (form) {
    case TimeForm::kCompact:
      return CompactTimeText(*local);
    case TimeForm::kDate:
      return DateText(*local);
    case TimeForm::kDateTime:
      return DateTimeText(*local);
  }
  return std::string();
}

}  // namespace quorvant
