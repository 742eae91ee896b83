// The system's error texts on Windows, from its message tables.
#include "platform/error_text.h"

#include <windows.h>

namespace platform {

std::string SystemErrorText(Error code) {
  char* buffer = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER;
  // With ALLOCATE_BUFFER the buffer argument receives the address of the system's block.
  const DWORD length = ::FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                        reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) text.assign(buffer, length);
  if (buffer != nullptr) ::LocalFree(buffer);
  return text;
}

}  // namespace platform
