// The program's own registry key, the per-task values, and read-only lookups of other keys.
#pragma once

#include <string>
#include <string_view>

#include "log/log_file.h"
#include "platform/registry.h"

namespace hvs {

inline constexpr std::string_view kProgramKeyPath = "SOFTWARE\\Sorvane\\HVS";
inline constexpr std::string_view kReportsKeyPath = "SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports";

// Where the substitution reads the neighbouring products' settings: the registry store in
// the program, a table in memory where the store would only slow a test down.
class MachineValueSource {
 public:
  virtual ~MachineValueSource() = default;
  // Value `name` of `keyPath`, as text up to its first NUL; `defaultValue` when the value
  // is absent or empty. Never creates or writes anything.
  virtual std::string ReadMachineValue(std::string_view keyPath, std::string_view name,
                                       std::string_view defaultValue) const = 0;
};

// Keeps "SOFTWARE\Sorvane\HVS" open between operations and opens it again at each one, so a
// key deleted meanwhile is recreated. Failures become a log line and the caller's default;
// nothing throws. Used from the service thread only.
class SettingsStore : public MachineValueSource {
 public:
  // kReadOnly serves tools that look at the service's state without changing it: keys are
  // opened for query only and never created, absent values read as their defaults without
  // being written, SetTaskValue does nothing, and a key that is not there is no failure.
  enum class Access { kReadWrite, kReadOnly };

  // `log` is not owned and must outlive the store. `root` is the key that every path is
  // relative to: HKEY_LOCAL_MACHINE except in tests.
  explicit SettingsStore(LogFile& log,
                         platform::RegistryKey root = platform::RegistryKey::LocalMachine(),
                         Access access = Access::kReadWrite);

  // (Re)opens the program's key and makes sure the reporting application's key holds
  // "SOAPUsername" and "SOAPPassword". Logs "Creating HVS registry key failed" on failure.
  // Read-only: opens the program's key for query, if it is there, and nothing else.
  void Open();
  bool IsOpen() const { return open_; }

  // Value `name` of the program's key; `defaultValue` (written back when absent) otherwise.
  std::string GetString(std::string_view name, std::string_view defaultValue);
  // Value `name` of the subkey named `taskName` (nested on `\`; empty: the program's key).
  std::string GetTaskValue(std::string_view taskName, std::string_view name,
                           std::string_view defaultValue);
  void SetTaskValue(std::string_view taskName, std::string_view name, std::string_view value);

  // Value `name` of `keyPath` under the root, opened for query only; never creates or writes.
  std::string ReadMachineValue(std::string_view keyPath, std::string_view name,
                               std::string_view defaultValue) const override;

 private:
  std::string ReadValue(const platform::RegistryKey& key, std::string_view name,
                        std::string_view defaultValue, bool writeIfMissing) const;
  void WriteValue(const platform::RegistryKey& key, std::string_view name,
                  std::string_view value) const;
  bool OpenTaskKey(std::string_view taskName, platform::RegistryKey& subkey);
  bool ReadOnly() const { return access_ == Access::kReadOnly; }

  LogFile& log_;
  platform::RegistryKey root_;
  Access access_;
  platform::RegistryKey key_;
  bool open_ = false;
};

}  // namespace hvs
