// Wiping secrets on Windows.
#include "platform/secure_wipe.h"

#include <windows.h>

namespace platform {

void SecureWipe(std::string& secret) noexcept {
  if (!secret.empty()) ::SecureZeroMemory(secret.data(), secret.size());
  secret.clear();
}

}  // namespace platform
