// The stop event on Windows: a manual-reset event object, named to be shared.
#include "platform/manual_reset_event.h"

#include <windows.h>

namespace platform {

Error ManualResetEvent::Create(const std::string& name) {
  handle_.reset();
  const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, name.empty() ? nullptr : name.c_str());
  if (event == nullptr) return static_cast<Error>(::GetLastError());
  handle_.reset(reinterpret_cast<std::intptr_t>(event));
  return kSuccess;
}

Error detail::SetEvent(const UniqueEventHandle& event) {
  // The "no handle" value is also the current process's pseudo-handle; never pass it on.
  if (!event) return kInvalidHandle;
  if (!::SetEvent(reinterpret_cast<HANDLE>(event.get())))
    return static_cast<Error>(::GetLastError());
  return kSuccess;
}

Error ManualResetEvent::Set() { return detail::SetEvent(handle_); }

}  // namespace platform
