// When a task is due: a fixed period after its last run, or the next time of its Cron
// expression after it, in seconds since 1970 (UTC).
#pragma once

#include <cstdint>
#include <optional>

#include "tasks/cron_expression.h"

namespace hvs {

// A value: the period, or a Cron expression that it does not own and that then decides
// alone. A stored last run may be any 64-bit number, so every sum saturates instead of
// overflowing.
//
// With a Cron expression the task is due from the first instant after the last run at
// which the local clock shows a scheduled minute or a later time: a minute that a
// daylight-saving change skips is due at the end of the gap, a minute shown twice once,
// and any number of scheduled minutes that passed since the last run are due once. Each
// call evaluates the expression: callers that ask often keep the answer.
class Schedule {
 public:
  explicit Schedule(std::int32_t periodSeconds, const CronExpression* cron = nullptr)
      : periodSeconds_(periodSeconds), cron_(cron) {}

  std::int32_t PeriodSeconds() const { return periodSeconds_; }
  // lastRun + period, saturated at the 64-bit range: the task is due at every time after
  // this one. The largest time stands for never, the smallest for every time.
  std::int64_t DueAfter(std::int64_t lastRun) const;
  // now > lastRun + period; a sum beyond the range is never due when it overflows upwards
  // and always due downwards.
  bool IsDue(std::int64_t lastRun, std::int64_t now) const;
  // The first second at which IsDue holds; empty when it never does.
  std::optional<std::int64_t> NextDue(std::int64_t lastRun) const;

 private:
  // lastRun + period lies below the 64-bit range: due at every time.
  bool OverflowsDownwards(std::int64_t lastRun) const;

  // The first instant after `lastRun` at which the clock shows a scheduled minute or later.
  std::optional<std::int64_t> NextCronTime(std::int64_t lastRun) const;

  std::int32_t periodSeconds_;
  const CronExpression* cron_;
};

}  // namespace hvs
