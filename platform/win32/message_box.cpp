// The modal message box on Windows.
#include "platform/message_box.h"

#include <windows.h>

namespace platform {

void ShowMessageBox(const std::string& text) {
  ::MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK);
}

}  // namespace platform
