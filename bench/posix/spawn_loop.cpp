// The reference for the cost of a task start: a bare fork, exec and wait of one program,
// and the same done through the platform's Process, as a task's watcher does it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/event.h"
#include "platform/process.h"

namespace {

double Seconds(const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; }

// CPU seconds, user and system, of this process or of its waited-for children.
double CpuOf(int who) {
  rusage usage {};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

bool BareRun(char* program) {
  char* const childArgv[] = {program, nullptr};
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    execv(program, childArgv);
    _exit(127);
  }
  int status = 0;
  return waitpid(pid, &status, 0) == pid;
}

// Create, then the watcher's wait on the process and an event that is never set.
bool ProcessRun(const char* program, const platform::Event& never) {
  platform::Process process;
  return process.Create(program) == platform::kSuccess &&
         process.WaitWith(never) == platform::Process::WaitResult::ProcessEnded;
}

}  // namespace

// hvs_spawn_loop bare|process COUNT PROGRAM: runs PROGRAM (a path, no arguments) COUNT
// times, one after the other, and prints "runs self-seconds children-seconds".
int main(int argc, char** argv) {
  const bool bare = argc == 4 && std::strcmp(argv[1], "bare") == 0;
  if (argc != 4 || (!bare && std::strcmp(argv[1], "process") != 0)) {
    std::fprintf(stderr, "usage: %s bare|process COUNT PROGRAM\n", argv[0]);
    return 2;
  }
  const long count = std::atol(argv[2]);
  platform::Event never;
  never.Create("");
  long runs = 0;
  for (long i = 0; i < count; ++i)
    if (bare ? BareRun(argv[3]) : ProcessRun(argv[3], never)) ++runs;
  std::printf("%ld %.6f %.6f\n", runs, CpuOf(RUSAGE_SELF), CpuOf(RUSAGE_CHILDREN));
  return runs == count ? 0 : 1;
}
