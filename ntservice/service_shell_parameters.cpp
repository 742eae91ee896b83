// CServiceShell's profile settings: values in sections below the service's "Parameters" key.
#include "ntservice/service_shell.h"

#include <cstring>

#include "ntservice/string_list.h"
#include "platform/registry.h"

namespace hvs {

namespace {

using platform::Error;
using platform::RegistryKey;

constexpr char kServicesPath[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr char kParametersKey[] = "Parameters";
constexpr std::uint32_t kReadWrite = platform::kKeyRead | platform::kKeyWrite;

const char* OrEmpty(const char* text) noexcept { return text != nullptr ? text : ""; }

void Tell(platform::Error* out, Error error) noexcept {
  if (out != nullptr) *out = error;
}

// The service's "Parameters" key, created with the service's key where they are missing
// (so that even a read creates them); the services key itself is only opened.
Error OpenParameters(const std::string& serviceName, bool forWriting, RegistryKey& parameters) {
  RegistryKey services;
  if (Error error = RegistryKey::LocalMachine().Open(
          kServicesPath, forWriting ? kReadWrite : platform::kKeyRead, services))
    return error;
  RegistryKey service;
  if (Error error = services.Create(serviceName, kReadWrite, service)) return error;
  return service.Create(kParametersKey, kReadWrite, parameters);
}

Error OpenSection(const std::string& serviceName, const char* section, bool forWriting,
                  RegistryKey& key) {
  RegistryKey parameters;
  if (Error error = OpenParameters(serviceName, forWriting, parameters)) return error;
  return parameters.Create(OrEmpty(section), forWriting ? kReadWrite : platform::kKeyRead, key);
}

// Ends a write: flushed to disk when asked, whatever else happened to the key.
bool Finish(const RegistryKey& key, Error error, bool flush) {
  if (error == platform::kSuccess && flush) key.Flush();
  return error == platform::kSuccess;
}

bool WriteValue(const std::string& serviceName, bool flush, const char* section, const char* entry,
                std::uint32_t type, const void* data, std::uint32_t size) {
  RegistryKey key;
  if (OpenSection(serviceName, section, true, key) != platform::kSuccess) return false;
  return Finish(key, key.SetValue(OrEmpty(entry), type, data, size), flush);
}

}  // namespace

bool CServiceShell::SetParameterString(const char* section, const char* entry, const char* value) {
  if (entry == nullptr) {
    // Without a section name the deletion would aim at "Parameters" itself.
    if (section == nullptr || *section == '\0') return false;
    RegistryKey parameters;
    if (OpenParameters(serviceName, true, parameters) != platform::kSuccess) return false;
    return Finish(parameters, parameters.DeleteKey(section), flushParameterWrites);
  }
  if (value == nullptr) {
    RegistryKey key;
    if (OpenSection(serviceName, section, true, key) != platform::kSuccess) return false;
    return Finish(key, key.DeleteValue(entry), flushParameterWrites);
  }
  return WriteValue(serviceName, flushParameterWrites, section, entry, platform::kRegSz, value,
                    static_cast<std::uint32_t>(std::strlen(value) + 1));
}

bool CServiceShell::SetParameterInt(const char* section, const char* entry, std::int32_t value) {
  return WriteValue(serviceName, flushParameterWrites, section, entry, platform::kRegDword, &value,
                    sizeof value);
}

bool CServiceShell::SetParameterStrings(const char* section, const char* entry,
                                        const std::vector<std::string>& values) {
  RegistryKey key;
  if (OpenSection(serviceName, section, true, key) != platform::kSuccess) return false;
  return Finish(key, WriteStringList(key, OrEmpty(entry), values), flushParameterWrites);
}

bool CServiceShell::SetParameterBytes(const char* section, const char* entry,
                                      const std::uint8_t* bytes, std::uint32_t size) {
  if (bytes == nullptr && size != 0) return false;
  return WriteValue(serviceName, flushParameterWrites, section, entry, platform::kRegBinary, bytes,
                    size);
}

std::string CServiceShell::GetParameterString(const char* section, const char* entry,
                                              const char* defaultValue, platform::Error* error) {
  Tell(error, platform::kSuccess);
  RegistryKey key;
  std::uint32_t size = 0;
  Error failed = OpenSection(serviceName, section, false, key);
  if (!failed) failed = key.QueryValue(OrEmpty(entry), nullptr, nullptr, &size);
  std::string text(size, '\0');
  if (!failed) failed = key.QueryValue(OrEmpty(entry), nullptr, text.data(), &size);
  if (failed) {
    Tell(error, failed);
    return OrEmpty(defaultValue);
  }
  text.resize(size);
  // Stored with or without its NUL, or with more behind it: the text ends at the first.
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::int32_t CServiceShell::GetParameterInt(const char* section, const char* entry,
                                            std::int32_t defaultValue, platform::Error* error) {
  Tell(error, platform::kSuccess);
  RegistryKey key;
  std::int32_t value = 0;
  std::uint32_t size = sizeof value;
  Error failed = OpenSection(serviceName, section, false, key);
  // A longer value does not fit: 234.
  if (!failed) failed = key.QueryValue(OrEmpty(entry), nullptr, &value, &size);
  if (failed) {
    Tell(error, failed);
    return defaultValue;
  }
  return value;
}

bool CServiceShell::GetParameterStrings(const char* section, const char* entry,
                                        std::vector<std::string>& values, platform::Error* error) {
  values.clear();
  RegistryKey key;
  Error failed = OpenSection(serviceName, section, false, key);
  if (!failed) failed = ReadStringList(key, OrEmpty(entry), values);
  Tell(error, failed);
  return failed == platform::kSuccess;
}

bool CServiceShell::GetParameterBytes(const char* section, const char* entry,
                                      std::vector<std::uint8_t>& bytes, platform::Error* error) {
  bytes.clear();
  RegistryKey key;
  std::uint32_t size = 0;
  Error failed = OpenSection(serviceName, section, false, key);
  if (!failed) failed = key.QueryValue(OrEmpty(entry), nullptr, nullptr, &size);
  if (!failed) {
    bytes.resize(size);
    failed = key.QueryValue(OrEmpty(entry), nullptr, bytes.data(), &size);
  }
  Tell(error, failed);
  if (failed) {
    bytes.clear();
    return false;
  }
  bytes.resize(size);
  return true;
}

}  // namespace hvs
