// The child programs of the task tests and the fixture around them.
#include "tests/tasks/task_fixture.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/process.h"
#include "tasks/stop_event.h"
#include "tasks/watcher_threads.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/registry_tree.h"

namespace hvs::tasktest {

namespace {

constexpr const char* kRole = "task-program";
constexpr const char* kStartsSuffix = ".starts";

std::string BaseName(const std::string& path) {
  return path.substr(path.find_last_of(platform::PathSeparator()) + 1);
}

// Writes `text` one byte at a time, each at once, its first half to standard output and
// the rest to standard error; ends with `exitCode`.
int Talk(const std::string& text, int exitCode) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::FILE* stream = i < text.size() / 2 ? stdout : stderr;
    std::fputc(text[i], stream);
    std::fflush(stream);
  }
  return exitCode;
}

// Writes kFloodRecords numbered records of kFloodRecordBytes ("000000000;", ...) to standard
// output, without a line end that a Windows runtime would widen.
int Flood() {
  std::string block;
  char line[16];
  for (std::uint32_t i = 0; i < kFloodRecords; ++i) {
    std::snprintf(line, sizeof line, "%09u;", static_cast<unsigned>(i));
    block += line;
    if (block.size() >= 64 * 1024 || i + 1 == kFloodRecords) {
      std::fwrite(block.data(), 1, block.size(), stdout);
      block.clear();
    }
  }
  std::fflush(stdout);
  return 0;
}

// The argument is the directory in which each program appends its id to its own record.
// What it does then follows its kind, the start of its name (see NewProgram).
const bool kTaskProgram = testsupport::RegisterChildRole(kRole, [](const std::string& directory) {
  const std::string name = BaseName(platform::ProgramPath());
  std::ofstream(platform::JoinPath(directory, name + kStartsSuffix), std::ios::app)
      << testsupport::CurrentProcessId() << "\n";
  if (name.starts_with("exit3")) return 3;
  if (name.starts_with("crash")) testsupport::EndAsACrash();
  if (name.starts_with("talk"))
    return Talk(testsupport::ReadFile(platform::JoinPath(directory, name + ".say")),
                name.starts_with("talk0") ? 0 : 3);
  if (name.starts_with("flood")) return Flood();
  const std::string childFile = platform::JoinPath(directory, name + ".child");
  platform::Process child;
  if (name.starts_with("tree")) child.Create(testsupport::ReadFile(childFile));
  if (name.starts_with("parent"))
    testsupport::StartHoldingOutput(testsupport::ReadFile(childFile));
  if (name.starts_with("sleep") || name.starts_with("tree"))
    std::this_thread::sleep_for(std::chrono::seconds(30));
  return 0;
});

}  // namespace

TaskFixture::TaskFixture() : startsDirectory_(program / "starts") {
  testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
  platform::CreateDirectory(startsDirectory_);
  // Watchers pass this process's environment on: every program they start plays the role.
  testsupport::SetEnv("HVS_TEST_CHILD_ROLE", kRole);
  testsupport::SetEnv("HVS_TEST_CHILD_ARG", startsDirectory_);
  EXPECT_EQ(CreateStopEvent(""), platform::kSuccess);
  context = std::make_unique<ServiceContext>(program.path(), false, clock);
}

TaskFixture::~TaskFixture() {
  // No watcher may outlive its test while it starts a process: the next test changes the
  // environment that the start reads. At the stop every watcher lets go of its process.
  SetStopEvent();
  EXPECT_TRUE(Eventually([] { return WatcherThreads::Shared().UnfinishedJobs() == 0; }))
      << "a watcher still runs at the end of the test";
  context.reset();
  CloseStopEvent();
  testsupport::UnsetEnv("HVS_TEST_CHILD_ROLE");
  testsupport::UnsetEnv("HVS_TEST_CHILD_ARG");
  testsupport::DeleteRegistryTree("SOFTWARE\\Sorvane");
}

std::string TaskFixture::NewProgram(const std::string& kind) {
  static std::atomic<unsigned> counter{0};
  const std::string path = program / (kind + "_" + std::to_string(testsupport::CurrentProcessId()) +
                                      "_" + std::to_string(counter++) + ".exe");
  EXPECT_TRUE(testsupport::CopySelfTo(path)) << path;
  return path;
}

void TaskFixture::StartsWith(const std::string& path, const std::string& command) const {
  testsupport::WriteFile(platform::JoinPath(startsDirectory_, BaseName(path) + ".child"), command);
}

void TaskFixture::Says(const std::string& path, const std::string& text) const {
  testsupport::WriteFile(platform::JoinPath(startsDirectory_, BaseName(path) + ".say"), text);
}

std::string TaskFixture::MissingProgram() { return program / "missing_program.exe"; }

std::string TaskFixture::CommandFor(const std::string& path, const std::string& arguments) {
  return testsupport::QuotedCommand(path) + (arguments.empty() ? "" : " " + arguments);
}

std::vector<std::uint32_t> TaskFixture::StartsOf(const std::string& path) const {
  std::vector<std::uint32_t> ids;
  const std::string record = platform::JoinPath(startsDirectory_, BaseName(path) + kStartsSuffix);
  if (!testsupport::FileExists(record)) return ids;
  std::istringstream lines(testsupport::ReadFile(record));
  // Only whole lines count: a program may be writing its own.
  for (std::string line; std::getline(lines, line);)
    if (!lines.eof()) ids.push_back(static_cast<std::uint32_t>(std::stoul(line)));
  return ids;
}

std::uint32_t TaskFixture::WaitForStart(const std::string& path, std::size_t count) const {
  std::uint32_t id = 0;
  Eventually([&] {
    const std::vector<std::uint32_t> ids = StartsOf(path);
    if (ids.size() >= count) id = ids[count - 1];
    return id != 0;
  });
  return id;
}

bool TaskFixture::EndProcess(std::uint32_t id) {
  return id != 0 && testsupport::KillProcessId(id) &&
         Eventually([&] { return !testsupport::ProcessIdInUse(id); });
}

std::unique_ptr<Task> TaskFixture::NewTask(const std::string& name, const std::string& command,
                                           bool forceKill, std::int32_t period) {
  auto task = std::make_unique<Task>(*context);
  task->Name = name;
  task->FileName = name + ".xml";
  task->Command = command;
  task->RunCommand = command;
  task->DisplayCommand = command;
  task->ForceKill = forceKill;
  task->WaitPeriodSeconds = period;
  task->Loaded = true;
  return task;
}

bool TaskFixture::Finished(const Task& task) {
  return Eventually([&] { return !task.watcher.IsRunning(); });
}

std::vector<std::string> TaskFixture::LogMessages() const {
  return testsupport::LogMessages(platform::JoinPath(context->LogsDirectory(), "HVS.Log"));
}

std::string TaskFixture::StoredValue(const std::string& task, const std::string& name) {
  std::string bytes;
  return testsupport::ReadRawValue("SOFTWARE\\Sorvane\\HVS\\" + task, name, bytes) ? bytes
                                                                                  : "<absent>";
}

std::vector<std::string> TaskFixture::Timeless(std::vector<std::string> messages) {
  for (std::string& message : messages) {
    const std::size_t after = message.rfind(" after ");
    if (message.starts_with("Task '") && after != std::string::npos && message.ends_with("."))
      message = message.substr(0, after) + " after <t>.";
  }
  return messages;
}

std::string TaskFixture::KilledLine(const std::string& escapedName) {
  const platform::ExitStatus killed = testsupport::TerminatedExitStatus();
  if (killed.signal != 0)
    return "Task '" + escapedName + "' was ended by signal " + std::to_string(killed.signal) +
           " (" + platform::SignalName(killed.signal) + ") after <t>.";
  return "Task '" + escapedName + "' finished with exit code " + std::to_string(killed.code) +
         " after <t>.";
}

std::vector<std::string> TaskFixture::MessagesSince(std::size_t mark) const {
  std::vector<std::string> messages = LogMessages();
  messages.erase(messages.begin(),
                 messages.begin() + static_cast<std::ptrdiff_t>(std::min(mark, messages.size())));
  return messages;
}

}  // namespace hvs::tasktest
