// The due test of a fixed period, saturated at the 64-bit range.
#include "tasks/schedule.h"

#include <limits>

namespace hvs {

namespace {

constexpr std::int64_t kEarliest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();

}  // namespace

bool Schedule::OverflowsDownwards(std::int64_t lastRun) const {
  return periodSeconds_ < 0 && lastRun < kEarliest - periodSeconds_;
}

std::int64_t Schedule::DueAfter(std::int64_t lastRun) const {
  const auto period = static_cast<std::int64_t>(periodSeconds_);
  if (period > 0 && lastRun > kLatest - period) return kLatest;
  if (OverflowsDownwards(lastRun)) return kEarliest;
  return lastRun + period;
}

bool Schedule::IsDue(std::int64_t lastRun, std::int64_t now) const {
  return OverflowsDownwards(lastRun) || now > DueAfter(lastRun);
}

std::optional<std::int64_t> Schedule::NextDue(std::int64_t lastRun) const {
  if (OverflowsDownwards(lastRun)) return kEarliest;
  const std::int64_t after = DueAfter(lastRun);
  // No time lies after the largest one.
  if (after == kLatest) return std::nullopt;
  return after + 1;
}

}  // namespace hvs
