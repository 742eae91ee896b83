// One run of a task's command from its start to its end, within its time limit and the stop.
#include "tasks/run_to_end.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace hvs {

namespace {

using WaitResult = platform::Process::WaitResult;
using Clock = std::chrono::steady_clock;
using End = RunOutcome::End;

// The wait of a run with `timeLimitSeconds` (none when 0 or less); TimedOut only once the
// whole limit has passed, however short the platform's longest wait.
WaitResult WaitWithinLimit(platform::Process& process, const platform::ManualResetEvent& stop,
                           std::int32_t timeLimitSeconds, Clock::time_point started) {
  if (timeLimitSeconds <= 0) return process.WaitWith(stop);
  const Clock::time_point deadline = started + std::chrono::seconds(timeLimitSeconds);
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return WaitResult::TimedOut;
    const auto step = std::min<std::int64_t>(left.count(), 3'600'000);
    const WaitResult result = process.WaitWith(stop, static_cast<std::uint32_t>(step));
    if (result != WaitResult::TimedOut) return result;
  }
}

// Ends the run's whole group and waits for its first process, so that the duration and
// the next start come after its end.
void EndGroup(platform::Process& process) {
  process.Terminate(1);
  process.WaitWith(NeverSet(), 30'000);
}

}  // namespace

const platform::ManualResetEvent& NeverSet() {
  static const platform::ManualResetEvent never = [] {
    platform::ManualResetEvent event;
    event.Create("");
    return event;
  }();
  return never;
}

// The process is let go when `process` goes out of scope: one still running then runs on
// by itself. An exception would end the whole service from a watcher thread; one can only
// come before the process exists (out of memory), and then the process is simply not
// started.
std::optional<RunOutcome> RunToEnd(const std::string& command, bool forceKill,
                                   std::int32_t timeLimitSeconds,
                                   const platform::ManualResetEvent& stop,
                                   platform::Process::Group group) noexcept {
  RunOutcome outcome;
  outcome.timeLimitSeconds = timeLimitSeconds;
  try {
    platform::Process process;
    const Clock::time_point started = Clock::now();
    if (const platform::Error failed = process.Create(command, group)) {
      outcome.end = End::kNotStarted;
      outcome.error = failed;
      return outcome;
    }
    switch (WaitWithinLimit(process, stop, timeLimitSeconds, started)) {
      case WaitResult::ProcessEnded:
        break;
      case WaitResult::TimedOut:
        EndGroup(process);
        outcome.end = End::kTimeLimit;
        break;
      case WaitResult::EventSet:
        if (forceKill) EndGroup(process);
        outcome.end = forceKill ? End::kStopped : End::kLeftRunning;
        break;
      case WaitResult::Failed:
        return std::nullopt;
    }
    outcome.milliseconds = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
    if (outcome.end == End::kExited && process.GetExitStatus(outcome.status) &&
        outcome.status.signal != 0)
      outcome.end = End::kSignalled;
    return outcome;
  } catch (const std::exception&) {
    outcome.end = End::kNotStarted;
    outcome.error = platform::kNotEnoughMemory;
    return outcome;
  }
}

}  // namespace hvs
