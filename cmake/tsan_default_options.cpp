// Where the programs of a ThreadSanitizer build write their reports when nobody would see them.
//
// A service started by our service control manager gets a fixed environment without
// TSAN_OPTIONS and its standard error on /dev/null, so its reports would be lost; such a
// process, like any other whose standard error is /dev/null, writes them to files named by
// HVS_TSAN_REPORTS and its process id, which scripts/test.sh looks at. Everything else comes
// from TSAN_OPTIONS, which takes precedence where it names the same option.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef HVS_TSAN_REPORTS
#error "HVS_TSAN_REPORTS must name the report files' path prefix"
#endif

// Runs while the sanitizer starts up, before instrumented code may run, so it is not
// instrumented itself and asks the kernel directly instead of through intercepted calls.
extern "C" __attribute__((no_sanitize("thread"), visibility("default"))) const char*
__tsan_default_options() {
  struct stat errorOutput {};
  const bool lost = ::syscall(SYS_fstat, 2, &errorOutput) == 0 && S_ISCHR(errorOutput.st_mode) &&
                    errorOutput.st_rdev == makedev(1, 3);
  return lost ? "log_path=" HVS_TSAN_REPORTS : "";
}
