// The texts of a run's end: its log line, its registry result and its duration.
#include "tasks/run_outcome.h"

#include <cstdio>

#include "platform/error_text.h"

namespace hvs {

namespace {

std::string SignalNameOrUnknown(int signal) {
  const std::string name = platform::SignalName(signal);
  return name.empty() ? "unknown" : name;
}

}  // namespace

std::string FormatDuration(std::uint64_t milliseconds) {
  if (milliseconds < 10'000) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u s", static_cast<unsigned>(milliseconds / 1000),
                  static_cast<unsigned>(milliseconds / 100 % 10));
    return text;
  }
  const std::uint64_t seconds = milliseconds / 1000;
  const struct {
    std::uint64_t size;
    const char* name;
  } units[] = {{86'400, "d"}, {3'600, "h"}, {60, "min"}, {1, "s"}};
  for (std::size_t i = 0; i < std::size(units); ++i) {
    if (seconds < units[i].size) continue;
    std::string text = std::to_string(seconds / units[i].size) + " " + units[i].name;
    if (i + 1 < std::size(units)) {
      const std::uint64_t next = seconds % units[i].size / units[i + 1].size;
      if (next != 0) text += " " + std::to_string(next) + " " + units[i + 1].name;
    }
    return text;
  }
  return "0 s";  // not reached: ten seconds and more have a unit
}

std::string ExitCodeText(std::uint32_t code) {
  std::string text = std::to_string(code);
  if (code >= 0xC0000000u) {
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%08X)", static_cast<unsigned>(code));
    text += hex;
  }
  return text;
}

std::string ErrorText(platform::Error error) {
  std::string text = platform::SystemErrorText(error);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(error) : text;
}

std::string RunOutcome::ResultText() const {
  switch (end) {
    case End::kExited: return "exit code " + ExitCodeText(status.code);
    case End::kSignalled:
      return "signal " + std::to_string(status.signal) + " (" +
             SignalNameOrUnknown(status.signal) + ")";
    case End::kTimeLimit: return "time limit";
    case End::kStopped: return "ended at stop";
    case End::kNotStarted: return "not started: " + ErrorText(error);
    case End::kLeftRunning: break;
  }
  return {};
}

void RunOutcome::LogEnd(LogFile& log, const std::string& escapedName) const {
  const char* name = escapedName.c_str();
  const std::string took = FormatDuration(milliseconds);
  switch (end) {
    case End::kExited:
      log.LogFormat("Task '%s' finished with exit code %s after %s.", name,
                    ExitCodeText(status.code).c_str(), took.c_str());
      return;
    case End::kSignalled:
      log.LogFormat("Task '%s' was ended by signal %d (%s) after %s.", name, status.signal,
                    SignalNameOrUnknown(status.signal).c_str(), took.c_str());
      return;
    case End::kTimeLimit:
      log.LogFormat("Task '%s' exceeded its time limit of %s and was ended after %s.", name,
                    FormatDuration(static_cast<std::uint64_t>(timeLimitSeconds) * 1000).c_str(),
                    took.c_str());
      return;
    case End::kStopped:
      log.LogFormat("Task '%s' was ended by the service stop after %s.", name, took.c_str());
      return;
    case End::kLeftRunning:
      log.LogFormat("Task '%s' is still running as the service stops and is left running.",
                    name);
      return;
    case End::kNotStarted:
      return;
  }
}

}  // namespace hvs
