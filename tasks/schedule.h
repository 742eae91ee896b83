// When a task is due: a fixed period after its last run, in seconds since 1970 (UTC).
#pragma once

#include <cstdint>
#include <optional>

namespace hvs {

// A value: the period alone. A stored last run may be any 64-bit number, so every sum
// saturates instead of overflowing.
class Schedule {
 public:
  explicit Schedule(std::int32_t periodSeconds) : periodSeconds_(periodSeconds) {}

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

  std::int32_t periodSeconds_;
};

}  // namespace hvs
