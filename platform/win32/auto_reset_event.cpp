// The auto-reset event on Windows: an unnamed event object that releases one wait per set.
#include "platform/auto_reset_event.h"

#include <windows.h>

#include "platform/clock.h"

namespace platform {

Error AutoResetEvent::Create() {
  handle_.reset();
  const HANDLE event = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) return static_cast<Error>(::GetLastError());
  handle_.reset(reinterpret_cast<std::intptr_t>(event));
  return kSuccess;
}

Error AutoResetEvent::Set() { return detail::SetEvent(handle_); }

bool AutoResetEvent::Wait(std::uint32_t milliseconds) {
  // The waits time out on the interrupt time, which the time of day leaves alone; the tick
  // count, coarser, says when the whole time has passed.
  const HANDLE event = reinterpret_cast<HANDLE>(handle_.get());
  const std::uint32_t start = TickCount();
  for (;;) {
    const std::uint32_t elapsed = TickCount() - start;  // wraps as the count does
    const DWORD left = elapsed >= milliseconds ? 0 : milliseconds - elapsed;
    if (!handle_) ::Sleep(left);
    else if (::WaitForSingleObject(event, left) == WAIT_OBJECT_0) return true;
    if (left == 0) return false;
  }
}

}  // namespace platform
