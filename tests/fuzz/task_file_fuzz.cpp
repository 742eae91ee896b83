// libFuzzer target: arbitrary bytes as a task definition file, through the real Task::Load.
//
// Each input becomes Config/job.xml of a program directory kept in /dev/shm, and a fresh
// Task loads it with the real context: the block read, the nesting check, the parser, the
// walk, the registry's LastRun, the substitution and a Cron schedule's next time. The registry
// subkeys and the log lines that one input leaves are removed, so inputs do not see each other.
// Besides, the nesting check is compared with the depth of every document the parser accepts.
// task_text_fuzz tries the same inputs many times faster on the parser alone.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/registry.h"
#include "context/service_context.h"
#include "tasks/task.h"
#include "tests/fuzz/fail.h"
#include "tests/fuzz/fuzz_state.h"
#include "tests/fuzz/nesting_check.h"
#include "tests/support/registry_tree.h"

namespace {

constexpr const char* kProgramKey = "SOFTWARE\\Sorvane\\HVS";

std::filesystem::path gStateDirectory;
hvs::ServiceContext* gContext = nullptr;

void Fail(const char* what) { fuzzsupport::Fail("task_file_fuzz", what); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gStateDirectory = fuzzsupport::UsePrivateStateDirectory("hvs-task-fuzz-", "program");
  gContext = new hvs::ServiceContext((gStateDirectory / "program").string(), false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = platform::JoinPath(gContext->ConfigDirectory(), "job.xml");
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file) Fail("cannot write the task file");
  }
  {
    hvs::Task task(*gContext);
    platform::FileEntry match;
    match.name = "job.xml";
    if (task.Load(match, path).has_value() != task.Loaded) Fail("Load's result differs from Loaded");
    if (task.FileName != "job.xml" || task.FilePath != path) Fail("file fields not set");
    // A Cron schedule's next time is the first second at which the task is due.
    if (task.Loaded && task.Cron && task.Enabled) {
      task.Cron->Describe();
      if (const std::optional<std::int64_t> next = task.NextDue())
        if (!task.IsDue(*next) || task.IsDue(*next - 1)) Fail("NextDue is not the first due second");
    }
  }
  fuzzsupport::CheckNesting(data, size, "task_file_fuzz");

  testsupport::DeleteRegistryTree(kProgramKey);
  std::error_code ignored;
  std::filesystem::remove(platform::JoinPath(gContext->LogsDirectory(), "HVS.Log"), ignored);
  return 0;
}
