// The reference for the cost of a task start: a bare fork, exec and wait of one program,
// and the same done through the platform's Process, as a task's watcher does it; one at a
// time, or many at once as a tick starts its due tasks.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/manual_reset_event.h"
#include "platform/process.h"

namespace {

double Seconds(const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; }

// CPU seconds, user and system, of this process or of its waited-for children.
double CpuOf(int who) {
  rusage usage {};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

pid_t BareStart(char* program) {
  char* const childArgv[] = {program, nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    execv(program, childArgv);
    _exit(127);
  }
  return pid;
}

bool BareWait(pid_t pid) {
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid;
}

// The watcher's wait on a created process and an event that is never set.
bool ProcessWait(platform::Process& process, const platform::ManualResetEvent& never) {
  return process.IsValid() &&
         process.WaitWith(never) == platform::Process::WaitResult::ProcessEnded;
}

// Starts every program, then waits for each: the number that ran.
long RunAll(bool bare, const std::vector<char*>& programs, const platform::ManualResetEvent& never) {
  long runs = 0;
  if (bare) {
    std::vector<pid_t> pids;
    for (char* program : programs) pids.push_back(BareStart(program));
    for (const pid_t pid : pids) runs += BareWait(pid);
  } else {
    std::vector<platform::Process> processes(programs.size());
    for (std::size_t i = 0; i < programs.size(); ++i) processes[i].Create(programs[i]);
    for (platform::Process& process : processes) runs += ProcessWait(process, never);
  }
  return runs;
}

// The service's tick: its starts come once a second.
void SleepToNextSecond() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const timespec rest {0, 1000000000L - now.tv_nsec};
  nanosleep(&rest, nullptr);
}

}  // namespace

// hvs_spawn_loop bare|process ROUNDS PROGRAM...: with one PROGRAM (a path, no arguments),
// runs it ROUNDS times one after the other; with several, each round starts them all at
// once, waits for them, then for the next second. Prints "runs self-seconds
// children-seconds".
int main(int argc, char** argv) {
  const bool bare = argc >= 4 && std::strcmp(argv[1], "bare") == 0;
  if (argc < 4 || (!bare && std::strcmp(argv[1], "process") != 0)) {
    std::fprintf(stderr, "usage: %s bare|process ROUNDS PROGRAM...\n", argv[0]);
    return 2;
  }
  const long rounds = std::atol(argv[2]);
  const std::vector<char*> programs(argv + 3, argv + argc);
  platform::ManualResetEvent never;
  never.Create("");
  long runs = 0;
  for (long round = 0; round < rounds; ++round) {
    runs += RunAll(bare, programs, never);
    if (programs.size() > 1) SleepToNextSecond();
  }
  std::printf("%ld %.6f %.6f\n", runs, CpuOf(RUSAGE_SELF), CpuOf(RUSAGE_CHILDREN));
  return runs == rounds * static_cast<long>(programs.size()) ? 0 : 1;
}
