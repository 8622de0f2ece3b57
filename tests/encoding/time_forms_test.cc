#include "encoding/time_forms.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <limits>
#include <optional>
#include <string>

#include "support/scoped_time_zone.h"

namespace quorvant {
namespace {

using testing::ScopedTimeZone;

// Expected local times were computed with Python's zoneinfo
// (datetime.fromtimestamp(t, ZoneInfo(zone))).
TEST(TimeFormsTest, UtcToLocalCompactText) {
  struct Case {
    const char* zone;
    int64_t unixSeconds;
    const char* compact;
  };
  const Case cases[] = {
      {"Asia/Taipei", 1372044675, "20130624113115"},  // 2013-06-24 03:31:15Z
      {"CST-8", 1372044675, "20130624113115"},        // POSIX rule, no tz database
      {"America/New_York", 1372680000, "20130701080000"},  // EDT, UTC-4
      {"America/New_York", 1358251200, "20130115070000"},  // EST, UTC-5
      {"America/New_York", 1362898799, "20130310015959"},  // last second of EST
      {"America/New_York", 1362898800, "20130310030000"},  // first second of EDT
      {"America/New_York", 1383458400, "20131103010000"},  // back to EST
      {"Australia/Sydney", 1356998400, "20130101110000"},  // southern summer
      {"Europe/London", 2540289600, "20500701130000"},     // past 2038, BST
      {"UTC", 2147483648, "20380119031408"},               // 2^31
      {"UTC", 4102444800, "21000101000000"},
      {"UTC", -1, "19691231235959"},
      {"UTC", -2208988800, "19000101000000"},
      {"UTC", -30610224001, "09991231235959"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.unixSeconds));
    ScopedTimeZone zone(c.zone);
    EXPECT_EQ(CertificateTimeText(c.unixSeconds, TimeForm::kCompact), c.compact);
  }
}

TEST(TimeFormsTest, ConversionFailureGivesEmptyText) {
  ScopedTimeZone zone("UTC");
  for (const int64_t t : {std::numeric_limits<int64_t>::max(),
                          std::numeric_limits<int64_t>::min()}) {
    EXPECT_FALSE(LocalCalendarFromUtc(t).has_value());
    EXPECT_EQ(CertificateTimeText(t, TimeForm::kCompact), "");
    EXPECT_EQ(CertificateTimeText(t, TimeForm::kDateTime), "");
  }
}

TEST(TimeFormsTest, Patterns) {
  const CalendarTime t{2013, 6, 24, 11, 31, 15};
  const CalendarTime early{999, 1, 2, 3, 4, 5};
  const CalendarTime tiny{5, 12, 31, 23, 59, 59};
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case cases[] = {
      {CompactTimeText(t), "20130624113115"},
      {DateText(t), "2013/06/24"},
      {DateTimeText(t), "2013/06/24 11:31:15"},
      {RecordTimeText(t), "2013/06/24 11:31:15"},
      {ContainerPrefix(t, 3), "20130624-3_"},
      {ContainerPrefix(t, 12), "20130624-12_"},
      // Years below 1000: zeros everywhere except the record time and the
      // container prefix, which pad the year with spaces.
      {CompactTimeText(early), "09990102030405"},
      {DateText(early), "0999/01/02"},
      {DateTimeText(early), "0999/01/02 03:04:05"},
      {RecordTimeText(early), " 999/01/02 03:04:05"},
      {RecordTimeText(tiny), "   5/12/31 23:59:59"},
      {ContainerPrefix(early, 1), " 9990102-1_"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(TimeFormsTest, CertificateTimeForms) {
  ScopedTimeZone zone("Asia/Taipei");
  EXPECT_EQ(CertificateTimeText(1372044675, TimeForm::kDate), "2013/06/24");
  EXPECT_EQ(CertificateTimeText(1372044675, TimeForm::kDateTime), "2013/06/24 11:31:15");
  const auto local = LocalCalendarFromUtc(1372044675);
  ASSERT_TRUE(local.has_value());
  EXPECT_EQ(*local, (CalendarTime{2013, 6, 24, 11, 31, 15}));
}

}  // namespace
}  // namespace quorvant
