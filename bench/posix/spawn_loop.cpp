// The reference for the cost of a task start: a bare fork, exec and wait of one program.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

double Seconds(const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; }

// CPU seconds, user and system, of this process or of its waited-for children.
double CpuOf(int who) {
  rusage usage {};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

}  // namespace

// hvs_spawn_loop COUNT PROGRAM: runs PROGRAM (no arguments, no PATH search) COUNT times,
// one after the other, and prints "runs self-seconds children-seconds".
int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s COUNT PROGRAM\n", argv[0]);
    return 2;
  }
  const long count = std::atol(argv[1]);
  char* const childArgv[] = {argv[2], nullptr};
  long runs = 0;
  for (long i = 0; i < count; ++i) {
    const pid_t pid = fork();
    if (pid < 0) break;
    if (pid == 0) {
      execv(argv[2], childArgv);
      _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) ++runs;
  }
  std::printf("%ld %.6f %.6f\n", runs, CpuOf(RUSAGE_SELF), CpuOf(RUSAGE_CHILDREN));
  return runs == count ? 0 : 1;
}
