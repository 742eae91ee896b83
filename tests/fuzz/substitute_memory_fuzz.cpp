// libFuzzer target: substitute_fuzz's inputs against values held in memory, without the store.
//
// The values of an input are what the registry store would give back (text up to the first
// NUL, the default when absent or empty), so the table sees what it sees in the service, at
// a small part of the cost, and the log goes nowhere.
#include <cstdint>
#include <string>
#include <string_view>

#include "config/settings_store.h"
#include "config/variable_table.h"
#include "log/log_file.h"
#include "tests/fuzz/substitute_input.h"

namespace {

// The stored values of one input, by their place in kStoredValues: found without building a
// key, since the table reads twenty of them for every input.
class MemoryValues : public hvs::MachineValueSource {
 public:
  explicit MemoryValues(const fuzzsupport::SubstituteInput& input) : input_(input) {}

  std::string ReadMachineValue(std::string_view keyPath, std::string_view name,
                               std::string_view defaultValue) const override {
    for (std::size_t i = 0; i < fuzzsupport::kStoredCount; ++i) {
      if (!input_.values[i] || keyPath != fuzzsupport::kStoredValues[i].key ||
          name != fuzzsupport::kStoredValues[i].name)
        continue;
      const std::string_view text = input_.values[i]->substr(0, input_.values[i]->find('\0'));
      return std::string(text.empty() ? defaultValue : text);
    }
    return std::string(defaultValue);
  }

 private:
  const fuzzsupport::SubstituteInput& input_;
};

hvs::LogFile* gLog = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gLog = new hvs::LogFile(false);
  gLog->Divert([](std::string_view) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto input = fuzzsupport::SplitSubstituteInput(data, size);
  if (!input) return 0;
  const MemoryValues values(*input);
  hvs::VariableTable table(values, *gLog);
  fuzzsupport::CheckSubstitution(table, input->command, "substitute_memory_fuzz");
  return 0;
}
