// The modal message on POSIX: standard error stands in for a desktop.
#include "platform/message_box.h"

#include <cstdio>

namespace platform {

void ShowMessageBox(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

}  // namespace platform
