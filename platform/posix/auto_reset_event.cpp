// The auto-reset event on POSIX: a non-blocking eventfd whose counter a successful wait reads to zero.
#include "platform/auto_reset_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "platform/clock.h"
#include "platform/posix/errno_map.h"

namespace platform {

Error AutoResetEvent::Create() {
  handle_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  return handle_ ? kSuccess : posix::LastErrno();
}

Error AutoResetEvent::Set() { return detail::SetEvent(handle_); }

bool AutoResetEvent::Wait(std::uint32_t milliseconds) {
  const int fd = static_cast<int>(handle_.get());
  const std::uint32_t start = TickCount();
  for (;;) {
    // Read first: a Set before this wait counts, and a reader that lost the race to another
    // waiter (EAGAIN) waits on.
    std::uint64_t count = 0;
    if (handle_ && ::read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count))
      return true;
    const std::uint32_t elapsed = TickCount() - start;  // wraps as the count does
    if (elapsed >= milliseconds) return false;
    const std::uint32_t left = std::min<std::uint32_t>(milliseconds - elapsed, INT_MAX);
    if (!handle_) {
      SleepMilliseconds(left);
      continue;
    }
    pollfd wait{fd, POLLIN, 0};
    ::poll(&wait, 1, static_cast<int>(left));  // EINTR: look again
  }
}

}  // namespace platform
