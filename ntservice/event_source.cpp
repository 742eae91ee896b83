// EventSource and the registration of an event source in the registry.
#include "ntservice/event_source.h"

#include <algorithm>

#include "ntservice/string_list.h"
#include "platform/registry.h"

namespace hvs {

namespace {

using platform::RegistryKey;

constexpr std::uint32_t kReadWrite = platform::kKeyRead | platform::kKeyWrite;
constexpr std::uint32_t kTypesSupported = 7;  // error, warning and information

std::string LogKeyPath(const std::string& logName) {
  return "SYSTEM\\CurrentControlSet\\Services\\EventLog\\" + logName;
}

platform::Error WriteSourceValues(const RegistryKey& sourceKey, const std::string& messageFile) {
  if (platform::Error error =
          sourceKey.SetValue("EventMessageFile", platform::kRegSz, messageFile.c_str(),
                             static_cast<std::uint32_t>(messageFile.size() + 1)))
    return error;
  return sourceKey.SetValue("TypesSupported", platform::kRegDword, &kTypesSupported,
                            sizeof kTypesSupported);
}

void AddToSources(const RegistryKey& logKey, const std::string& sourceName) {
  std::vector<std::string> sources;
  if (ReadStringList(logKey, "Sources", sources) != platform::kSuccess) return;
  if (std::find(sources.begin(), sources.end(), sourceName) != sources.end()) return;
  sources.push_back(sourceName);
  WriteStringList(logKey, "Sources", sources);
}

void RemoveFromSources(const RegistryKey& logKey, const std::string& sourceName) {
  std::vector<std::string> sources;
  if (ReadStringList(logKey, "Sources", sources) != platform::kSuccess) return;
  const auto found = std::find(sources.begin(), sources.end(), sourceName);
  if (found == sources.end()) return;
  sources.erase(found);
  WriteStringList(logKey, "Sources", sources);
}

}  // namespace

bool EventSource::Report(std::uint16_t type, std::uint32_t eventId,
                         const std::vector<std::string>& strings) {
  std::lock_guard<std::mutex> guard(lock_);
  handle_.Close();
  const bool written = handle_.Register(serverName, sourceName) == platform::kSuccess &&
                       handle_.Report(type, 0, eventId, strings) == platform::kSuccess;
  handle_.Close();
  return written;
}

bool EventSource::ReportErrorCode(std::uint32_t eventId, std::int32_t number) {
  return Report(platform::kEventError, eventId, {std::to_string(number)});
}

bool EventSource::ReportErrorWithNumber(std::uint32_t eventId, const std::string& text,
                                        std::int32_t number) {
  return Report(platform::kEventError, eventId, {text, std::to_string(number)});
}

bool InstallEventSource(const std::string& messageFile, const std::string& sourceName,
                        const std::string& logName, platform::Error& error) {
  // Created rather than only opened: a fresh POSIX store has no log keys yet, and on Windows
  // a new key under EventLog is how a log of one's own comes into being.
  RegistryKey logKey;
  error = RegistryKey::LocalMachine().Create(LogKeyPath(logName), kReadWrite, logKey);
  if (error != platform::kSuccess) return false;
  RegistryKey sourceKey;
  error = logKey.Create(sourceName, kReadWrite, sourceKey);
  if (error != platform::kSuccess) return false;
  error = WriteSourceValues(sourceKey, messageFile);
  sourceKey.Close();
  // The source key exists now whatever the writes did, so the list names it either way.
  AddToSources(logKey, sourceName);
  return error == platform::kSuccess;
}

bool RemoveEventSource(const std::string& logName, const std::string& sourceName,
                       platform::Error& error) {
  error = RegistryKey::LocalMachine().DeleteKey(LogKeyPath(logName) + "\\" + sourceName);
  if (error != platform::kSuccess) return false;
  RegistryKey logKey;
  if (RegistryKey::LocalMachine().Open(LogKeyPath(logName), kReadWrite, logKey) ==
      platform::kSuccess)
    RemoveFromSources(logKey, sourceName);
  return true;
}

}  // namespace hvs
