// The launch handshake: what a service's starter hands its dispatcher, and how that is taken.
#pragma once

#include <sys/types.h>

#include <string>

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

}  // namespace platform::posix

// The dispatcher's side; the starter's is LaunchService.
namespace platform::posix::dispatcher {

// What the starter left in the environment, taken out of it.
struct Launch {
  std::string socketPath;
  std::string serviceName;
  int ready = -1;
  int listener = -1;
  int status = -1;
};

// Takes the variables above out of the environment, so that the service's children do not
// inherit them; false, with the environment as it was, when the socket or the name is missing.
bool TakeLaunch(Launch& launch);

// Takes `fd` over, close-on-exec so that the service's children do not inherit it, when it is
// of `kind` (S_IFSOCK, S_IFREG); none otherwise, since a stale number could be anybody's.
UniqueFd Adopt(int fd, mode_t kind);

// Tells the starter that the dispatcher has taken the service over, on the socket `ready`
// that it handed over, and closes that; nothing when `ready` is no socket.
void AnswerStarter(int ready);

}  // namespace platform::posix::dispatcher
