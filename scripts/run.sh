#!/usr/bin/env bash
# Builds the program (Linux) and runs it in the foreground from build/run until Ctrl+C.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh native
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc)" --target ZAVPluginService hvsctl

program_dir=build/run
mkdir -p "$program_dir/Config"
cp build/native/service/ZAVPluginService "$program_dir/"
# The sample task, unless the operator has put task files of their own there.
if ! ls "$program_dir"/Config/*.xml >/dev/null 2>&1; then
  cp packaging/linux/Config/*.xml "$program_dir/Config/"
fi
echo "Program directory: $program_dir (Ctrl+C stops the service)"
exec "$program_dir/ZAVPluginService" /console "$@"
