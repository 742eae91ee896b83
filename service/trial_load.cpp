// Loading task files through a read-only context and collecting the loader's messages.
#include "service/trial_load.h"

#include <algorithm>

#include "platform/error_text.h"
#include "platform/registry.h"

namespace hvs {

namespace {

std::string WithoutLineEnd(std::string_view message) {
  const auto end = message.find_last_not_of("\r\n ");
  return std::string(message.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

}  // namespace

TrialLoader::TrialLoader(const std::string& programDirectory, const platform::Clock& clock)
    : context_(
          programDirectory,
          [this](std::string_view message) { messages_.push_back(WithoutLineEnd(message)); },
          clock) {}

platform::Error TrialLoader::FindTaskFiles(std::vector<platform::FileEntry>& files) const {
  const platform::Error error =
      platform::FindFiles(platform::JoinPath(context_.ConfigDirectory(), "*.xml"), files);
  // The catalogue's map orders its keys byte by byte.
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return error;
}

TrialLoad TrialLoader::Load(const platform::FileEntry& match, const std::string& path) {
  TrialLoad trial;
  trial.task = std::make_unique<Task>(context_);
  messages_.clear();
  trial.definition = trial.task->Load(match, path);
  trial.messages = std::move(messages_);
  messages_.clear();
  return trial;
}

platform::Error ReportUnusableRegistry(std::ostream& err) {
  std::string why;
  const platform::Error error = platform::RegistryStoreProblem(why);
  if (error != platform::kSuccess) err << "The registry store cannot be used: " << why << "\n";
  return error;
}

void ReportSearchFailure(std::ostream& err, const std::string& directory, platform::Error error) {
  err << "Cannot search " << directory << " for task files: error " << error << ", "
      << WithoutLineEnd(platform::SystemErrorText(error)) << "\n";
}

}  // namespace hvs
