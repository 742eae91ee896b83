// The manual-reset event that tells every task watcher the service is stopping.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/unique_any.h"

namespace platform {

// A Win32 event handle or a POSIX eventfd, closed as any other platform handle.
using UniqueEventHandle = UniqueAny<std::intptr_t, &detail::CloseFile, std::intptr_t{-1}>;

namespace detail {
// Sets the event that `event` holds, of either kind; 6 when it holds none.
Error SetEvent(const UniqueEventHandle& event);
}  // namespace detail

// An event that, once set, stays set for every wait before and after that moment.
// Move-only; the destructor closes it. It must outlive every wait on it.
class ManualResetEvent {
 public:
  // Creates the event, not set, replacing any event held. On Windows a non-empty `name`
  // names one machine-wide object that every process opening that name shares (an
  // existing one is opened as it is); on POSIX the name is only a label and each call
  // makes an event of this process alone. An empty name makes an unnamed event.
  Error Create(const std::string& name);
  bool IsOpen() const noexcept { return handle_.valid(); }
  // Sets the event; 6 when none is open.
  Error Set();

 private:
  friend class Process;
  UniqueEventHandle handle_;
};

}  // namespace platform
