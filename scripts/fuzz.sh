#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for SECONDS; fails on a finding.
# Usage: scripts/fuzz.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS}
scripts/install-deps.sh native

build=build/fuzz
# Everything is instrumented for coverage and the sanitizers; only the fuzzers link libFuzzer.
# Warnings are policed by the g++ builds, not by this one.
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all -fsanitize=fuzzer-no-link"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE= \
  -DHVS_FUZZ=ON -DHVS_BUILD_TESTS=OFF -DHVS_WERROR=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target fuzzers -j"$(nproc)"

status=0
found=0
for fuzzer in "$build"/tests/fuzz/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  found=1
  name=$(basename "$fuzzer")
  corpus="$build/corpus/$name"
  artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  [ -f "tests/fuzz/$name.dict" ] && options+=(-dict="tests/fuzz/$name.dict")
  seeds=()
  [ -d "tests/fuzz/seeds/$name" ] && seeds=("tests/fuzz/seeds/$name")
  echo "=== $name for ${seconds}s ==="
  if ! "$fuzzer" "${options[@]}" "$corpus" "${seeds[@]}"; then
    echo "*** $name: finding saved under $artifacts" >&2
    status=1
  fi
done
[ "$found" -eq 1 ] || { echo "no fuzzer was built" >&2; exit 1; }
exit $status
