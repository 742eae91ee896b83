// What became of one run of a task: how it ended, how long it took, and its texts.
#pragma once

#include <cstdint>
#include <string>

#include "log/log_file.h"
#include "platform/error.h"
#include "platform/process.h"

namespace hvs {

struct RunOutcome {
  enum class End {
    kExited,       // status.code
    kSignalled,    // status.signal (POSIX)
    kTimeLimit,    // ended by the service after timeLimitSeconds
    kStopped,      // a ForceKill run ended by the service stop
    kLeftRunning,  // a run without ForceKill that the stop leaves alone: no end yet
    kNotStarted,   // error
  };
  End end = End::kExited;
  platform::ExitStatus status;
  platform::Error error = platform::kSuccess;
  std::int32_t timeLimitSeconds = 0;
  std::uint64_t milliseconds = 0;  // from the start to the end that the watcher saw

  // True for a run that ended, but not with exit code 0: its output's last lines are logged.
  bool Failed() const { return end != End::kLeftRunning && end != End::kNotStarted && !Succeeded(); }
  bool Succeeded() const { return end == End::kExited && status.code == 0; }
  // The registry's "LastResult" text ("exit code 0", "signal 11 (SIGSEGV)", "time limit",
  // "ended at stop", "not started: <system text>"); empty for a run left running.
  std::string ResultText() const;
  // Writes the run's end line to `log`, `escapedName` being the task's Name with "%"
  // doubled. A run that was not started has its own line elsewhere and logs nothing here.
  void LogEnd(LogFile& log, const std::string& escapedName) const;
};

// "0.4 s" below 10 seconds, else the two largest whole units that are not zero:
// "12 s", "3 min 20 s", "2 h 5 min", "3 d 4 h". Cut, never rounded up.
std::string FormatDuration(std::uint64_t milliseconds);

// An exit code in decimal; one of 0xC0000000 or above (a Windows exception) also in hex:
// "3221225477 (0xC0000005)".
std::string ExitCodeText(std::uint32_t code);

// The system's text for `error` without its line end; "error N" where it has none.
std::string ErrorText(platform::Error error);

}  // namespace hvs
