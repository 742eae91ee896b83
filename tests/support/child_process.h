// Child processes that a test starts, lets run, and ends itself by their process id.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/process.h"
#include "tests/support/test_env.h"

namespace testsupport {

// Full path of the running test executable.
std::string SelfPath();
// Copies the test executable to `path`, runnable there; false when it cannot.
bool CopySelfTo(const std::string& path);
// `path` quoted as the first token of a command line.
inline std::string QuotedCommand(const std::string& path) { return "\"" + path + "\""; }

// While it lives, every process started from this one plays `role` with `argument`.
class ChildRoleEnvironment {
 public:
  ChildRoleEnvironment(const std::string& role, const std::string& argument) {
    SetEnv("HVS_TEST_CHILD_ROLE", role);
    SetEnv("HVS_TEST_CHILD_ARG", argument);
  }
  ~ChildRoleEnvironment() {
    UnsetEnv("HVS_TEST_CHILD_ROLE");
    UnsetEnv("HVS_TEST_CHILD_ARG");
  }
  ChildRoleEnvironment(const ChildRoleEnvironment&) = delete;
  ChildRoleEnvironment& operator=(const ChildRoleEnvironment&) = delete;
};

// A test executable started in a role and not waited for. The destructor kills it if it
// still runs.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `executable` (an executable copy of the tests) in `role`; false on failure.
  bool Start(const std::string& executable, const std::string& role, const std::string& argument);
  std::uint32_t id() const { return id_; }
  // Kills it by its process id and waits until it is gone; false when that fails.
  bool Kill();

 private:
  platform::UniqueProcessHandle handle_;  // Windows: the handle that keeps the id ours
  std::uint32_t id_ = 0;
};

// Starts `commandLine` as a shell starts a program, not waited for: the new process holds
// this one's standard output and error (POSIX always; Windows by inheriting them, as cmd.exe
// starts its programs). False when it cannot be started.
bool StartHoldingOutput(const std::string& commandLine);

// True while the process with this id runs (POSIX: or waits to be reaped).
bool ProcessIdInUse(std::uint32_t id);
// Ends the calling process as an access violation ends it: POSIX by SIGSEGV at its default
// action (whatever a sanitizer installed), Windows with the status 0xC0000005.
[[noreturn]] void EndAsACrash();

// True while the process with this id runs; an ended one that nobody has reaped yet (an
// orphan whose new parent does not reap) does not count.
bool ProcessIdRuns(std::uint32_t id);

// The id of the calling process.
std::uint32_t CurrentProcessId();
// Ends the process with this id at once; false when that fails. Only for a process that
// the test started itself and knows to be running (on POSIX an unreaped child), so that
// the id cannot have passed to another process.
bool KillProcessId(std::uint32_t id);

// What a wait sees of a process ended by platform::Process::Terminate(1).
platform::ExitStatus TerminatedExitStatus();

// Polls `condition` until it holds, for what another process or thread does in its own
// time; false when it still does not hold after `limit`.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  using namespace std::chrono_literals;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (; !condition(); std::this_thread::sleep_for(10ms))
    if (std::chrono::steady_clock::now() > deadline) return false;
  return true;
}

}  // namespace testsupport
