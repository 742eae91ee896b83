// The one place where POSIX errno values become Win32 error numbers.
#pragma once

#include "platform/error.h"

namespace platform::posix {

Error FromErrno(int error) noexcept;
// FromErrno of the calling thread's errno.
Error LastErrno() noexcept;

}  // namespace platform::posix
