// POSIX console events: signals to the whole process reach the handler on its own thread.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ntservice/service_shell.h"
#include "platform/manual_reset_event.h"
#include "platform/process.h"
#include "platform/services.h"
#include "tests/support/child_process.h"
#include "tests/support/child_role.h"
#include "tests/support/test_env.h"

namespace {

// What the handler saw, shared with the thread that waits for it.
struct Seen {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::uint32_t> events;
  std::vector<std::thread::id> threads;
};
// Never destroyed: the handler thread outlives every destructor at exit.
Seen& seen = *new Seen;
std::atomic<bool> handled{true};

bool Record(std::uint32_t event) {
  const std::lock_guard<std::mutex> lock(seen.lock);
  seen.events.push_back(event);
  seen.threads.push_back(std::this_thread::get_id());
  seen.changed.notify_all();
  return handled.load();
}

// Waits for the handler's `n`-th call (from 0) and tells what it was given and where.
bool WaitForEvent(std::size_t n, std::uint32_t& event, std::thread::id& thread) {
  std::unique_lock<std::mutex> lock(seen.lock);
  if (!seen.changed.wait_for(lock, std::chrono::seconds(10), [&] { return seen.events.size() > n; }))
    return false;
  event = seen.events[n];
  thread = seen.threads[n];
  return true;
}

// Exit codes tell the parent what went wrong: 10 + n no event for the n-th signal,
// 20 + n the wrong event, 30 the handler ran on the signalling thread.
const bool signalsRole = testsupport::RegisterChildRole("console-signals", [](const std::string&) {
  if (platform::AddConsoleControlHandler(&Record) != 0) return 1;
  const int signals[] = {SIGTERM, SIGINT, SIGQUIT, SIGHUP};
  const std::uint32_t expected[] = {2, 0, 1, 2};
  for (int n = 0; n < 4; ++n) {
    ::kill(::getpid(), signals[n]);  // to the process, not to this thread
    std::uint32_t event = 0;
    std::thread::id thread;
    if (!WaitForEvent(n, event, thread)) return 10 + n;
    if (event != expected[n]) return 20 + n;
    if (thread == std::this_thread::get_id()) return 30;
  }
  return 0;
});

// A handler that declines: the signal then does what it does by default.
const bool declinesRole = testsupport::RegisterChildRole("console-declines", [](const std::string&) {
  handled = false;
  if (platform::AddConsoleControlHandler(&Record) != 0) return 1;
  ::kill(::getpid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::seconds(10));
  return 2;
});

// The foreground service: SIGTERM, as systemd or kill sends it, reaches OnStop.
class StoppableShell : public hvs::CServiceShell {
 public:
  StoppableShell() : CServiceShell("HvsTestService", "HVS Test", "") {}
  void OnStop() override { stopped = true; }
  void ServiceMainBody(std::uint32_t, char**) override {
    ::kill(::getpid(), SIGTERM);
    for (int tick = 0; tick < 1000 && !stopped; ++tick)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!stopped) throw hvs::CServiceShellTerminateException(3, 0);
  }
  std::atomic<bool> stopped{false};
};

const bool foregroundRole = testsupport::RegisterChildRole("console-foreground", [](const std::string&) {
  StoppableShell shell;
  hvs::CServiceShellCommandLineInfo info;
  shell.ParseArguments(info);
  return static_cast<int>(shell.ExecuteVerb(info));
});

// Starts this executable in `role` with `switches` and waits for it to end.
platform::ExitStatus RunRole(const std::string& role, const std::string& switches) {
  platform::Process process;
  {
    const testsupport::ChildRoleEnvironment environment(role, "");
    EXPECT_EQ(process.Create(testsupport::QuotedCommand(testsupport::SelfPath()) + switches), 0u);
  }
  platform::ManualResetEvent neverSet;
  EXPECT_EQ(neverSet.Create(""), 0u);
  EXPECT_EQ(process.WaitWith(neverSet), platform::Process::WaitResult::ProcessEnded);
  platform::ExitStatus status;
  EXPECT_TRUE(process.GetExitStatus(status));
  return status;
}

TEST(ConsoleControl, TermIntQuitAndHupArriveAsCloseCtrlCCtrlBreakAndClose) {
  const platform::ExitStatus status = RunRole("console-signals", "");
  EXPECT_EQ(status.signal, 0);
  EXPECT_EQ(status.code, 0u);
}

TEST(ConsoleControl, DeclinedSignalEndsTheProcessAsItWouldHaveWithoutHandler) {
  const platform::ExitStatus status = RunRole("console-declines", "");
  EXPECT_EQ(status.signal, SIGTERM);
}

TEST(ConsoleControl, TermStopsTheForegroundService) {
  const platform::ExitStatus status = RunRole("console-foreground", " /console");
  EXPECT_EQ(status.signal, 0);
  EXPECT_EQ(status.code, 0u);
}

}  // namespace
