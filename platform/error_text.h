// The system's own description of a Win32 error number.
#pragma once

#include <string>

#include "platform/error.h"

namespace platform {

// The system's message text for `code` in its default language, exactly as the system
// gives it, line end ("\r\n") included; empty when the system has none. Windows asks
// FormatMessageA; POSIX gives the English texts of Windows for the codes this program
// produces.
std::string SystemErrorText(Error code);

}  // namespace platform
