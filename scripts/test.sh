#!/usr/bin/env bash
# Installs what is missing, builds the native, native-asan, native-tsan and win32 targets and runs
# every test; builds the native and win32 release presets too. Ends with what failed, if anything.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all

# The output of each failed test of `preset` without its passed checks, at most 60 lines each.
failed_tests_output() {
  local temporary="build/$1/Testing/Temporary" name
  [ -f "$temporary/LastTestsFailed.log" ] || return 0
  while IFS=: read -r _ name; do
    echo "--- $1: $name ---"
    awk -v name="$name" '
      $0 ~ "^[0-9]+/[0-9]+ Testing: " && $NF == name { inside = 1; next }
      inside && /^<end of output>$/ { exit }
      inside' "$temporary/LastTest.log" | grep -vE '^\[ +(RUN|OK) +\]|^ok: ' | tail -n 60 || true
  done < "$temporary/LastTestsFailed.log"
}

tsan_reports=build/native-tsan/tsan-reports

# ThreadSanitizer's reports, at most 60 lines each.
tsan_reports_output() {
  local report
  for report in "$tsan_reports"/*; do
    [ -f "$report" ] || continue
    echo "--- native-tsan: $report ---"
    head -n 60 "$report"
  done
}

# Every test under ThreadSanitizer. Every program of that build writes its reports to files
# (cmake/tsan_default_options.cpp), wherever its standard error goes; any file fails the step.
tsan_tests() {
  local runner=() status=0
  # GCC 12's ThreadSanitizer needs the address layout of at most 28 random bits in mmap
  # addresses; a kernel that randomises more (vm.mmap_rnd_bits 32 on newer systems) makes
  # every program die with "unexpected memory mapping". Lowering the setting takes root and
  # changes the whole machine, so the tests then run with address randomisation off instead,
  # for them alone: setarch's personality flag passes to every process they start.
  if [ "$(cat /proc/sys/vm/mmap_rnd_bits 2>/dev/null || echo 28)" -gt 28 ]; then
    runner=(setarch "$(uname -m)" -R)
  fi
  # A failed list left by an earlier run would stand for this one when only a report fails it.
  rm -f "$tsan_reports"/* build/native-tsan/Testing/Temporary/LastTestsFailed.log
  # The first report also ends its process (exit 66), so that the test fails where the race
  # was; a deadlock report shows where both locks were taken.
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    "${runner[@]}" ctest --preset native-tsan -j"$jobs" || status=1
  if compgen -G "$tsan_reports/*" >/dev/null; then
    echo "ThreadSanitizer reports in $tsan_reports"
    status=1
  fi
  return $status
}

jobs=$(nproc)
failed=()
for preset in native native-asan native-tsan win32 native-release win32-release; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  case $preset in
    # The release presets build no tests: building them, warnings as errors, is their check.
    *-release) ;;
    native-tsan) tsan_tests || failed+=("$preset") ;;
    *) ctest --preset "$preset" -j"$jobs" || failed+=("$preset") ;;
  esac
done
scripts/package.sh || failed+=(package)
echo "=== fuzz ==="
scripts/fuzz.sh 60 || failed+=(fuzz)

# Last, so that the end of a long log says what went wrong.
[ "${#failed[@]}" -eq 0 ] && exit 0
echo "=== failed: ${failed[*]} ==="
for step in "${failed[@]}"; do
  case $step in
    package | fuzz) echo "--- $step: see its output above ---" ;;
    native-tsan) failed_tests_output "$step"; tsan_reports_output ;;
    *) failed_tests_output "$step" ;;
  esac
done
exit 1
