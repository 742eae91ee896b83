// What the files of the POSIX service control manager share: Windows numbers and waits.
#pragma once

#include <chrono>

#include "platform/error.h"
#include "platform/service_manager.h"  // the public numbers: 1053 to 1073, the controls

namespace platform::posix {

// The Windows errors that the service control manager gives besides its public ones.
inline constexpr Error kInvalidName = 123;
inline constexpr Error kFileNameTooLong = 206;
inline constexpr Error kInvalidServiceControl = 1052;
inline constexpr Error kServiceNoThread = 1054;
inline constexpr Error kInvalidServiceAccount = 1057;
inline constexpr Error kServiceDisabled = 1058;
inline constexpr Error kServiceLogonFailed = 1069;
// The exit code of a service that is stopped and never ran.
inline constexpr Error kServiceNeverStarted = 1077;

// True when `fd` becomes readable within `timeout`; false on time-out or failure. A signal
// that interrupts the wait does not shorten it.
bool WaitReadable(int fd, std::chrono::milliseconds timeout);

}  // namespace platform::posix
