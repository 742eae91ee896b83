// Starting a service's program as a detached process that its dispatcher recognises.
#pragma once

#include <chrono>
#include <string>

#include "platform/error.h"
#include "platform/posix/scm/service_account.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {

// What the started process finds in its environment.
inline constexpr char kControlSocketVariable[] = "HVS_SERVICE_CONTROL";
inline constexpr char kServiceNameVariable[] = "HVS_SERVICE_NAME";
// The descriptor on which the dispatcher answers that it has taken the service over.
inline constexpr char kReadyDescriptorVariable[] = "HVS_SERVICE_READY_FD";
inline constexpr int kReadyDescriptor = 3;
// The listening control socket and the open status file, made by the starter, so that a
// service running as another account needs no access to the state directory for them.
inline constexpr char kListenerDescriptorVariable[] = "HVS_SERVICE_LISTEN_FD";
inline constexpr int kListenerDescriptor = 4;
inline constexpr char kStatusDescriptorVariable[] = "HVS_SERVICE_STATUS_FD";
inline constexpr int kStatusDescriptor = 5;

// Starts `commandLine` (split by the Microsoft C runtime's rules, the program found on
// the service path, no shell) for service `name` as `account`: in a new session, not a
// child of this process, with /dev/null as its standard handles, "/" as its working
// directory, ServiceEnvironment(account) and the variables above. The control socket is bound first (1056 while
// another dispatcher answers on it). Its status file reads start pending from before its
// first instruction; `entriesLock` is released once that is written. Returns once its
// dispatcher has answered: 0; 2, 5 or 193 when the program cannot be run (the status then
// reads stopped with that code); 206 when the control socket's path (state directory and
// service name) is too long; 1053 when no answer comes within `answerTimeout` or the
// process ends first, and the process is then killed and reads stopped with 1053.
Error LaunchService(const std::string& name, const std::string& commandLine,
                    const ServiceAccount& account, std::chrono::milliseconds answerTimeout,
                    UniqueFd& entriesLock);

}  // namespace platform::posix
