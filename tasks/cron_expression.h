// A crontab(5) time expression: five fields, matched against wall-clock minutes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hvs {

// MIN HOUR DAY MONTH WEEKDAY, each a comma-separated list of `*`, a value or a range `a-b`,
// the last two optionally with a step `/n`. Months and weekdays also by their three-letter
// English names, in any case; weekday 0 and 7 are both Sunday. When both the day of month
// and the weekday are restricted (their fields do not begin with `*`), a day matching
// either is enough.
class CronExpression {
 public:
  // The expression of `text` (blanks around it and between the fields are allowed); empty
  // when it does not parse, with `error` naming the field and what is wrong with it.
  static std::optional<CronExpression> Parse(std::string_view text, std::string& error);

  // Whether the wall-clock minute that contains `wall` (see wall_clock.h) matches.
  bool Matches(std::int64_t wall) const;
  // The first matching wall-clock minute after `wall`, as the wall time of its first
  // second; empty when none comes within the next nine years (a day that the months given
  // never have).
  std::optional<std::int64_t> NextMatchAfter(std::int64_t wall) const;
  // The schedule in English words: "at 02:00 on Monday to Friday".
  std::string Describe() const;
  // The five fields as written, blanks between them made single spaces.
  const std::string& Text() const { return text_; }

 private:
  bool DayMatches(std::int64_t days) const;

  std::uint64_t minutes_ = 0;   // bit n: minute n
  std::uint32_t hours_ = 0;     // bit n: hour n
  std::uint32_t days_ = 0;      // bit n: day n of the month, 1-31
  std::uint32_t months_ = 0;    // bit n: month n, 1-12
  std::uint32_t weekdays_ = 0;  // bit n: weekday n, 0 (Sunday) to 6
  bool dayRestricted_ = false;
  bool weekdayRestricted_ = false;
  std::string text_;
};

}  // namespace hvs
