// Task files loaded as the service loads them, without changing anything, with what the load said.
#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "context/service_context.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/files.h"
#include "tasks/task.h"

namespace hvs {

// One task file as the service's loader left it.
struct TrialLoad {
  std::unique_ptr<Task> task;
  std::optional<TaskDefinition> definition;  // what the file gave; empty when it did not load
  std::vector<std::string> messages;  // what the load logged, in order, line ends trimmed
};

// Holds a read-only ServiceContext for one program directory (nothing is created, the
// registry is only read, no log is written) and gathers its log messages load by load.
class TrialLoader {
 public:
  explicit TrialLoader(const std::string& programDirectory,
                       const platform::Clock& clock = platform::SystemClock());
  TrialLoader(const TrialLoader&) = delete;
  TrialLoader& operator=(const TrialLoader&) = delete;

  // The entries of Config that the catalogue's search finds, in the catalogue's key
  // order. 2 or 3 when the directory cannot be searched.
  platform::Error FindTaskFiles(std::vector<platform::FileEntry>& files) const;
  // Loads the file at `path`, found as `match`, into a new task, as a reload would.
  TrialLoad Load(const platform::FileEntry& match, const std::string& path);

  ServiceContext& context() { return context_; }

 private:
  std::vector<std::string> messages_;
  ServiceContext context_;  // after messages_: its log writes there
};

// When the registry cannot be used (platform::RegistryStoreProblem), says so and why on
// `err` and returns the error; else 0. Values read without it would be mere defaults.
platform::Error ReportUnusableRegistry(std::ostream& err);

// The line that tells `err` why `directory` could not be searched.
void ReportSearchFailure(std::ostream& err, const std::string& directory, platform::Error error);

}  // namespace hvs
