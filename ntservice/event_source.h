// The service's event source: writing events, and its registration in the registry.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/eventlog.h"

namespace hvs {

// Writes events under one source name. Report may be called from several threads at once.
class EventSource {
 public:
  // Writes one event of `type` (platform::kEventError, ...) with category 0, no user and no
  // data: registers the source anew, writes, and deregisters, so that no handle stays open
  // between events. False when the registration or the write failed; nobody is told.
  bool Report(std::uint16_t type, std::uint32_t eventId, const std::vector<std::string>& strings);
  // An error event with one string: `number` in signed decimal.
  bool ReportErrorCode(std::uint32_t eventId, std::int32_t number);
  // An error event with two strings: `text`, then `number` in signed decimal.
  bool ReportErrorWithNumber(std::uint32_t eventId, const std::string& text, std::int32_t number);

 private:
  platform::EventSourceHandle handle_;  // open only inside Report

 public:
  std::string serverName;  // empty: this machine
  std::string sourceName;
  std::string logName = "Application";  // the log the source is installed under

 private:
  std::mutex lock_;
};

// Registers `sourceName` under HKLM\SYSTEM\CurrentControlSet\Services\EventLog\`logName`:
// the source key with "EventMessageFile" (REG_SZ, `messageFile` with its NUL) and
// "TypesSupported" (REG_DWORD 7), and the name appended to the log's "Sources" list when no
// entry equals it exactly (case counts); a "Sources" value that is missing or not a list is
// left alone, and its update never changes the result. The log key is created when missing.
// False with the failed registry call's error; the source key may then exist.
bool InstallEventSource(const std::string& messageFile, const std::string& sourceName,
                        const std::string& logName, platform::Error& error);

// Deletes the source key and takes the first entry equal to `sourceName` out of the log's
// "Sources" list, when there is such a list. False with the error of the deletion (2 when the
// source is not registered); what follows it cannot fail the removal.
bool RemoveEventSource(const std::string& logName, const std::string& sourceName,
                       platform::Error& error);

}  // namespace hvs
