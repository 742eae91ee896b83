// The task definition file: read in blocks, parsed in place, its known elements taken over.
#include <cstring>
#include <rapidxml/rapidxml.hpp>
#include <string_view>

#include "platform/files.h"
#include "platform/strings.h"
#include "context/service_context.h"
#include "tasks/task.h"
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

void ReportUnknown(LogFile& log, const XmlNode& node) {
  log.LogFormat("Unknown node: %s\n", std::string(NameOf(node)).c_str());
}

void ReadSchedule(const XmlNode& schedule, Task& task) {
  for (const XmlNode* child = schedule.first_node(); child; child = child->next_sibling()) {
    if (IsElement(*child, "WaitPeriodSeconds"))
      task.WaitPeriodSeconds = platform::AtoiValue(ValueOf(*child));
    else
      ReportUnknown(task.context.log(), *child);
  }
}

void ReadTaskElement(const XmlNode& element, Task& task) {
  for (const XmlNode* child = element.first_node(); child; child = child->next_sibling()) {
    if (IsElement(*child, "Name"))
      task.Name = ValueOf(*child);
    else if (IsElement(*child, "Command"))
      task.Command = ValueOf(*child);
    else if (IsElement(*child, "ForceKill"))
      task.ForceKill = ValueOf(*child) == "true";
    else if (IsElement(*child, "Schedule"))
      ReadSchedule(*child, task);
    else
      ReportUnknown(task.context.log(), *child);
  }
}

const XmlNode* FirstElement(const rapidxml::xml_document<char>& document) {
  const XmlNode* node = document.first_node();
  while (node && node->type() != rapidxml::node_element) node = node->next_sibling();
  return node;
}

}  // namespace

bool Task::Parse() {
  // Nothing reads the text after the parse: kept, it would hold every task file's bytes
  // in memory for good. Released after the document, whose nodes point into it.
  struct ReleaseText {
    std::string& text;
    ~ReleaseText() { std::string().swap(text); }
  } release{FileText};
  LogFile& log = context.log();
  switch (ReadWhole(FilePath, FileText)) {
    case ReadResult::kOpenFailed:
      log.LogFormat("Couldn't open %s for read.\n", FilePath.c_str());
      return false;
    case ReadResult::kNotRegular:
      log.LogFormat("Couldn't open %s for read: not a regular file.\n", FilePath.c_str());
      return false;
    case ReadResult::kTooLarge:
      log.LogFormat("Couldn't read %s: larger than 1 MiB.\n", FilePath.c_str());
      return false;
    case ReadResult::kReadFailed:
      log.Log("Read failed\n");
      return false;
    case ReadResult::kRead:
      break;
  }

  const auto reportParseError = [&](const char* what, std::size_t offset) {
    log.LogFormat("Couldn't parse %s: %s at byte %lu.\n", FilePath.c_str(), what,
                  static_cast<unsigned long>(offset));
  };
  if (const std::size_t at = FindTooDeepElement(FileText, kMaxNesting); at != std::string::npos) {
    reportParseError("elements nested too deeply", at);
    return false;
  }
  // The document's nodes point into FileText, and it lives only for this call.
  rapidxml::xml_document<char> document;
  try {
    document.parse<0>(FileText.data());
  } catch (const rapidxml::parse_error& error) {
    const char* where = error.where<char>();
    reportParseError(error.what(), where ? static_cast<std::size_t>(where - FileText.data()) : 0);
    return false;
  }
  // A document of only a declaration, comments or nothing has no task to read.
  const XmlNode* task = FirstElement(document);
  if (task == nullptr) return false;
  ReadTaskElement(*task, *this);
  return true;
}

}  // namespace hvs
