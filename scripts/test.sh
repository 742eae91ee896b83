#!/usr/bin/env bash
# Installs what is missing, builds the native, native-asan and win32 targets and runs every test;
# builds the native and win32 release presets too. Ends with what failed, if anything.
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

jobs=$(nproc)
failed=()
for preset in native native-asan win32 native-release win32-release; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  # The release presets build no tests: building them, warnings as errors, is their check.
  [[ $preset == *-release ]] || ctest --preset "$preset" -j"$jobs" || failed+=("$preset")
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
    *) failed_tests_output "$step" ;;
  esac
done
exit 1
