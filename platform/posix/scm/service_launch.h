// Starting a service's program as a detached process that its dispatcher recognises.
#pragma once

#include <chrono>
#include <string>

#include "platform/error.h"
#include "platform/posix/scm/launch_handshake.h"
#include "platform/posix/scm/service_account.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {

// Starts `commandLine` (split by the Microsoft C runtime's rules, the program found on
// the service path, no shell) for service `name` as `account`: in a new session, not a
// child of this process, with /dev/null as its standard handles, "/" as its working
// directory, ServiceEnvironment(account) and the variables of the launch handshake. The
// control socket is bound first (1056 while another dispatcher answers on it). Its status
// file reads start pending from before its first instruction; `entriesLock` is released
// once that is written. Returns once its dispatcher has answered: 0; 2, 5 or 193 when the
// program cannot be run (the status then reads stopped with that code); 206 when the
// control socket's path (state directory and service name) is too long; 1053 when no
// answer comes within `answerTimeout` or the process ends first, and the process is then
// killed and reads stopped with 1053.
Error LaunchService(const std::string& name, const std::string& commandLine,
                    const ServiceAccount& account, std::chrono::milliseconds answerTimeout,
                    UniqueFd& entriesLock);

}  // namespace platform::posix
