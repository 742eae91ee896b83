// A modal message with an OK button, for programs that have no console to print to.
#pragma once

#include <string>

namespace platform {

// Shows `text` and returns when the user has acknowledged it. Windows: a message box;
// POSIX has no desktop of its own, so the text goes to standard error with a line end.
void ShowMessageBox(const std::string& text);

}  // namespace platform
