// The helpers that the files of the POSIX service control manager share.
#include "platform/posix/scm/scm_internal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/unique_fd.h"

namespace platform::posix {

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

bool ReadSmallFile(const std::string& path, std::string& content, int& error) {
  // No links, and no waiting on a FIFO that somebody put in a file's place.
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file) {
    error = errno;
    return false;
  }
  char buffer[1024];
  ssize_t got = 0;
  do got = ::pread(file.get(), buffer, sizeof buffer, 0);
  while (got < 0 && errno == EINTR);
  if (got < 0) {
    error = errno;
    return false;
  }
  content.assign(buffer, static_cast<std::size_t>(got));
  return true;
}

}  // namespace platform::posix
