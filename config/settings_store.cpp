// Reads with written-back defaults and writes of REG_SZ values in the program's registry key.
#include "config/settings_store.h"

#include <vector>

namespace hvs {

SettingsStore::SettingsStore(LogFile& log, platform::RegistryKey root, Access access)
    : log_(log), root_(std::move(root)), access_(access) {}

void SettingsStore::Open() {
  key_.Close();
  if (ReadOnly()) {
    // Nothing to create or ensure: a key that is not there reads as the defaults.
    open_ = root_.Open(kProgramKeyPath, platform::kKeyQueryValue, key_) == platform::kSuccess;
    return;
  }
  open_ = root_.Create(kProgramKeyPath, platform::kKeyAllAccess, key_) == platform::kSuccess;
  if (!open_) log_.Log("Creating HVS registry key failed");

  platform::RegistryKey reports;
  if (root_.Create(kReportsKeyPath, platform::kKeyAllAccess, reports) == platform::kSuccess) {
    ReadValue(reports, "SOAPUsername", "", true);
    ReadValue(reports, "SOAPPassword", "", true);
  }
}

// Each public call makes its reads (the keys opened at every call, then the value) one
// registry batch: a transaction of the store for them all instead of one each.

std::string SettingsStore::GetString(std::string_view name, std::string_view defaultValue) {
  const platform::RegistryReadBatch together;
  Open();
  if (!open_) return std::string(defaultValue);
  return ReadValue(key_, name, defaultValue, !ReadOnly());
}

bool SettingsStore::OpenTaskKey(std::string_view taskName, platform::RegistryKey& subkey) {
  // A task that never ran has no subkey yet; its values then read as their defaults.
  if (ReadOnly())
    return key_.Open(taskName, platform::kKeyQueryValue, subkey) == platform::kSuccess;
  if (key_.Create(taskName, platform::kKeyAllAccess, subkey) == platform::kSuccess) return true;
  log_.Log("Creating task registry key failed");
  return false;
}

std::string SettingsStore::GetTaskValue(std::string_view taskName, std::string_view name,
                                        std::string_view defaultValue) {
  const platform::RegistryReadBatch together;
  Open();
  platform::RegistryKey subkey;
  if (!open_ || !OpenTaskKey(taskName, subkey)) return std::string(defaultValue);
  return ReadValue(subkey, name, defaultValue, !ReadOnly());
}

void SettingsStore::SetTaskValue(std::string_view taskName, std::string_view name,
                                 std::string_view value) {
  if (ReadOnly()) return;
  const platform::RegistryReadBatch together;
  Open();
  platform::RegistryKey subkey;
  if (open_ && OpenTaskKey(taskName, subkey)) WriteValue(subkey, name, value);
}

std::string SettingsStore::ReadMachineValue(std::string_view keyPath, std::string_view name,
                                            std::string_view defaultValue) const {
  const platform::RegistryReadBatch together;
  platform::RegistryKey key;
  if (root_.Open(keyPath, platform::kKeyQueryValue, key) != platform::kSuccess)
    return std::string(defaultValue);
  return ReadValue(key, name, defaultValue, false);
}

std::string SettingsStore::ReadValue(const platform::RegistryKey& key, std::string_view name,
                                     std::string_view defaultValue, bool writeIfMissing) const {
  // Most values are short: one read into a first buffer, a second only for a longer value.
  constexpr std::uint32_t kFirstBuffer = 256;
  std::vector<char> data(kFirstBuffer + 1, '\0');
  std::uint32_t size = kFirstBuffer;
  const platform::Error first = key.QueryValue(name, nullptr, data.data(), &size);
  if (first != platform::kSuccess && first != platform::kMoreData) {
    if (writeIfMissing) WriteValue(key, name, defaultValue);
    return std::string(defaultValue);
  }
  if (first == platform::kMoreData) {
    data.assign(static_cast<std::size_t>(size) + 1, '\0');
    if (key.QueryValue(name, nullptr, data.data(), &size) != platform::kSuccess)
      return std::string(defaultValue);
  }
  // The text ends at the first NUL, so values stored with a terminating NUL read alike.
  data[size] = '\0';
  std::string text(data.data());
  return text.empty() ? std::string(defaultValue) : text;
}

void SettingsStore::WriteValue(const platform::RegistryKey& key, std::string_view name,
                               std::string_view value) const {
  // Without a terminating NUL: the data size is the text's length.
  if (key.SetValue(name, platform::kRegSz, value.data(), static_cast<std::uint32_t>(value.size())) !=
      platform::kSuccess)
    log_.Log("Could not write registry key");
}

}  // namespace hvs
