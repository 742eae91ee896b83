// The due test of a fixed period, saturated at the 64-bit range, and of a Cron expression.
#include "tasks/schedule.h"

#include <algorithm>
#include <limits>

#include "tasks/wall_clock.h"

namespace hvs {

namespace {

constexpr std::int64_t kEarliest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
// Any scheduled time after this one lies in the past for a Cron schedule whose last run
// was earlier, and the local time of earlier instants may not be known.
constexpr std::int64_t kCronEarliest = 2 * 86400;

}  // namespace

std::optional<std::int64_t> Schedule::NextCronTime(std::int64_t lastRun) const {
  const std::optional<std::int64_t> shown = LatestWallTimeUpTo(std::max(lastRun, kCronEarliest));
  if (!shown) return std::nullopt;
  const std::optional<std::int64_t> scheduled = cron_->NextMatchAfter(*shown);
  if (!scheduled) return std::nullopt;
  return FirstInstantShowing(*scheduled);
}

bool Schedule::OverflowsDownwards(std::int64_t lastRun) const {
  return !cron_ && periodSeconds_ < 0 && lastRun < kEarliest - periodSeconds_;
}

std::int64_t Schedule::DueAfter(std::int64_t lastRun) const {
  if (cron_) {
    const std::optional<std::int64_t> next = NextCronTime(lastRun);
    return next ? *next - 1 : kLatest;
  }
  const auto period = static_cast<std::int64_t>(periodSeconds_);
  if (period > 0 && lastRun > kLatest - period) return kLatest;
  if (OverflowsDownwards(lastRun)) return kEarliest;
  return lastRun + period;
}

bool Schedule::IsDue(std::int64_t lastRun, std::int64_t now) const {
  if (cron_) return now > DueAfter(lastRun);
  return OverflowsDownwards(lastRun) || now > DueAfter(lastRun);
}

std::optional<std::int64_t> Schedule::NextDue(std::int64_t lastRun) const {
  if (cron_) return NextCronTime(lastRun);
  if (OverflowsDownwards(lastRun)) return kEarliest;
  const std::int64_t after = DueAfter(lastRun);
  // No time lies after the largest one.
  if (after == kLatest) return std::nullopt;
  return after + 1;
}

}  // namespace hvs
