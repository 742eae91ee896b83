// Cron expressions: parsing, matching on the calendar, and their times in a zone with daylight saving.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "platform/local_time.h"
#include "tasks/cron_expression.h"
#include "tasks/schedule.h"
#include "tasks/wall_clock.h"

namespace hvs {
namespace {

// "YYYY-MM-DD HH:MM" as seconds since 1970, with no zone: a wall-clock time, or UTC.
std::int64_t At(const char* text) {
  int year = 0;
  unsigned month = 0, day = 0, hour = 0, minute = 0;
  EXPECT_EQ(std::sscanf(text, "%d-%u-%u %u:%u", &year, &month, &day, &hour, &minute), 5) << text;
  return DaysFromCivil({year, month, day}) * 86400 + hour * 3600 + minute * 60;
}

std::string Text(std::optional<std::int64_t> time) {
  if (!time) return "never";
  const std::int64_t days = (*time >= 0 ? *time : *time - 86399) / 86400;
  const CivilDate date = CivilFromDays(days);
  const std::int64_t seconds = *time - days * 86400;
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                static_cast<long long>(seconds % 60));
  return text;
}

CronExpression Parsed(const char* text) {
  std::string error;
  const std::optional<CronExpression> cron = CronExpression::Parse(text, error);
  EXPECT_TRUE(cron) << text << ": " << error;
  return cron.value_or(*CronExpression::Parse("* * * * *", error));
}

TEST(CivilCalendar, DaysAndWeekdaysAgreeWithKnownDates) {
  EXPECT_EQ(DaysFromCivil({1970, 1, 1}), 0);
  EXPECT_EQ(DaysFromCivil({1969, 12, 31}), -1);
  EXPECT_EQ(DaysFromCivil({2026, 3, 29}), 20541);
  EXPECT_EQ(DaysFromCivil({2104, 2, 29}), 49001);
  EXPECT_EQ(WeekdayOfDays(0), 4u);                             // a Thursday
  EXPECT_EQ(WeekdayOfDays(DaysFromCivil({2026, 12, 11})), 5u);  // a Friday
  EXPECT_EQ(WeekdayOfDays(-1), 3u);
  for (const std::int64_t days : {-1, 0, 20541, 49001, 11016}) {
    const CivilDate date = CivilFromDays(days);
    EXPECT_EQ(DaysFromCivil(date), days);
  }
  EXPECT_EQ(DaysInMonth(2028, 2), 29u);
  EXPECT_EQ(DaysInMonth(2100, 2), 28u);
  EXPECT_EQ(DaysInMonth(2000, 2), 29u);
  EXPECT_EQ(DaysInMonth(2026, 4), 30u);
}

TEST(CronParse, AnExpressionThatDoesNotParseNamesTheFieldAndTheFault) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "expected 5 fields (minute hour day-of-month month day-of-week), found 0"},
      {"0 2 * *", "expected 5 fields (minute hour day-of-month month day-of-week), found 4"},
      {"0 2 * * * *", "expected 5 fields (minute hour day-of-month month day-of-week), found 6"},
      {"60 2 * * *", "minute: '60' is out of range 0-59"},
      {"0 24 * * *", "hour: '24' is out of range 0-23"},
      {"0 2 0 * *", "day of month: '0' is out of range 1-31"},
      {"0 2 * 13 *", "month: '13' is out of range 1-12"},
      {"0 2 * * 8", "day of week: '8' is out of range 0-7"},
      {"0 2 * * Funday", "day of week: 'Funday' is neither a number nor a name"},
      {"0 2 * foo *", "month: 'foo' is neither a number nor a name"},
      {"x 2 * * *", "minute: 'x' is not a number"},
      {"0 2x * * *", "hour: '2x' is not a number"},
      {"0 5-2 * * *", "hour: the range '5-2' runs backwards"},
      {"*/0 * * * *", "minute: step '0' is not a positive number"},
      {"*/ * * * *", "minute: step '' is not a positive number"},
      {"5/10 * * * *", "minute: a step needs a range or *: '5/10'"},
      {"0,,5 * * * *", "minute: an element of the list is empty"},
      {"0 2 * * -5", "day of week: a value is missing"},
      {"0 2 ? * *", "day of month: '?' is not a number"},
      {"0 99999999999999999999 * * *", "hour: '99999999999999999999' is out of range 0-23"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(CronExpression::Parse(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

// On the calendar alone, without a zone: the first matching minute after a wall-clock time.
TEST(CronCalendar, NextMatchTable) {
  const struct {
    const char* cron;
    const char* after;
    const char* next;  // "never" when there is none
  } cases[] = {
      {"* * * * *", "2026-12-09 23:59", "2026-12-10 00:00:00"},
      {"0 2 * * *", "2026-12-09 02:00", "2026-12-10 02:00:00"},  // strictly after
      {"0 2 * * *", "2026-12-09 01:59", "2026-12-09 02:00:00"},
      {"*/15 * * * *", "2026-12-09 10:50", "2026-12-09 11:00:00"},
      {"10-20/5 * * * *", "2026-12-09 10:15", "2026-12-09 10:20:00"},
      {"10-20/5 * * * *", "2026-12-09 10:20", "2026-12-09 11:10:00"},
      {"0 9,17 * * *", "2026-12-09 09:00", "2026-12-09 17:00:00"},
      // At 02:00 on weekdays; 2026-12-11 is a Friday.
      {"0 2 * * 1-5", "2026-12-11 03:00", "2026-12-14 02:00:00"},
      {"0 2 * * mon-FRI", "2026-12-11 03:00", "2026-12-14 02:00:00"},
      // Sunday is 0 and 7, and sun in any case.
      {"0 0 * * 0", "2026-12-09 00:00", "2026-12-13 00:00:00"},
      {"0 0 * * 7", "2026-12-09 00:00", "2026-12-13 00:00:00"},
      {"0 0 * * SuN", "2026-12-09 00:00", "2026-12-13 00:00:00"},
      {"0 0 * * 5-7", "2026-12-13 00:00", "2026-12-18 00:00:00"},
      // Month ends: the 31st skips the months without one, the 30th skips February.
      {"0 0 31 * *", "2026-04-01 00:00", "2026-05-31 00:00:00"},
      {"0 0 30 * *", "2026-01-30 00:00", "2026-03-30 00:00:00"},
      {"59 23 31 12 *", "2026-12-31 23:59", "2027-12-31 23:59:00"},
      {"0 0 1 jan,JUL *", "2026-01-01 00:00", "2026-07-01 00:00:00"},
      // Leap days: the next 29 February, across 2100, which has none.
      {"0 12 29 2 *", "2025-03-01 00:00", "2028-02-29 12:00:00"},
      {"0 12 29 2 *", "2096-02-29 12:00", "2104-02-29 12:00:00"},
      {"0 0 31 2 *", "2026-01-01 00:00", "never"},
      // Both day fields restricted: either is enough (the 13th, or a Friday).
      {"0 0 13 * 5", "2026-02-13 00:00", "2026-02-20 00:00:00"},
      {"0 0 13 * 5", "2026-03-07 00:00", "2026-03-13 00:00:00"},
      {"0 0 13 * fri", "2027-02-06 00:00", "2027-02-12 00:00:00"},
      {"0 0 13 * fri", "2027-02-12 00:00", "2027-02-13 00:00:00"},
      // One of them beginning with * restricts nothing: both must match.
      {"0 0 13 * *", "2026-02-13 00:00", "2026-03-13 00:00:00"},
      {"0 0 */2 * 5", "2026-12-01 00:00", "2026-12-11 00:00:00"},
      {"0 0 1-7 * */1", "2026-12-07 00:00", "2027-01-01 00:00:00"},
  };
  for (const auto& c : cases) {
    const CronExpression cron = Parsed(c.cron);
    const std::optional<std::int64_t> next = cron.NextMatchAfter(At(c.after));
    EXPECT_EQ(Text(next), c.next) << c.cron << " after " << c.after;
    if (!next) continue;
    EXPECT_TRUE(cron.Matches(*next)) << c.cron;
    EXPECT_TRUE(cron.Matches(*next + 59)) << c.cron;
    // No minute in between matches, checked one by one where the wait is short.
    if (*next - At(c.after) > 40 * 86400) continue;
    for (std::int64_t minute = At(c.after) + 60; minute < *next; minute += 60)
      if (cron.Matches(minute)) {
        ADD_FAILURE() << c.cron << " matches " << Text(minute) << ", before " << Text(next);
        break;
      }
  }
}

TEST(CronDescribe, SaysTheScheduleInWords) {
  const struct {
    const char* cron;
    const char* words;
  } cases[] = {
      {"0 2 * * 1-5", "at 02:00 on Monday to Friday"},
      {"30 8,12,18 * * *", "at 08:30, 12:30, 18:30"},
      {"* * * * *", "every minute"},
      {"*/15 * * * *", "at minutes 0, 15, 30, 45 of every hour"},
      {"5 * * * *", "at minute 5 of every hour"},
      {"* 9-17 * * *", "every minute of hours 9-17"},
      {"0 0 1,15 * *", "at 00:00 on days 1, 15 of the month"},
      {"0 0 13 * 5", "at 00:00 on day 13 of the month or on Friday"},
      {"0 6 * jan-mar sat,sun", "at 06:00 on Saturday, Sunday in January to March"},
      {"0 6 * * 5-7", "at 06:00 on Friday to Sunday"},
      {"0 6 * * 0,2-3", "at 06:00 on Tuesday, Wednesday, Sunday"},
      {"0 0 29 2 *", "at 00:00 on day 29 of the month in February"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.cron).Describe(), c.words) << c.cron;
  EXPECT_EQ(Parsed("  0\t2  *  * 1-5 ").Text(), "0 2 * * 1-5");
}

// The local zone of this test's run, set by ctest as TZ: Berlin changes from CET (UTC+1) to
// CEST (UTC+2) at 01:00 UTC on the last Sunday of March, and back at 01:00 UTC on the last
// Sunday of October.
class CronInBerlin : public ::testing::Test {
 protected:
  void SetUp() override {
    std::int32_t winter = 0, summer = 0;
    ASSERT_TRUE(platform::LocalOffsetAt(At("2026-01-15 12:00"), winter));
    ASSERT_TRUE(platform::LocalOffsetAt(At("2026-07-15 12:00"), summer));
    ASSERT_EQ(winter, 3600) << "the test runs in Europe/Berlin's zone (TZ)";
    ASSERT_EQ(summer, 7200) << "the test runs in Europe/Berlin's zone (TZ)";
  }
};

TEST_F(CronInBerlin, TheLocalOffsetChangesAtTheInstantsOfTheZonesRules) {
  const struct {
    const char* utc;
    std::int32_t offset;
  } cases[] = {
      {"2026-03-29 00:59", 3600}, {"2026-03-29 01:00", 7200},
      {"2026-10-25 00:59", 7200}, {"2026-10-25 01:00", 3600},
      {"2027-03-28 01:00", 7200}, {"2028-02-29 12:00", 3600},
  };
  for (const auto& c : cases) {
    std::int32_t offset = 0;
    ASSERT_TRUE(platform::LocalOffsetAt(At(c.utc), offset)) << c.utc;
    EXPECT_EQ(offset, c.offset) << c.utc;
  }
}

TEST_F(CronInBerlin, WallClockTimesMapToTheirFirstInstant) {
  // A skipped time is reached at the end of the gap (03:00 CEST = 01:00 UTC).
  EXPECT_EQ(Text(FirstInstantShowing(At("2026-03-29 02:30"))), "2026-03-29 01:00:00");
  EXPECT_EQ(Text(FirstInstantShowing(At("2026-03-29 02:00"))), "2026-03-29 01:00:00");
  EXPECT_EQ(Text(FirstInstantShowing(At("2026-03-29 03:00"))), "2026-03-29 01:00:00");
  EXPECT_EQ(Text(FirstInstantShowing(At("2026-03-29 01:59"))), "2026-03-29 00:59:00");
  // A repeated time at its first occurrence, in summer time.
  EXPECT_EQ(Text(FirstInstantShowing(At("2026-10-25 02:30"))), "2026-10-25 00:30:00");
  EXPECT_EQ(Text(FirstInstantShowing(At("2026-10-25 03:00"))), "2026-10-25 02:00:00");
  // In the repeated hour the latest time shown is that before the change.
  EXPECT_EQ(Text(LatestWallTimeUpTo(At("2026-10-25 01:15"))), "2026-10-25 02:59:59");
  EXPECT_EQ(Text(LatestWallTimeUpTo(At("2026-10-25 02:15"))), "2026-10-25 03:15:00");
  EXPECT_EQ(Text(WallTimeAt(At("2026-10-25 01:15"))), "2026-10-25 02:15:00");
}

// The schedule's next time after a last run, both in UTC.
TEST_F(CronInBerlin, NextTimeAfterALastRunAcrossDaylightSavingChanges) {
  const struct {
    const char* cron;
    const char* lastRun;
    const char* next;
  } cases[] = {
      {"30 2 * * *", "2026-03-28 12:00", "2026-03-29 01:00:00"},  // skipped: end of the gap
      {"30 2 * * *", "2026-03-29 01:00", "2026-03-30 00:30:00"},
      {"0,30 2 * * *", "2026-03-28 12:00", "2026-03-29 01:00:00"},  // both skipped: once
      {"0,30 2 * * *", "2026-03-29 01:00", "2026-03-30 00:00:00"},
      {"* * * * *", "2026-03-29 00:59", "2026-03-29 01:00:00"},
      {"30 2 * * *", "2026-10-24 12:00", "2026-10-25 00:30:00"},  // repeated: the first
      {"30 2 * * *", "2026-10-25 00:30", "2026-10-26 01:30:00"},  // and only once
      {"*/30 * * * *", "2026-10-25 00:45", "2026-10-25 02:00:00"},
      {"*/30 * * * *", "2026-10-25 01:15", "2026-10-25 02:00:00"},
      {"0 2 * * 1-5", "2026-12-11 02:00", "2026-12-14 01:00:00"},
      {"0 2 * * 1-5", "2026-07-10 01:00", "2026-07-13 00:00:00"},
      {"0 0 1 * *", "2026-12-31 23:30", "2027-01-31 23:00:00"},  // already 1 January locally
      {"0 12 29 2 *", "2026-06-01 00:00", "2028-02-29 11:00:00"},
      {"0 0 31 2 *", "2026-06-01 00:00", "never"},
      // A last run long ago, or never recorded: the first time after it, long past.
      {"0 2 * * *", "1970-01-01 00:00", "1970-01-03 01:00:00"},
  };
  for (const auto& c : cases) {
    const CronExpression cron = Parsed(c.cron);
    const Schedule schedule(60, &cron);
    const std::optional<std::int64_t> next = schedule.NextDue(At(c.lastRun));
    EXPECT_EQ(Text(next), c.next) << c.cron << " after " << c.lastRun;
    if (!next) {
      EXPECT_EQ(schedule.DueAfter(At(c.lastRun)), INT64_MAX);
      continue;
    }
    EXPECT_TRUE(schedule.IsDue(At(c.lastRun), *next)) << c.cron;
    EXPECT_FALSE(schedule.IsDue(At(c.lastRun), *next - 1)) << c.cron;
  }
}

}  // namespace
}  // namespace hvs
