// Where the programs of a ThreadSanitizer build write their reports: files, whatever their
// standard error is.
//
// Standard error often goes where nobody looks: a service started by our service control
// manager has it on /dev/null and a fixed environment without TSAN_OPTIONS, the end-to-end
// scripts send the program's output to files of their own, and a test does not always look at
// the exit status of a child it started. So every report goes to a file named by
// HVS_TSAN_REPORTS and the process id, and scripts/test.sh fails on any such file.
// TSAN_OPTIONS, where set, takes precedence where it names the same option.

#ifndef HVS_TSAN_REPORTS
#error "HVS_TSAN_REPORTS must name the report files' path prefix"
#endif

// Runs while the sanitizer starts up, before instrumented code may run.
extern "C" __attribute__((no_sanitize("thread"), visibility("default"))) const char*
__tsan_default_options() {
  return "log_path=" HVS_TSAN_REPORTS;
}
