// The parsed command line of the service program: one verb, a few flags and option values.
#pragma once

#include <cstdint>
#include <string>

namespace hvs {

enum ServiceVerb : std::int32_t {
  VerbNone = 0,        // run under the service control manager
  VerbStart = 1,       // start the installed service and wait until it runs
  VerbPause = 2,       // pause it and wait until it is paused
  VerbContinue = 3,    // continue it and wait until it runs
  VerbStop = 4,        // stop it and wait until it has stopped
  VerbInstall = 5,     // install the service
  VerbUninstall = 6,   // stop (if needed) and remove the service
  VerbForeground = 7,  // run the main routine in the console
  VerbHelp = 8,        // show usage (this program shows nothing)
};

// Filled one argument at a time by CServiceShell::ParseArguments. Only switches (an
// argument after one leading "/" or "-") mean anything; everything else is ignored.
class CServiceShellCommandLineInfo {
 public:
  virtual ~CServiceShellCommandLineInfo();
  // Interprets one argument: a verb word (whole word, any case), or an option prefix
  // (any case) followed by a non-empty value kept as written. `isLast` is not used.
  virtual void ParseParameter(const std::string& text, bool isSwitch, bool isLast);

  ServiceVerb verb = VerbNone;
  std::int32_t timeoutMs = 5000;  // -1 waits without limit
  bool silent = false;
  std::string commandTail;
  std::string serviceName;
  std::string displayName;
  std::string description;
  std::string userName;
  std::string password;
  bool autoStart = false;
};

}  // namespace hvs
