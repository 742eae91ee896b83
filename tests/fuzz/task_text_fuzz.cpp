// libFuzzer target: task_file_fuzz's inputs given to ParseTaskDefinition as a buffer.
//
// No file, no registry, no log file: the parser's messages are collected in memory. Besides
// the nesting check, each input is parsed twice (the result and the messages must be the
// same), and a parse error's byte offset must lie within the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_file.h"
#include "tasks/task_definition.h"
#include "tests/fuzz/fail.h"
#include "tests/fuzz/nesting_check.h"

namespace {

constexpr const char* kTarget = "task_text_fuzz";
constexpr const char* kPath = "job.xml";

hvs::LogFile* gLog = nullptr;
std::vector<std::string>* gMessages = nullptr;

struct Parsed {
  std::optional<hvs::TaskDefinition> definition;
  std::vector<std::string> messages;
};

Parsed Parse(const std::string& text) {
  gMessages->clear();
  Parsed parsed;
  parsed.definition = hvs::ParseTaskDefinition(text, kPath, *gLog);
  parsed.messages = *gMessages;
  return parsed;
}

bool Same(const hvs::TaskDefinition& a, const hvs::TaskDefinition& b) {
  return a.name == b.name && a.command == b.command && a.waitPeriodSeconds == b.waitPeriodSeconds &&
         a.forceKill == b.forceKill && a.timeLimitSeconds == b.timeLimitSeconds;
}

// A parse error names the file and an offset within the text, and leaves no definition.
void CheckParseErrors(const Parsed& parsed, std::size_t textSize) {
  const std::string prefix = std::string("Couldn't parse ") + kPath + ": ";
  std::size_t errors = 0;
  for (const std::string& message : parsed.messages) {
    if (message.rfind(prefix, 0) != 0) continue;
    ++errors;
    const std::size_t at = message.rfind(" at byte ");
    if (at == std::string::npos) fuzzsupport::Fail(kTarget, "a parse error without its offset");
    const unsigned long offset = std::strtoul(message.c_str() + at + 9, nullptr, 10);
    if (offset > textSize) fuzzsupport::Fail(kTarget, "a parse error's offset beyond the text");
  }
  if (errors > 1) fuzzsupport::Fail(kTarget, "more than one parse error");
  if (errors == 1 && parsed.definition) fuzzsupport::Fail(kTarget, "a definition despite an error");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gMessages = new std::vector<std::string>;
  gLog = new hvs::LogFile(false);
  gLog->Divert([](std::string_view message) { gMessages->emplace_back(message); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Parsed first = Parse(text);
  CheckParseErrors(first, size);
  const Parsed second = Parse(text);
  if (first.definition.has_value() != second.definition.has_value() ||
      (first.definition && !Same(*first.definition, *second.definition)) ||
      first.messages != second.messages)
    fuzzsupport::Fail(kTarget, "a second parse differs");
  fuzzsupport::CheckNesting(data, size, kTarget);
  return 0;
}
