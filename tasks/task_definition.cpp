// The task definition file: read in blocks, parsed in place, its known elements taken over.
#include "tasks/task_definition.h"

#include <cstring>
#include <rapidxml/rapidxml.hpp>

#include "platform/files.h"
#include "platform/strings.h"
#include "tasks/xml_nesting.h"

namespace hvs {

namespace {

using XmlNode = rapidxml::xml_node<char>;

constexpr std::uint32_t kReadBlock = 256;
// Task files nest three levels. The parser spends up to a few hundred bytes of stack a
// level, so this keeps it far inside the smallest thread stack the service runs on.
constexpr std::size_t kMaxNesting = 256;

// A definition is a few hundred bytes; anything far larger is no task file, and a file
// that grows while it is read must not be read for ever.
constexpr std::uint64_t kMaxFileSize = 1024 * 1024;

enum class ReadResult { kRead, kOpenFailed, kNotRegular, kTooLarge, kReadFailed };

ReadResult OpenChecked(platform::InputFile& file, const std::string& path) {
  const platform::Error error = file.Open(path);
  if (error == platform::kNotRegularFile) return ReadResult::kNotRegular;
  if (error != platform::kSuccess) return ReadResult::kOpenFailed;
  return file.Size() > kMaxFileSize ? ReadResult::kTooLarge : ReadResult::kRead;
}

// Everything the file holds, each block cut at its first NUL byte, so `text` holds none.
ReadResult ReadWhole(const std::string& path, std::string& text) {
  platform::InputFile file;
  if (const ReadResult opened = OpenChecked(file, path); opened != ReadResult::kRead)
    return opened;
  text.clear();
  char block[kReadBlock];
  for (std::uint64_t total = 0;;) {
    std::uint32_t count = 0;
    if (file.Read(block, kReadBlock, count) != platform::kSuccess) return ReadResult::kReadFailed;
    if (count == 0) return ReadResult::kRead;
    if ((total += count) > kMaxFileSize) return ReadResult::kTooLarge;
    const void* nul = std::memchr(block, '\0', count);
    text.append(block, nul ? static_cast<const char*>(nul) - block : count);
  }
}

std::string_view NameOf(const XmlNode& node) { return {node.name(), node.name_size()}; }

bool IsElement(const XmlNode& node, std::string_view name) {
  return node.type() == rapidxml::node_element && NameOf(node) == name;
}

// The parser makes a data node only of a stretch that holds more than white space, and
// none of comments, so the first data child is the value. An expanded "&#0;" ends it, as
// it would end the C string.
std::string ValueOf(const XmlNode& element) {
  for (const XmlNode* child = element.first_node(); child; child = child->next_sibling()) {
    if (child->type() != rapidxml::node_data) continue;
    const std::string_view value(child->value(), child->value_size());
    return std::string(value.substr(0, value.find('\0')));
  }
  return {};
}

void ReportUnknown(LogFile& messages, const XmlNode& node) {
  messages.LogFormat("Unknown node: %s\n", std::string(NameOf(node)).c_str());
}

// What is wrong with the last Cron expression given; empty when it parsed.
using CronError = std::optional<std::string>;

void ReadSchedule(const XmlNode& schedule, TaskDefinition& definition,
                  LogFile& messages, CronError& cronError) {
  for (const XmlNode* child = schedule.first_node(); child; child = child->next_sibling()) {
    if (IsElement(*child, "WaitPeriodSeconds")) {
      definition.waitPeriodSeconds = platform::AtoiValue(ValueOf(*child));
    } else if (IsElement(*child, "Cron")) {
      std::string error;
      definition.cron = CronExpression::Parse(ValueOf(*child), error);
      cronError = definition.cron ? CronError() : CronError(error);
    } else {
      ReportUnknown(messages, *child);
    }
  }
}

void ReadTaskElement(const XmlNode& element, TaskDefinition& definition,
                     LogFile& messages, CronError& cronError) {
  for (const XmlNode* child = element.first_node(); child; child = child->next_sibling()) {
    if (IsElement(*child, "Name"))
      definition.name = ValueOf(*child);
    else if (IsElement(*child, "Command"))
      definition.command = ValueOf(*child);
    else if (IsElement(*child, "ForceKill"))
      definition.forceKill = ValueOf(*child) == "true";
    else if (IsElement(*child, "Schedule"))
      ReadSchedule(*child, definition, messages, cronError);
    else if (IsElement(*child, "TimeLimitSeconds"))
      definition.timeLimitSeconds = platform::AtoiValue(ValueOf(*child));
    else if (IsElement(*child, "Enabled"))
      definition.enabled = ValueOf(*child);
    else if (IsElement(*child, "RetryAfterSeconds"))
      definition.retryAfterSeconds = platform::AtoiValue(ValueOf(*child));
    else if (IsElement(*child, "RetryCount"))
      definition.retryCount = platform::AtoiValue(ValueOf(*child));
    else
      ReportUnknown(messages, *child);
  }
}

const XmlNode* FirstElement(const rapidxml::xml_document<char>& document) {
  const XmlNode* node = document.first_node();
  while (node && node->type() != rapidxml::node_element) node = node->next_sibling();
  return node;
}

}  // namespace

std::optional<TaskDefinition> ParseTaskDefinition(std::string text, const std::string& path,
                                                  LogFile& messages) {
  const auto reportParseError = [&](const char* what, std::size_t offset) {
    messages.LogFormat("Couldn't parse %s: %s at byte %lu.\n", path.c_str(), what,
                       static_cast<unsigned long>(offset));
  };
  if (const std::size_t at = FindTooDeepElement(text, kMaxNesting); at != std::string::npos) {
    reportParseError("elements nested too deeply", at);
    return std::nullopt;
  }
  // The document's nodes point into `text`, which lives as long as it does.
  rapidxml::xml_document<char> document;
  try {
    document.parse<0>(text.data());
  } catch (const rapidxml::parse_error& error) {
    const char* where = error.where<char>();
    reportParseError(error.what(), where ? static_cast<std::size_t>(where - text.data()) : 0);
    return std::nullopt;
  }
  // A document of only a declaration, comments or nothing has no task to read.
  const XmlNode* task = FirstElement(document);
  if (task == nullptr) return std::nullopt;
  TaskDefinition definition;
  CronError cronError;
  ReadTaskElement(*task, definition, messages, cronError);
  // A schedule that cannot be read is no schedule to run by: the file fails as a malformed
  // one does.
  if (cronError) {
    messages.LogFormat("Invalid Cron schedule in %s: %s", path.c_str(), cronError->c_str());
    return std::nullopt;
  }
  return definition;
}

std::optional<TaskDefinition> ReadTaskDefinition(const std::string& path,
                                                 LogFile& messages) {
  std::string text;
  switch (ReadWhole(path, text)) {
    case ReadResult::kOpenFailed:
      messages.LogFormat("Couldn't open %s for read.\n", path.c_str());
      return std::nullopt;
    case ReadResult::kNotRegular:
      messages.LogFormat("Couldn't open %s for read: not a regular file.\n", path.c_str());
      return std::nullopt;
    case ReadResult::kTooLarge:
      messages.LogFormat("Couldn't read %s: larger than 1 MiB.\n", path.c_str());
      return std::nullopt;
    case ReadResult::kReadFailed:
      messages.Log("Read failed\n");
      return std::nullopt;
    case ReadResult::kRead:
      break;
  }
  // Moved in, the text is released with the document: no task keeps its file's bytes.
  return ParseTaskDefinition(std::move(text), path, messages);
}

}  // namespace hvs
