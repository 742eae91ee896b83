// The stop event on POSIX: an eventfd whose counter is never read back.
#include "platform/manual_reset_event.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errno_map.h"

namespace platform {

// No other process can reach an eventfd by a name, so the name is not used.
Error ManualResetEvent::Create(const std::string& /*name*/) {
  handle_.reset(::eventfd(0, EFD_CLOEXEC));
  return handle_ ? kSuccess : posix::LastErrno();
}

Error detail::SetEvent(const UniqueEventHandle& event) {
  if (!event) return kInvalidHandle;
  const std::uint64_t one = 1;
  while (::write(static_cast<int>(event.get()), &one, sizeof one) < 0) {
    if (errno != EINTR) return posix::LastErrno();
  }
  return kSuccess;
}

// Nobody reads the counter, so once above zero it keeps every poll on it readable.
Error ManualResetEvent::Set() { return detail::SetEvent(handle_); }

}  // namespace platform
