// The time interface's contract: file-time scale, local time both ways, zone and tick.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "platform/clock.h"

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// The broken-down fields read as if they were UTC.
std::int64_t FieldsAsUtc(const std::tm& t) {
  return DaysFromCivil(t.tm_year + 1900, static_cast<unsigned>(t.tm_mon + 1),
                       static_cast<unsigned>(t.tm_mday)) * 86400 +
         t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

TEST(FileTime, ConvertsToSecondsSince1970RoundingDown) {
  constexpr platform::FileTime kEpoch = 116444736000000000ULL;
  EXPECT_EQ(platform::SecondsToFileTime(0), kEpoch);
  EXPECT_EQ(platform::FileTimeToSeconds(kEpoch + 9999999), 0);
  EXPECT_EQ(platform::FileTimeToSeconds(kEpoch - 1), -1);
  for (std::int64_t seconds : {std::int64_t{-86400}, std::int64_t{1700000000},
                               std::int64_t{4102444800}})
    EXPECT_EQ(platform::FileTimeToSeconds(platform::SecondsToFileTime(seconds)), seconds);
}

TEST(LocalTime, ConvertsBothWaysAcrossTheYearAndPast2038) {
  // Midwinter, midsummer and 2100-01-01, so that a daylight-saving zone shows both states.
  for (std::int64_t time : {std::int64_t{1767225600}, std::int64_t{1782864000},
                            std::int64_t{4102444800}, platform::CurrentTime()}) {
    std::tm local{};
    ASSERT_TRUE(platform::ToLocalTime(time, local)) << time;
    // The fields differ from UTC by the zone's offset only, never by more than a day.
    EXPECT_LE(std::abs(FieldsAsUtc(local) - time), 86400) << time;
    EXPECT_EQ(platform::FromLocalTime(local), time) << time;
  }
}

TEST(LocalTime, FromLocalTimeNormalisesFieldsOutOfRange) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 32;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  const std::int64_t time = platform::FromLocalTime(local);
  ASSERT_NE(time, -1);
  EXPECT_EQ(local.tm_mon, 1);
  EXPECT_EQ(local.tm_mday, 1);
  EXPECT_EQ(local.tm_hour, 12);
  std::tm back{};
  ASSERT_TRUE(platform::ToLocalTime(time, back));
  EXPECT_EQ(back.tm_mday, 1);
  EXPECT_EQ(back.tm_hour, 12);
}

// The zone's description must give the same offset as the local time that the runtime
// computes now, or the log's stamps would contradict their own offsets.
TEST(CurrentZone, AgreesWithTheLocalTimeOfNow) {
  platform::ZoneInformation zone;
  ASSERT_TRUE(platform::CurrentZone(zone));
  const std::int64_t now = platform::CurrentTime();
  std::tm local{};
  ASSERT_TRUE(platform::ToLocalTime(now, local));

  const bool daylight = zone.status == platform::ZoneInformation::Status::Daylight;
  EXPECT_EQ(local.tm_isdst > 0, daylight);
  std::int32_t bias = zone.bias;
  if (daylight) bias += zone.daylightBias;
  if (zone.status == platform::ZoneInformation::Status::Standard) bias += zone.standardBias;
  EXPECT_EQ(FieldsAsUtc(local) - now, -std::int64_t{bias} * 60);
}

TEST(TickCount, AdvancesAcrossASleep) {
  const std::uint32_t before = platform::TickCount();
  platform::SleepMilliseconds(100);
  const std::uint32_t elapsed = platform::TickCount() - before;  // wraps like the counter
  // Windows' tick count moves in steps of up to 16 ms, so a 100 ms sleep may read as 84.
  EXPECT_GE(elapsed, 80u);
  EXPECT_LT(elapsed, 10000u);
}

}  // namespace
