// libFuzzer target: arbitrary stored values and command texts through VariableTable::Substitute.
//
// The input format is that of substitute_input.h. The values go through the real registry
// store, kept in /dev/shm so that its commits are cheap; substitute_memory_fuzz tries the
// same inputs many times faster against a table in memory.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "config/variable_table.h"
#include "log/log_file.h"
#include "platform/registry.h"
#include "tests/fuzz/fuzz_state.h"
#include "tests/fuzz/substitute_input.h"

namespace {

using fuzzsupport::kStoredCount;
using fuzzsupport::kStoredValues;

constexpr const char* kTarget = "substitute_fuzz";

std::filesystem::path gStateDirectory;

struct Harness {
  hvs::LogFile log{false};
  std::vector<platform::RegistryKey> keys;
  std::string logPath;
};

Harness* gHarness = nullptr;

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
      fuzzsupport::Fail(kTarget, "cannot create a registry key");
    gHarness->keys.push_back(std::move(key));
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = fuzzsupport::SplitSubstituteInput(data, size);
  if (!input) return 0;

  for (std::size_t i = 0; i < kStoredCount; ++i) {
    const platform::RegistryKey& key = gHarness->keys[i];
    const auto& text = input->values[i];
    if (!text) {
      key.DeleteValue(kStoredValues[i].name);
      continue;
    }
    if (key.SetValue(kStoredValues[i].name, platform::kRegSz, text->data(),
                     static_cast<std::uint32_t>(text->size())) != 0)
      fuzzsupport::Fail(kTarget, "cannot write a registry value");
  }

  // The log only grows; one input's lines are enough.
  std::error_code ignored;
  std::filesystem::remove(gHarness->logPath, ignored);

  hvs::SettingsStore store(gHarness->log);
  hvs::VariableTable table(store, gHarness->log);
  fuzzsupport::CheckSubstitution(table, input->command, kTarget);
  return 0;
}
