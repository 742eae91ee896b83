// The auto-reset event on Windows: an unnamed event object that releases one wait per set.
#include "platform/auto_reset_event.h"

#include <windows.h>

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
  if (!handle_) {
    ::Sleep(milliseconds);
    return false;
  }
  // WaitForSingleObject times out on the interrupt time, which the time of day leaves alone.
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle_.get()), milliseconds) ==
         WAIT_OBJECT_0;
}

}  // namespace platform
