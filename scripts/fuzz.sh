#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each for SECONDS; fails on a finding.
# Usage: scripts/fuzz.sh SECONDS [TARGET ...]   (default: every target of the table below)
# Each target keeps its corpus in build/fuzz/corpus/TARGET and saves a finding (the input that
# broke a property, crashed or hung) in build/fuzz/artifacts/TARGET/; FUZZ_NICE=19 runs at low priority.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET ...]}
shift
scripts/install-deps.sh native

# Each target with the target whose dictionary, seeds and corpus it shares (the same input
# format). An in-memory target runs before its slow twin, which starts from what it found.
targets=(
  "substitute_memory_fuzz substitute_fuzz"
  "substitute_fuzz substitute_memory_fuzz"
  "task_text_fuzz task_file_fuzz"
  "task_file_fuzz task_text_fuzz"
  "output_masker_fuzz -"
  "command_line_fuzz -"
  "cron_fuzz -"
)

build=build/fuzz
# Everything is instrumented for coverage and the sanitizers; only the fuzzers link libFuzzer.
# Warnings are policed by the g++ builds, not by this one. Comparisons are not traced: the
# dictionaries hold the fixed words the code looks for, texts compared whole still reach the
# fuzzer through its memcmp hooks, and a callback for every compare of a character loop cost
# up to two fifths of the time without reaching more code. The standard library's
# out-of-line container code is left without coverage: it only slowed every input.
flags="-g -O1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=all"
flags+=" -fsanitize=fuzzer-no-link -fno-sanitize-coverage=trace-cmp"
ignore=tests/fuzz/coverage_ignore.txt
# The compiler does not track the list as a dependency: its checksum in the flags does.
flags+=" -fsanitize-coverage-ignorelist=$PWD/$ignore -DHVS_COVERAGE_IGNORE=$(cksum <"$ignore" | cut -d' ' -f1)"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE= \
  -DHVS_FUZZ=ON -DHVS_BUILD_TESTS=OFF -DHVS_WERROR=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build" --target fuzzers -j2

status=0
ran=0
for entry in "${targets[@]}"; do
  read -r name twin <<<"$entry"
  if [ $# -gt 0 ] && [[ " $* " != *" $name "* ]]; then continue; fi
  fuzzer="$build/tests/fuzz/$name"
  [ -x "$fuzzer" ] || { echo "*** $name was not built" >&2; status=1; continue; }
  ran=$((ran + 1))
  corpus="$build/corpus/$name"
  artifacts="$build/artifacts/$name"
  mkdir -p "$corpus" "$artifacts"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  inputs=("$corpus")
  for source in "$name" "$twin"; do
    [ -f "tests/fuzz/$source.dict" ] && options+=(-dict="tests/fuzz/$source.dict")
    [ -d "tests/fuzz/seeds/$source" ] && inputs+=("tests/fuzz/seeds/$source")
  done
  [ "$twin" != - ] && [ -d "$build/corpus/$twin" ] && inputs+=("$build/corpus/$twin")
  echo "=== $name for ${seconds}s ==="
  if ! nice -n "${FUZZ_NICE:-0}" "$fuzzer" "${options[@]}" "${inputs[@]}"; then
    echo "*** $name: finding saved under $artifacts" >&2
    status=1
  fi
done
[ "$ran" -gt 0 ] || { echo "no fuzzer ran" >&2; exit 1; }
exit $status
