// libFuzzer target: substitute_fuzz's inputs against values held in memory, without the store.
//
// The values of an input are what the registry store would give back (text up to the first
// NUL, the default when absent or empty), so the table sees what it sees in the service, at
// a small part of the cost, and the log goes nowhere.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "config/settings_store.h"
#include "config/variable_table.h"
#include "log/log_file.h"
#include "tests/fuzz/substitute_input.h"

namespace {

class MemoryValues : public hvs::MachineValueSource {
 public:
  void Set(std::string_view keyPath, std::string_view name, std::string_view bytes) {
    values_[{std::string(keyPath), std::string(name)}] = std::string(bytes);
  }

  std::string ReadMachineValue(std::string_view keyPath, std::string_view name,
                               std::string_view defaultValue) const override {
    const auto found = values_.find({std::string(keyPath), std::string(name)});
    if (found == values_.end()) return std::string(defaultValue);
    const std::string text = found->second.substr(0, found->second.find('\0'));
    return text.empty() ? std::string(defaultValue) : text;
  }

 private:
  std::map<std::pair<std::string, std::string>, std::string> values_;
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
  MemoryValues values;
  for (std::size_t i = 0; i < fuzzsupport::kStoredCount; ++i) {
    if (input->values[i])
      values.Set(fuzzsupport::kStoredValues[i].key, fuzzsupport::kStoredValues[i].name,
                 *input->values[i]);
  }
  hvs::VariableTable table(values, *gLog);
  fuzzsupport::CheckSubstitution(table, input->command, "substitute_memory_fuzz");
  return 0;
}
