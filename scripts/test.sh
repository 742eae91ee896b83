#!/usr/bin/env bash
# Installs what is missing, builds the native, native-asan and win32 targets and runs every test;
# builds the native and win32 release presets too.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all

jobs=$(nproc)
status=0
for preset in native native-asan win32 native-release win32-release; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  # The release presets build no tests: building them, warnings as errors, is their check.
  [[ $preset == *-release ]] || ctest --preset "$preset" -j"$jobs" || status=1
done
scripts/package.sh || status=1
echo "=== fuzz ==="
scripts/fuzz.sh 60 || status=1
exit $status
