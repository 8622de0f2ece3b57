// Sets TZ for the lifetime of the object and restores the previous value:
// certificate times are shown in local time, so tests pin the zone.
#ifndef QUORVANT_TESTS_SUPPORT_SCOPED_TIME_ZONE_H_
#define QUORVANT_TESTS_SUPPORT_SCOPED_TIME_ZONE_H_

#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace quorvant::testing {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace quorvant::testing

#endif  // QUORVANT_TESTS_SUPPORT_SCOPED_TIME_ZONE_H_
