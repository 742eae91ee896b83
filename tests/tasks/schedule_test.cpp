// The due test's next time: the first second at which the due test holds, at the 64-bit edges too.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "tasks/schedule.h"

namespace hvs {
namespace {

TEST(ScheduleTest, NextDueIsTheFirstSecondAtWhichTheTaskIsDue) {
  const struct {
    std::int64_t lastRun;
    std::int32_t period;
    std::optional<std::int64_t> next;
  } cases[] = {
      {1'700'000'000, 60, 1'700'000'061},
      {1'700'000'000, 0, 1'700'000'001},
      {1'700'000'000, -5, 1'699'999'996},
      {0, INT32_MAX, std::int64_t{INT32_MAX} + 1},
      // A stored LastRun may be any 64-bit number: the sum saturates instead of overflowing.
      {INT64_MAX - 100, 60, INT64_MAX - 39},
      {INT64_MAX - 60, 60, std::nullopt},  // due after the largest time: never
      {9'223'372'036'854'775'800, 60, std::nullopt},
      {INT64_MAX, INT32_MAX, std::nullopt},
      {INT64_MIN + 5, -5, INT64_MIN + 1},
      {INT64_MIN, -5, INT64_MIN},  // overflowed downwards: due at every time
      {INT64_MIN, INT32_MIN, INT64_MIN},
  };
  for (const auto& c : cases) {
    const Schedule schedule(c.period);
    const auto next = schedule.NextDue(c.lastRun);
    EXPECT_EQ(next, c.next) << c.lastRun << " + " << c.period;
    if (!next) {
      EXPECT_FALSE(schedule.IsDue(c.lastRun, INT64_MAX)) << c.lastRun << " + " << c.period;
      continue;
    }
    EXPECT_TRUE(schedule.IsDue(c.lastRun, *next)) << c.lastRun << " + " << c.period;
    if (*next != INT64_MIN) {
      EXPECT_FALSE(schedule.IsDue(c.lastRun, *next - 1)) << c.lastRun << " + " << c.period;
    }
  }
}

}  // namespace
}  // namespace hvs
