// Starting a service's program as a detached process that its dispatcher recognises.
#pragma once

#include <chrono>
#include <string>

#include "platform/error.h"

namespace platform::posix {

// What the started process finds in its environment (beside the starter's own variables).
inline constexpr char kControlSocketVariable[] = "HVS_SERVICE_CONTROL";
inline constexpr char kServiceNameVariable[] = "HVS_SERVICE_NAME";
// The descriptor on which the dispatcher answers that it has taken the service over.
inline constexpr char kReadyDescriptorVariable[] = "HVS_SERVICE_READY_FD";
inline constexpr int kReadyDescriptor = 3;

// Starts `commandLine` (split by the Microsoft C runtime's rules, the program found on
// PATH, no shell) for service `name`: in a new session, not a child of this process, with
// /dev/null as its standard handles, "/" as its working directory and this process's
// environment plus the variables above. Its status file reads start pending from before
// its first instruction. Returns once its dispatcher has answered: 0; 2, 5 or 193 when
// the program cannot be run (the status then reads stopped with that code); 206 when the
// control socket's path (state directory and service name) is too long; 1053 when no
// answer comes within `answerTimeout` or the process ends first, and the process is then
// killed and reads stopped with 1053.
Error LaunchService(const std::string& name, const std::string& commandLine,
                    std::chrono::milliseconds answerTimeout);

}  // namespace platform::posix
