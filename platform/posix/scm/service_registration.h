// A service's registration in the service database: SYSTEM\CurrentControlSet\Services\<name>.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/service_manager.h"

namespace platform::posix::service_registration {

inline constexpr char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";

// Keys below Services that hold no "Type" are no services (an event log, the parameters
// written for a service not installed yet).
enum class Presence { Absent, Installed, MarkedForDelete };
Error Find(const std::string& name, Presence& presence);

// Writes the entry's values ("Type" last, so that a half-written entry is no service).
// ObjectName is "LocalSystem" when no account is given; no password is ever stored.
Error Write(const std::string& name, const ServiceConfig& config);
Error Read(const std::string& name, ServiceConfig& config);
// "Description"; an empty text removes it.
Error WriteDescription(const std::string& name, const std::string& description);
// Sets "DeleteFlag": the entry goes when the service next stops.
Error MarkForDelete(const std::string& name);
// Deletes the entry with every key below it, and the service's files.
Error Remove(const std::string& name);
// For a service that has just stopped: removes its entry when it was marked for deletion
// while the service ran, under the entries lock (waited for up to `wait`).
void RemoveIfMarkedForDelete(const std::string& name, std::chrono::milliseconds wait);

// The names of every key below Services (entries or not), as the store keeps them.
Error ListKeys(std::vector<std::string>& names);

}  // namespace platform::posix::service_registration
