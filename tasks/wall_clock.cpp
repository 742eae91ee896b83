// Wall-clock times from the platform's local offset, and the search for the instant of a change.
#include "tasks/wall_clock.h"

#include <algorithm>
#include <cstdio>

#include "platform/local_time.h"

namespace hvs {

namespace {

constexpr std::int64_t kDay = 86400;

std::optional<std::int64_t> OffsetAt(std::int64_t time) {
  std::int32_t offset = 0;
  if (!platform::LocalOffsetAt(time, offset)) return std::nullopt;
  return offset;
}

// The first instant after `before` whose offset differs from that at `before`, given that
// the offset at `after` does: a binary search over at most a few days, some 20 conversions.
std::optional<std::int64_t> FirstChangeAfter(std::int64_t before, std::int64_t after) {
  const std::optional<std::int64_t> first = OffsetAt(before);
  if (!first) return std::nullopt;
  while (after - before > 1) {
    const std::int64_t middle = before + (after - before) / 2;
    const std::optional<std::int64_t> offset = OffsetAt(middle);
    if (!offset) return std::nullopt;
    (*offset == *first ? before : after) = middle;
  }
  return after;
}

}  // namespace

std::optional<std::int64_t> WallTimeAt(std::int64_t time) {
  const std::optional<std::int64_t> offset = OffsetAt(time);
  if (!offset) return std::nullopt;
  return time + *offset;
}

std::optional<std::int64_t> LatestWallTimeUpTo(std::int64_t time) {
  const std::optional<std::int64_t> now = OffsetAt(time);
  const std::optional<std::int64_t> dayBefore = OffsetAt(time - kDay);
  if (!now) return std::nullopt;
  // Only a clock set back within the day can have shown a later time than it shows now.
  if (!dayBefore || *dayBefore <= *now) return time + *now;
  const std::optional<std::int64_t> change = FirstChangeAfter(time - kDay, time);
  if (!change) return std::nullopt;
  return std::max(time + *now, *change - 1 + *dayBefore);
}

std::optional<std::int64_t> FirstInstantShowing(std::int64_t wall) {
  // The offsets in force a day around `wall`, taken as if it were UTC, are the only ones
  // that can map it: offsets stay within a day.
  const std::optional<std::int64_t> early = OffsetAt(wall - kDay);
  const std::optional<std::int64_t> late = OffsetAt(wall + kDay);
  if (!early || !late) return std::nullopt;
  std::optional<std::int64_t> first;
  for (const std::int64_t offset : {*early, *late}) {
    const std::int64_t candidate = wall - offset;
    if (OffsetAt(candidate) == offset && (!first || candidate < *first)) first = candidate;
  }
  if (first) return first;
  // Neither maps it: the clock jumped over `wall`, forwards from `early` to `late`, at an
  // instant between the two candidates; from then on it shows a later time.
  if (*late <= *early) return wall - *early;
  return FirstChangeAfter(wall - *late, wall - *early);
}

std::int64_t DaysFromCivil(const CivilDate& date) {
  const std::int64_t year = date.year - (date.month <= 2);
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 +
                             date.day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shifted = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * shifted + 2) / 5 + 1;
  const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2), month, day};
}

unsigned WeekdayOfDays(std::int64_t days) {
  // 1970-01-01 was a Thursday.
  return static_cast<unsigned>(((days % 7) + 11) % 7);
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  if (month == 2) return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 29 : 28;
  return (month == 4 || month == 6 || month == 9 || month == 11) ? 30 : 31;
}

std::string WallTimeText(std::int64_t wall) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const std::int64_t days = FloorDivide(wall, kDay);
  const CivilDate date = CivilFromDays(days);
  const std::int64_t minutes = (wall - days * kDay) / 60;
  char text[48];
  std::snprintf(text, sizeof text, "%s %04lld-%02u-%02u %02lld:%02lld", kDays[WeekdayOfDays(days)],
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<long long>(minutes / 60), static_cast<long long>(minutes % 60));
  return text;
}

}  // namespace hvs
