// The dispatcher's side of the launch handshake: the starter's variables and descriptors taken over.
#include "platform/posix/scm/launch_handshake.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace platform::posix::dispatcher {

namespace {

int DescriptorOf(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? std::atoi(value) : -1;
}

// Only descriptors of the kinds the starter hands over; a stale number could be anybody's.
bool IsKind(int fd, mode_t kind) {
  struct stat info {};
  return fd >= 0 && ::fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

}  // namespace

bool TakeLaunch(Launch& launch) {
  const char* socket = std::getenv(kControlSocketVariable);
  const char* name = std::getenv(kServiceNameVariable);
  if (socket == nullptr || name == nullptr || *socket == '\0' || *name == '\0') return false;
  launch.socketPath = socket;
  launch.serviceName = name;
  launch.ready = DescriptorOf(kReadyDescriptorVariable);
  launch.listener = DescriptorOf(kListenerDescriptorVariable);
  launch.status = DescriptorOf(kStatusDescriptorVariable);
  for (const char* variable : {kControlSocketVariable, kServiceNameVariable, kReadyDescriptorVariable,
                               kListenerDescriptorVariable, kStatusDescriptorVariable})
    ::unsetenv(variable);
  return true;
}

UniqueFd Adopt(int fd, mode_t kind) {
  if (!IsKind(fd, kind) || ::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return UniqueFd();
  return UniqueFd(fd);
}

void AnswerStarter(int ready) {
  if (!IsKind(ready, S_IFSOCK)) return;
  [[maybe_unused]] const ssize_t sent = ::send(ready, "r", 1, MSG_NOSIGNAL);
  ::close(ready);
}

}  // namespace platform::posix::dispatcher
