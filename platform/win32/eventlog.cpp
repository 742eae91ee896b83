// Event sources on Windows: the event log service's own calls.
#include "platform/eventlog.h"

#include <windows.h>

namespace platform {

namespace detail {
void DeregisterEventSource(void* handle) noexcept { ::DeregisterEventSource(handle); }
}  // namespace detail

Error EventSourceHandle::Register(const std::string& serverName, const std::string& sourceName) {
  handle_.reset();
  const HANDLE source = ::RegisterEventSourceA(serverName.empty() ? nullptr : serverName.c_str(),
                                               sourceName.c_str());
  if (source == nullptr) return static_cast<Error>(::GetLastError());
  handle_.reset(source);
  return kSuccess;
}

Error EventSourceHandle::Report(std::uint16_t type, std::uint16_t category, std::uint32_t eventId,
                                const std::vector<std::string>& strings) const {
  if (!handle_) return kInvalidHandle;
  if (strings.size() > 0xFFFF) return kInvalidParameter;
  std::vector<const char*> pointers;
  pointers.reserve(strings.size());
  for (const auto& text : strings) pointers.push_back(text.c_str());
  if (!::ReportEventA(handle_.get(), type, category, eventId, nullptr,
                      static_cast<WORD>(pointers.size()), 0,
                      pointers.empty() ? nullptr : pointers.data(), nullptr))
    return static_cast<Error>(::GetLastError());
  return kSuccess;
}

}  // namespace platform
