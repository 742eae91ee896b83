// Loading task files through a read-only context and collecting the loader's messages.
#include "service/task_inspection.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/error_text.h"

namespace hvs {

namespace {

// Tells an absent element. A file gives it only by writing -2147483648 or less, and is then
// reported as having none, which is a warning all the same.
constexpr std::int32_t kNoPeriod = std::numeric_limits<std::int32_t>::min();

std::string WithoutLineEnd(std::string_view message) {
  const auto end = message.find_last_not_of("\r\n ");
  return std::string(message.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

}  // namespace

TaskInspector::TaskInspector(const std::string& programDirectory, const platform::Clock& clock)
    : context_(
          programDirectory,
          [this](std::string_view message) { messages_.push_back(WithoutLineEnd(message)); },
          clock) {}

platform::Error TaskInspector::FindTaskFiles(std::vector<platform::FileEntry>& files) const {
  const platform::Error error =
      platform::FindFiles(platform::JoinPath(context_.ConfigDirectory(), "*.xml"), files);
  // The catalogue's map orders its keys byte by byte.
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return error;
}

InspectedTask TaskInspector::Inspect(const platform::FileEntry& match, const std::string& path) {
  InspectedTask inspected;
  inspected.task = std::make_unique<Task>(context_);
  Task& task = *inspected.task;
  // An absent element leaves its field alone, so a sentinel shows whether the file gave it.
  const std::int32_t initialPeriod = task.WaitPeriodSeconds;
  task.WaitPeriodSeconds = kNoPeriod;

  messages_.clear();
  inspected.loaded = task.Load(match, path);
  inspected.messages = std::move(messages_);
  messages_.clear();

  inspected.periodGiven = task.WaitPeriodSeconds != kNoPeriod;
  if (!inspected.periodGiven) task.WaitPeriodSeconds = initialPeriod;
  return inspected;
}

void ReportSearchFailure(std::ostream& err, const std::string& directory, platform::Error error) {
  err << "Cannot search " << directory << " for task files: error " << error << ", "
      << WithoutLineEnd(platform::SystemErrorText(error)) << "\n";
}

}  // namespace hvs
