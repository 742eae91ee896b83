// The one exception of the service framework: a main routine ending its run with exit codes.
#pragma once

#include <cstdint>

namespace hvs {

// Thrown by a service's main routine to end the run. Under the service control manager
// both codes go into the final "stopped" report; in the foreground `win32ExitCode`
// becomes the process exit code.
class CServiceShellTerminateException {
 public:
  CServiceShellTerminateException(std::uint32_t win32Exit, std::uint32_t serviceSpecificExit)
      : win32ExitCode(win32Exit), serviceSpecificExitCode(serviceSpecificExit) {}

  std::uint32_t win32ExitCode;
  std::uint32_t serviceSpecificExitCode;
};

}  // namespace hvs
