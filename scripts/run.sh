#!/usr/bin/env bash
# Builds the program (Linux) and runs it from a program directory under build/run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target ZAVPluginService

program_dir=build/run
mkdir -p "$program_dir"
cp build/native/service/ZAVPluginService "$program_dir/"
echo "Program directory: $program_dir"
exec "$program_dir/ZAVPluginService" "$@"
