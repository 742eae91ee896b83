// A Windows command line split into the arguments a program of the Microsoft C runtime sees.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// The program name (the first element) ends at the first space or tab outside double
// quotes, the quotes dropped and backslashes kept. Each later argument ends at a space or
// tab outside quotes; 2n backslashes before a quote give n backslashes and the quote opens
// or closes quoting, 2n + 1 give n backslashes and a literal quote; "" inside quotes is a
// literal quote; other backslashes are kept. The text ends at its first NUL.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace platform::posix
