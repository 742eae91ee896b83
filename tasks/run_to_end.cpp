// One run of a task's command from its start to its end, within its time limit and the stop.
#include "tasks/run_to_end.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

namespace hvs {

namespace {

using WaitResult = platform::Process::WaitResult;
using Clock = std::chrono::steady_clock;
using End = RunOutcome::End;

using ReadResult = platform::OutputPipe::ReadResult;

// The output of one run on its way from the pipe into its RunOutput; inert without either.
class OutputDrain {
 public:
  OutputDrain(platform::OutputPipe& pipe, RunOutput* output)
      : pipe_(output != nullptr && pipe.IsOpen() ? &pipe : nullptr), output_(output) {}

  // The pipe to wait on with the process; null once it is closed, broken or not there.
  platform::OutputPipe* pipe() const { return pipe_; }
  // Takes one read of what is there; gives the pipe up when it is closed or broken.
  void ReadOnce() {
    if (pipe_ == nullptr) return;
    const ReadResult result = TakeOneRead();
    if (result == ReadResult::kClosed || result == ReadResult::kFailed) pipe_ = nullptr;
  }
  // After the process's end: takes what it left in the pipe, at most what a full pipe and
  // the kept output hold, so that a process it started and that writes on cannot hold the
  // run.
  void TakeRest() {
    constexpr std::uint64_t kMostAfterEnd = RunOutput::kKeptBytes;
    std::uint64_t taken = 0;
    while (pipe_ != nullptr && taken < kMostAfterEnd && TakeOneRead() == ReadResult::kData)
      taken += buffer_.size();
    pipe_ = nullptr;
  }

 private:
  // Out of memory costs the output, not the run: the process is still watched.
  ReadResult TakeOneRead() noexcept {
    try {
      buffer_.clear();
      const ReadResult result = pipe_->Read(buffer_);
      if (result == ReadResult::kData) output_->Take(buffer_);
      return result;
    } catch (const std::exception&) {
      output_->Lose(platform::kNotEnoughMemory);
      return ReadResult::kFailed;
    }
  }

  platform::OutputPipe* pipe_;
  RunOutput* output_;
  std::string buffer_;
};

// The wait of a run with `timeLimitSeconds` (none when 0 or less), taking the output as it
// comes; TimedOut only once the whole limit has passed, however short the platform's
// longest wait.
WaitResult WaitWithinLimit(platform::Process& process, const platform::ManualResetEvent& stop,
                           std::int32_t timeLimitSeconds, Clock::time_point started,
                           OutputDrain& drain) {
  const Clock::time_point deadline = started + std::chrono::seconds(timeLimitSeconds);
  for (;;) {
    std::uint32_t step = platform::Process::kNoTimeLimit;
    if (timeLimitSeconds > 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return WaitResult::TimedOut;
      step = static_cast<std::uint32_t>(std::min<std::int64_t>(left.count(), 3'600'000));
    }
    const WaitResult result = process.WaitWith(stop, step, drain.pipe());
    if (result == WaitResult::OutputReady) drain.ReadOnce();
    else if (result != WaitResult::TimedOut) return result;
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
                                   platform::Process::Group group,
                                   RunOutput* output) noexcept {
  RunOutcome outcome;
  outcome.timeLimitSeconds = timeLimitSeconds;
  try {
    platform::OutputPipe pipe;
    if (output != nullptr) {
      if (const platform::Error failed = pipe.Create()) output->Lose(failed);
    }
    platform::Process process;
    const Clock::time_point started = Clock::now();
    if (const platform::Error failed =
            process.Create(command, group, pipe.IsOpen() ? &pipe : nullptr)) {
      outcome.end = End::kNotStarted;
      outcome.error = failed;
      return outcome;
    }
    OutputDrain drain(pipe, output);
    switch (WaitWithinLimit(process, stop, timeLimitSeconds, started, drain)) {
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
      case WaitResult::OutputReady:
      case WaitResult::Failed:
        return std::nullopt;
    }
    drain.TakeRest();
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
