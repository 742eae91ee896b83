// CServiceShell's conversations with the service control manager about the installed service.
#include "ntservice/service_shell.h"

namespace hvs {

// Installing, removing and controlling the installed service need the client side of the
// service control manager, which the platform does not offer yet; until it does, these
// answer "not implemented", and ExecuteVerb shows that as any other failure.

bool CServiceShell::SetServiceToStatus(std::uint32_t /*operation*/, platform::Error& error,
                                       std::uint32_t /*timeoutMs*/, std::uint32_t /*pollMs*/) {
  error = platform::kCallNotImplemented;
  return false;
}

bool CServiceShell::Install(std::string& text, platform::Error& error) {
  error = platform::kCallNotImplemented;
  text = ErrorPair(std::to_string(error), error);
  return false;
}

bool CServiceShell::Uninstall(std::string& text, platform::Error& error, std::uint32_t /*timeoutMs*/) {
  error = platform::kCallNotImplemented;
  text = ErrorPair(std::to_string(error), error);
  return false;
}

bool CServiceShell::FindInstances(std::vector<std::string>& names, platform::Error& error) {
  names.clear();
  error = platform::kCallNotImplemented;
  return false;
}

}  // namespace hvs
