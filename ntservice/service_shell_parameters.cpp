// CServiceShell's profile settings: values in sections below the service's "Parameters" key.
#include "ntservice/service_shell.h"

namespace hvs {

// The store below the service's registry key is not built yet: every write fails and
// every read gives its default, with 120 where there is an error to report.

namespace {

void Report(platform::Error* error) {
  if (error != nullptr) *error = platform::kCallNotImplemented;
}

}  // namespace

bool CServiceShell::SetParameterString(const char*, const char*, const char*) { return false; }

bool CServiceShell::SetParameterInt(const char*, const char*, std::int32_t) { return false; }

bool CServiceShell::SetParameterStrings(const char*, const char*, const std::vector<std::string>&) {
  return false;
}

bool CServiceShell::SetParameterBytes(const char*, const char*, const std::uint8_t*, std::uint32_t) {
  return false;
}

std::string CServiceShell::GetParameterString(const char*, const char*, const char* defaultValue,
                                              platform::Error* error) {
  Report(error);
  return defaultValue != nullptr ? defaultValue : "";
}

std::int32_t CServiceShell::GetParameterInt(const char*, const char*, std::int32_t defaultValue,
                                            platform::Error* error) {
  Report(error);
  return defaultValue;
}

bool CServiceShell::GetParameterStrings(const char*, const char*, std::vector<std::string>& values,
                                        platform::Error* error) {
  values.clear();
  Report(error);
  return false;
}

bool CServiceShell::GetParameterBytes(const char*, const char*, std::vector<std::uint8_t>& bytes,
                                      platform::Error* error) {
  bytes.clear();
  Report(error);
  return false;
}

}  // namespace hvs
