// libFuzzer target: arbitrary stored values and command texts through VariableTable::Substitute.
//
// Input: the low four bits of the first byte say how many of the stored values below the
// input sets (at most all of them); that many "\n"-separated texts follow, and the rest is
// the command. Values not set by an input are deleted, so inputs do not see each other.
// The values go through the real registry store, kept in /dev/shm so that its commits are
// cheap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings_store.h"
#include "config/variable_table.h"
#include "log/log_file.h"
#include "platform/registry.h"
#include "tests/fuzz/fuzz_state.h"

namespace {

struct StoredValue {
  const char* key;
  const char* name;
};

constexpr StoredValue kStoredValues[] = {
    {"SOFTWARE\\Sorvane\\Meridel Server\\Installer", "Hostname"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "SOAPHost"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "LMHTTP"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "SOAPPassword"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\ZAVReports", "SOAPUsername"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\Database", "DSN"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\Database", "Password"},
    {"SOFTWARE\\Sorvane\\Meridel Server\\Pallodex", "Username"},
};
constexpr std::size_t kStoredCount = sizeof kStoredValues / sizeof kStoredValues[0];

std::filesystem::path gStateDirectory;

struct Harness {
  hvs::LogFile log{false};
  std::vector<platform::RegistryKey> keys;
  std::string logPath;
};

Harness* gHarness = nullptr;

void Fail(const char* what) {
  std::fprintf(stderr, "substitute_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gStateDirectory = fuzzsupport::UsePrivateStateDirectory("hvs-fuzz-", "log");

  gHarness = new Harness;
  const std::string logDirectory = (gStateDirectory / "log").string();
  gHarness->log.Init(logDirectory, "HVS.Log");
  gHarness->logPath = (gStateDirectory / "log" / "HVS.Log").string();
  for (const auto& stored : kStoredValues) {
    platform::RegistryKey key;
    if (platform::RegistryKey::LocalMachine().Create(stored.key, platform::kKeyAllAccess, key) != 0)
      Fail("cannot create a registry key");
    gHarness->keys.push_back(std::move(key));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t toSet = data[0] & 0x0F;
  if (toSet > kStoredCount) toSet = kStoredCount;

  for (std::size_t i = 0; i < kStoredCount; ++i) {
    const platform::RegistryKey& key = gHarness->keys[i];
    const auto end = rest.find('\n');
    if (i >= toSet || end == std::string_view::npos) {
      key.DeleteValue(kStoredValues[i].name);
      continue;
    }
    const std::string_view text = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    if (key.SetValue(kStoredValues[i].name, platform::kRegSz, text.data(),
                     static_cast<std::uint32_t>(text.size())) != 0)
      Fail("cannot write a registry value");
  }
  const std::string command(rest);

  // The log only grows; one input's lines are enough.
  std::error_code ignored;
  std::filesystem::remove(gHarness->logPath, ignored);

  hvs::SettingsStore store(gHarness->log);
  hvs::VariableTable table(store, gHarness->log);
  std::string display;
  const std::string full = table.Substitute(command, display);

  if (full.size() > command.size() + hvs::kMaxExpandedBytes) Fail("full text beyond the limit");
  if (command.find('%') == std::string::npos && (full != command || display != command))
    Fail("text without references changed");
  std::string again;
  if (table.Substitute(command, again) != full || again != display)
    Fail("a second substitution differs");
  return 0;
}
