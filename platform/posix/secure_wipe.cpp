// Wiping secrets on POSIX.
#include "platform/secure_wipe.h"

#include <string.h>

namespace platform {

void SecureWipe(std::string& secret) noexcept {
  if (!secret.empty()) ::explicit_bzero(secret.data(), secret.size());
  secret.clear();
}

}  // namespace platform
