#!/usr/bin/env bash
# Runs the release program for MINUTES with 1,000 tasks under churn and fails when it leaks:
# memory rising over the second half, descriptors or threads rising, a zombie that outlives a
# sample, a password in the log or an output file, or a process left running that the
# service should have ended. Not run by CI: it takes as long as it is told to.
#
# Usage: scripts/soak.sh MINUTES   (SOAK_SAMPLE_SECONDS, default 30, sets the sampling period;
# SOAK_WRAPPER runs the program under a tool, e.g. "valgrind --tool=massif --massif-out-file=F")
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:?usage: scripts/soak.sh MINUTES}
sample_seconds=${SOAK_SAMPLE_SECONDS:-30}
build=build/soak
secret='s0ak-S3cret!'

scripts/install-deps.sh native >/dev/null
cmake --preset native-release -B "$build" >/dev/null
cmake --build "$build" -j2 --target ZAVPluginService hvsctl >/dev/null
program=$(realpath "$build/service/ZAVPluginService")
hvsctl=$PWD/$build/tools/hvsctl

base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/hvs-soak.XXXXXX")
dir=$work/program
service=""
cleanup() {
  [ -n "$service" ] && kill -KILL "$service" 2>/dev/null
  # The sleepers of tasks without ForceKill outlive the service by design: they are ours.
  for pid in $(pids_of_programs); do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Every process that runs one of this soak's programs (the copies under $dir/bin).
pids_of_programs() {
  local link pid
  for link in /proc/[0-9]*/exe; do
    pid=${link#/proc/}
    pid=${pid%/exe}
    case "$(readlink "$link" 2>/dev/null)" in "$dir/bin/"*) echo "$pid" ;; esac
  done
  return 0
}

fail() {
  echo "soak: FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- The program directory: 1,000 tasks of every kind ------------------------------------

mkdir -p "$dir/Config" "$dir/bin" "$work/state"
export HVS_STATE_DIR=$work/state
cp "$program" "$dir/ZAVPluginService"
reg() { "$hvsctl" reg "$@" >/dev/null; }
reg add 'HKLM\SOFTWARE\Sorvane\HVS' /v LoadTaskInterval /t REG_SZ /d 5 /f
reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' /v Password /t REG_SZ /d "$secret" /f
reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' /v User /t REG_SZ /d soak /f

# Copies of sleep, one per task that sleeps, so that none is refused as running elsewhere.
for ((i = 0; i < 150; ++i)); do cp "$(type -P sleep)" "$dir/bin/sleep_$i"; done

# task FILE NAME COMMAND PERIOD [FORCEKILL] [TIMELIMIT]
task() {
  local extra=""
  [ -n "${6:-}" ] && extra="  <TimeLimitSeconds>$6</TimeLimitSeconds>"$'\n'
  printf '<?xml version="1.0"?>\n<Task>\n  <Name>%s</Name>\n  <Command>%s</Command>\n  <ForceKill>%s</ForceKill>\n%s  <Schedule><WaitPeriodSeconds>%s</WaitPeriodSeconds></Schedule>\n</Task>\n' \
    "$2" "$3" "${5:-false}" "$extra" "$4" >"$dir/Config/$1"
}

# write_task N: the N-th task, whose kind follows N, so that a re-written file keeps its kind.
write_task() {
  local n=$1 period=$((5 + RANDOM % 55))
  case $((n % 20)) in
    0 | 1) task "t$n.xml" "Fail $n" "sh -c \"exit 3\"" "$period" ;;
    2 | 3) task "t$n.xml" "Talk $n" "sh -c \"echo connect as \$0 with \$1; seq 1 \$2\" %DATABASEUSER% %DATABASEPASSWORD% $((RANDOM % 5000))" "$period" ;;
    4) task "t$n.xml" "Hang $n" "$dir/bin/sleep_$((n % 150)) 600" "$period" false 3 ;;
    5) task "t$n.xml" "Kill $n" "$dir/bin/sleep_$(((n + 75) % 150)) 600" 20 true ;;
    6) task "t$n.xml" "Missing $n" "$dir/bin/no_such_program --password %DATABASEPASSWORD%" "$period" ;;
    *) task "t$n.xml" "Quick $n" "true --user %DATABASEUSER% --password %DATABASEPASSWORD%" "$period" ;;
  esac
}
for ((n = 0; n < 1000; ++n)); do write_task "$n"; done

# One step of churn: edits, replaced files, broken files and their repair. The number of
# task files stays as it is, so that memory has no reason to grow with it.
next_task=1000
churn() {
  local files file n
  files=("$dir"/Config/*.xml)
  for ((k = 0; k < 5; ++k)); do
    file=${files[RANDOM % ${#files[@]}]}
    n=${file##*/t}
    n=${n%.xml}
    [ -e "$file" ] || continue
    case $((RANDOM % 4)) in
      0 | 1) write_task "$n" ;;                                                     # an edit
      2) rm -f "$file"; write_task "$next_task"; next_task=$((next_task + 1)) ;;    # replaced
      3) printf '<Task><Name>Broken %s</Name' "$n" >"$file" ;;                      # broken
    esac
  done
  # Repair the broken ones now and then, so that every kind keeps running.
  if ((RANDOM % 4 == 0)); then
    grep -L '</Task>' "$dir"/Config/*.xml 2>/dev/null | while read -r file; do
      n=${file##*/t}
      write_task "${n%.xml}"
    done
  fi
}

# --- Samples --------------------------------------------------------------------------------

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
pss_kib() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }
threads_of() { awk '/^Threads:/ {print $2}' "/proc/$1/status"; }
fds_of() { ls "/proc/$1/fd" | wc -l; }
# The service's children that are zombies, by id.
zombies_of() {
  local stat pid rest
  for stat in /proc/[0-9]*/stat; do
    read -r pid rest 2>/dev/null <"$stat" || continue
    rest=${rest##*) }
    set -- $rest
    [ "$1" = Z ] && [ "$2" = "$service" ] && echo "$pid"
  done
  return 0
}

failures=0
# shellcheck disable=SC2086  # the wrapper is words
(cd "$work" && exec ${SOAK_WRAPPER:-} "$dir/ZAVPluginService" /console >/dev/null 2>&1) &
service=$!
samples=$((minutes * 60 / sample_seconds))
[ "$samples" -ge 4 ] || { echo "soak: give at least $((4 * sample_seconds / 60 + 1)) minutes" >&2; exit 2; }
echo "soak: $minutes min, 1,000 tasks, a sample every $sample_seconds s (pid $service, $work)"
printf '%8s %9s %9s %5s %8s %8s %9s %6s\n' seconds rss_kib pss_kib fds threads zombies log_lines tasks
rss=() pss=() fds=() threads=()
previous_zombies=""
started=$(date +%s)
for ((s = 1; s <= samples; ++s)); do
  deadline=$((started + s * sample_seconds))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    churn
    sleep 1
  done
  kill -0 "$service" 2>/dev/null || { fail "the service ended by itself"; break; }
  rss+=("$(rss_kib "$service")")
  pss+=("$(pss_kib "$service")")
  fds+=("$(fds_of "$service")")
  threads+=("$(threads_of "$service")")
  zombies=$(zombies_of | sort | tr '\n' ' ')
  for pid in $zombies; do
    case " $previous_zombies " in *" $pid "*) fail "zombie $pid outlived a sample" ;; esac
  done
  previous_zombies=$zombies
  printf '%8s %9s %9s %5s %8s %8s %9s %6s\n' $((s * sample_seconds)) "${rss[-1]}" "${pss[-1]}" \
    "${fds[-1]}" "${threads[-1]}" "$(echo "$zombies" | wc -w)" "$(wc -l <"$dir/Logs/HVS.Log")" \
    "$(ls "$dir/Config" | wc -l)"
done

# --- The stop, and what it must leave behind -------------------------------------------------

kill -TERM "$service"
wait "$service" || fail "the service exited with $?"
service=""
tail -n 1 "$dir/Logs/HVS.Log" | grep -qF "] Service Stopped" || fail "the log does not end with Service Stopped"
# ForceKill sleepers are ended at the stop and time-limited ones at their limit; only the
# sleepers of tasks without ForceKill may still run ("Hang" tasks left running at the stop).
# Kill tasks run the sleepers whose number ends in 0, Hang tasks those ending in 4 (write_task).
for pid in $(pids_of_programs); do
  name=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
  case "$name" in *sleep_*0) fail "process $pid ($name) of a ForceKill task outlived the stop" ;; esac
done
if grep -rqF "$secret" "$dir/Logs"; then fail "the password is in $(grep -rlF "$secret" "$dir/Logs" | head -n 3)"; fi

# --- The verdict ---------------------------------------------------------------------------

half=$((${#rss[@]} / 2))
# Memory rises when the second half's last sample is above its first by more than 2 %.
rises() {
  local -n values=$1
  awk -v a="${values[$half]}" -v b="${values[-1]}" 'BEGIN {exit !(b > a * 1.02)}'
}
rises rss && fail "resident memory rose over the second half: ${rss[$half]} -> ${rss[-1]} KiB"
rises pss && fail "proportional memory rose over the second half: ${pss[$half]} -> ${pss[-1]} KiB"
# Descriptors and threads come and go with the runs under way: the second half's highest may
# pass the first half's highest by a tenth and 4 at most, as the runs that meet by chance do.
highest() { printf '%s\n' "$@" | sort -n | tail -n 1; }
above() { [ "$1" -gt $(($2 + $2 / 10 + 4)) ]; }
fds_first=$(highest "${fds[@]:0:half}") fds_second=$(highest "${fds[@]:half}")
threads_first=$(highest "${threads[@]:0:half}") threads_second=$(highest "${threads[@]:half}")
above "$fds_second" "$fds_first" && fail "descriptors rose: at most $fds_first, then $fds_second"
above "$threads_second" "$threads_first" && fail "threads rose: at most $threads_first, then $threads_second"

echo "soak: second half: rss ${rss[$half]} -> ${rss[-1]} KiB, pss ${pss[$half]} -> ${pss[-1]} KiB," \
  "fds at most $fds_first then $fds_second, threads at most $threads_first then $threads_second;" \
  "$(grep -c 'run by command' "$dir/Logs/HVS.Log") starts logged"
if [ "$failures" -eq 0 ]; then echo "soak: passed"; else echo "soak: $failures failures"; exit 1; fi
