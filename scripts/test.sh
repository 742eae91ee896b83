#!/usr/bin/env bash
# Installs what is missing, builds the native, native-asan and win32 targets and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all

jobs=$(nproc)
status=0
for preset in native native-asan win32; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs" || status=1
done
scripts/package.sh || status=1
echo "=== fuzz ==="
scripts/fuzz.sh 60 || status=1
exit $status
