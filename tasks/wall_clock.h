// Local wall-clock time as plain seconds, and the way back to UTC across daylight-saving changes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hvs {

// A wall-clock time is what the machine's clock shows, counted as seconds since 1970-01-01
// 00:00 as if it were UTC: its date and time of day come out of it by civil arithmetic
// alone. Each operation is empty when the system cannot convert the times involved. Every
// one assumes at most one change of the zone's offset within a day of the times involved.

// The wall-clock time at `time`.
std::optional<std::int64_t> WallTimeAt(std::int64_t time);
// The latest wall-clock time shown at `time` or before: in the hour that repeats after the
// clock was set back, the time shown just before the change, not the one shown now.
std::optional<std::int64_t> LatestWallTimeUpTo(std::int64_t time);
// The first instant at which the clock shows `wall` or later: the end of the gap when a
// change skips `wall`, the first of the two when it occurs twice.
std::optional<std::int64_t> FirstInstantShowing(std::int64_t wall);

// A date of the proleptic Gregorian calendar; month 1-12, weekday 0 (Sunday) to 6.
struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};
std::int64_t DaysFromCivil(const CivilDate& date);
CivilDate CivilFromDays(std::int64_t days);
unsigned WeekdayOfDays(std::int64_t days);
unsigned DaysInMonth(std::int64_t year, unsigned month);
// `value` / `divisor` rounded towards minus infinity, for times before 1970 too.
inline std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor) {
  return value / divisor - (value % divisor < 0);
}
// "Mon 2026-12-14 02:00": a wall-clock time to the minute, with its weekday.
std::string WallTimeText(std::int64_t wall);

}  // namespace hvs
