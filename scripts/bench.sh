#!/usr/bin/env bash
# Builds the release program and prints its performance figures, each beside its reference
# measured in the same run. Not run by CI: the figures need a quiet machine to mean much.
#
# BENCH_ROUNDS (default 5) sets how often each figure is taken; the median is printed with
# the spread. BENCH_IDLE_SECONDS (default 60, one reload interval) is one idle window;
# BENCH_ONLY picks figures among "idle reload stop start output". BENCH_PROGRAM measures another
# build of ZAVPluginService (an earlier commit's, say) against the same references.
set -euo pipefail
cd "$(dirname "$0")/.."

rounds=${BENCH_ROUNDS:-5}
idle_seconds=${BENCH_IDLE_SECONDS:-60}
build=build/bench

scripts/install-deps.sh native >/dev/null
cmake --preset native-release -B "$build" -DHVS_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target ZAVPluginService hvsctl hvs_spawn_loop hvs_idle_ticker \
  hvs_output_writer >/dev/null
program=$(realpath "${BENCH_PROGRAM:-$build/service/ZAVPluginService}")
hvsctl=$PWD/$build/tools/hvsctl
spawn_loop=$PWD/$build/bench/hvs_spawn_loop
idle_ticker=$PWD/$build/bench/hvs_idle_ticker
output_writer=$PWD/$build/bench/hvs_output_writer

# Task files and registry on tmpfs where there is one: the set-up writes thousands of them.
base=/dev/shm
[ -d "$base" ] && [ -w "$base" ] || base=${TMPDIR:-/tmp}
work=$(mktemp -d "$base/hvs-bench.XXXXXX")
started=()  # every process this script started, ended by its id at exit

cleanup() {
  local pid
  for pid in "${started[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

clock_ticks=$(getconf CLK_TCK)

# --- Helpers ---------------------------------------------------------------------------

now_ns() { date +%s%N; }

# CPU nanoseconds of the live threads of PID (scheduler run time, exact to the nanosecond).
thread_cpu_ns() {
  local total=0 run rest file
  for file in /proc/"$1"/task/*/schedstat; do
    read -r run rest <"$file" || continue
    total=$((total + run))
  done
  echo "$total"
}

# The fields of /proc/PID/stat after the command, the state first; nothing when PID is gone.
stat_fields() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null || true; }

# CPU nanoseconds of PID with its ended threads, then of its reaped children (clock ticks).
own_and_children_cpu_ns() {
  local fields
  read -r -a fields <<<"$(stat_fields "$1")"
  # After the command: state is field 3, utime 14, stime 15, cutime 16, cstime 17.
  echo $(( (fields[11] + fields[12]) * 1000000000 / clock_ticks )) \
    $(( (fields[13] + fields[14]) * 1000000000 / clock_ticks ))
}

rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
# Resident memory with each shared page counted by its share (the C library's pages are
# shared with every process of the host).
pss_kib() { awk '/^Pss:/ {print $2}' "/proc/$1/smaps_rollup"; }

# The median of the numbers given, and their minimum and maximum.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2; printf "%s (min %s, max %s)", m, v[1], v[NR]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.3f", a / b}'; }

# A program directory with an empty Config and a registry of its own.
new_program() {
  local dir=$work/$1
  mkdir -p "$dir/Config" "$dir/state"
  cp "$program" "$dir/ZAVPluginService"
  echo "$dir"
}

# write_task DIR FILE NAME COMMAND FORCEKILL PERIOD
write_task() {
  printf '<?xml version="1.0"?>\n<Task>\n  <Name>%s</Name>\n  <Command>%s</Command>\n  <ForceKill>%s</ForceKill>\n  <Schedule><WaitPeriodSeconds>%s</WaitPeriodSeconds></Schedule>\n</Task>\n' \
    "$3" "$4" "$5" "$6" >"$1/Config/$2"
}

# Never due: the period outlasts the clock (LastRun starts at 0).
write_idle_tasks() {
  local i
  for ((i = 1; i <= $2; ++i)); do
    write_task "$1" "idle$i.xml" "Idle$i" 'true %DATABASEDSN%' false 2000000000
  done
}

set_interval() { HVS_STATE_DIR=$1/state "$hvsctl" reg add 'HKLM\SOFTWARE\Sorvane\HVS' /v LoadTaskInterval /t REG_SZ /d "$2" /f >/dev/null; }

# Starts the service of DIR in the foreground; its pid goes to $service.
start_service() {
  HVS_STATE_DIR=$1/state "$1/ZAVPluginService" /console >/dev/null 2>&1 &
  service=$!
  started+=("$service")
}

# Waits until the log of DIR holds COUNT lines containing TEXT; fails after LIMIT seconds.
wait_for_lines() {
  local deadline=$(($(date +%s) + $4))
  local found
  while found=$(grep -c -F -- "$2" "$1/Logs/HVS.Log" 2>/dev/null) || true; [ "${found:-0}" -lt "$3" ]; do
    if [ "$(date +%s)" -ge "$deadline" ]; then
      echo "bench: timed out waiting for $3 lines '$2' in $1/Logs/HVS.Log" >&2
      return 1
    fi
    sleep 0.2
  done
}

# Whether PID is a process that has not ended: a killed task whose service has gone first
# stays a zombie until its new parent reaps it.
running() {
  local fields
  read -r -a fields <<<"$(stat_fields "$1")"
  [ -n "${fields[0]:-}" ] && [ "${fields[0]}" != Z ] && [ "${fields[0]}" != X ]
}

stop_service() {
  kill -TERM "$1"
  wait "$1" 2>/dev/null || true
}

# Children of PID, by scanning /proc for their parent id.
children_of() {
  local pid fields
  for pid in /proc/[0-9]*; do
    pid=${pid#/proc/}
    read -r -a fields <<<"$(stat_fields "$pid")"
    [ "${fields[1]:-}" = "$1" ] && echo "$pid"
  done
  return 0
}

echo "ZAVPluginService benchmark ($rounds rounds each; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg))"

# --- Idle CPU and resident memory with 1,000 tasks, none due -------------------------------

bench_idle() {
  idle=$(new_program idle)
  write_idle_tasks "$idle" 1000
  empty=$(new_program empty)
  start_service "$idle"
  idle_pid=$service
  start_service "$empty"
  empty_pid=$service
  "$idle_ticker" &
  ticker_pid=$!
  started+=("$ticker_pid")
  wait_for_lines "$idle" "Loaded task: " 1000 600
  wait_for_lines "$empty" "Service Started." 1 60

  idle_shares=()
  ticker_shares=()
  for ((r = 1; r <= rounds; ++r)); do
    c0=$(thread_cpu_ns "$idle_pid"); k0=$(thread_cpu_ns "$ticker_pid"); t0=$(now_ns)
    sleep "$idle_seconds"
    c1=$(thread_cpu_ns "$idle_pid"); k1=$(thread_cpu_ns "$ticker_pid"); t1=$(now_ns)
    idle_shares+=("$(awk -v c=$((c1 - c0)) -v t=$((t1 - t0)) 'BEGIN {printf "%.4f", 100 * c / t}')")
    ticker_shares+=("$(awk -v c=$((k1 - k0)) -v t=$((t1 - t0)) 'BEGIN {printf "%.4f", 100 * c / t}')")
  done
  idle_rss=$(rss_kib "$idle_pid")
  empty_rss=$(rss_kib "$empty_pid")
  idle_pss=$(pss_kib "$idle_pid")
  stop_service "$idle_pid"
  stop_service "$empty_pid"
  kill "$ticker_pid"

  echo
  echo "Idle, 1,000 tasks none due, ${idle_seconds} s windows (% of one core):"
  echo "  service             $(median "${idle_shares[@]}")"
  echo "  bare 1 s ticker     $(median "${ticker_shares[@]}")"
  echo "  target              at most 0.02"
  echo "Resident memory (KiB):"
  echo "  1,000 tasks         $idle_rss (proportional share: $idle_pss)"
  echo "  no task             $empty_rss"
  echo "  target              at most $((4096 + 1000)) (4 MiB + 1 KiB a task)"
}

# --- Reload of 10,000 unchanged task files, every tick -----------------------------------

bench_reload() {
  reload=$(new_program reload)
  write_idle_tasks "$reload" 10000
  set_interval "$reload" 0
  start_service "$reload"
  reload_pid=$service
  wait_for_lines "$reload" "Loaded task: " 10000 900
  sleep 2

  # One reload per tick: the main thread blocks once a tick, in its sleep.
  main_switches() { awk '/^voluntary_ctxt_switches:/ {print $2}' "/proc/$1/task/$1/status"; }
  # CPU seconds of RUNS listings of the same files with their times, by find.
  find_cpu_ns() {
    local line
    line=$( (for ((i = 0; i < $1; ++i)); do
      find "$reload/Config" -maxdepth 1 -name '*.xml' -printf '%f %T@\n' >/dev/null
    done; times) | tail -1)
    awk -v l="$line" 'BEGIN {split(l, p, /[ms ]+/); printf "%d", ((p[1] * 60 + p[2]) + (p[3] * 60 + p[4])) * 1e9}'
  }

  reload_ratios=()
  reload_ms=()
  find_ms=()
  for ((r = 1; r <= rounds; ++r)); do
    c0=$(thread_cpu_ns "$reload_pid"); s0=$(main_switches "$reload_pid")
    sleep 10
    c1=$(thread_cpu_ns "$reload_pid"); s1=$(main_switches "$reload_pid")
    ticks=$((s1 - s0))
    per_reload=$(( (c1 - c0) / ticks ))
    per_find=$(( $(find_cpu_ns 20) / 20 ))
    reload_ms+=("$(awk -v n=$per_reload 'BEGIN {printf "%.2f", n / 1e6}')")
    find_ms+=("$(awk -v n=$per_find 'BEGIN {printf "%.2f", n / 1e6}')")
    reload_ratios+=("$(ratio "$per_reload" "$per_find")")
  done
  stop_service "$reload_pid"

  echo
  echo "Reload of 10,000 unchanged files, once a tick (CPU ms each):"
  echo "  service tick        $(median "${reload_ms[@]}")"
  echo "  find listing        $(median "${find_ms[@]}")"
  echo "  ratio               $(median "${reload_ratios[@]}")  target at most 1.3"
}

# --- Stop with 100 running ForceKill tasks ------------------------------------------------

bench_stop() {
  stop=$(new_program stop)
  for ((i = 1; i <= 100; ++i)); do
    cp "$(type -P sleep)" "$stop/sleep_$i"  # one name each: no task runs "elsewhere"
    write_task "$stop" "kill$i.xml" "Kill$i" "$stop/sleep_$i 600" true 0
  done
  stop_ms=()
  for ((r = 1; r <= rounds; ++r)); do
    rm -rf "$stop/state" "$stop/Logs"
    mkdir "$stop/state"
    start_service "$stop"
    stop_pid=$service
    wait_for_lines "$stop" "run by command" 100 120
    sleep 0.5
    mapfile -t children < <(children_of "$stop_pid")
    started+=("${children[@]}")
    # At a random moment of the tick: the stop ends the tick's sleep, whenever it comes.
    sleep "$(printf '0.%03d' $((RANDOM % 1000)))"
    t0=$(now_ns)
    stop_service "$stop_pid"
    t1=$(now_ns)
    stop_ms+=($(((t1 - t0) / 1000000)))
    survivors=0
    for child in "${children[@]}"; do running "$child" && survivors=$((survivors + 1)); done
    if [ "${#children[@]}" -ne 100 ] || [ "$survivors" -ne 0 ]; then
      echo "bench: stop round $r: ${#children[@]} tasks were running, $survivors outlived the stop" >&2
      exit 1
    fi
  done

  echo
  echo "Stop with 100 running ForceKill tasks, SIGTERM to exit (ms):"
  echo "  service             $(median "${stop_ms[@]}")"
  echo "  target              at most 500, every round"
}

# --- CPU per task start -------------------------------------------------------------------

# new_start_program NAME path|bare: a program directory with 100 tasks that run copies of
# `true` every tick, one each so that none runs "elsewhere", named by path or bare.
new_start_program() {
  local dir i prefix=""
  dir=$(new_program "$1")
  [ "$2" = path ] && prefix="$dir/"
  for ((i = 1; i <= 100; ++i)); do
    cp "$(type -P true)" "$dir/true_$i"
    write_task "$dir" "start$i.xml" "Start$i" "${prefix}true_$i" false 0
  done
  echo "$dir"
}

bench_start() {
  # With its path the command can be no running executable's name: no process scan. A
  # bare name (found in the program's directory) is looked for among the processes.
  local with_path bare path_pid bare_pid
  with_path=$(new_start_program start path)
  bare=$(new_start_program bare bare)
  start_service "$with_path"
  path_pid=$service
  start_service "$bare"
  bare_pid=$service
  wait_for_lines "$with_path" "run by command" 100 120
  wait_for_lines "$bare" "run by command" 100 120
  local programs=("$with_path"/true_{1..100})
  start_ratios=()
  bare_ratios=()
  single_ratios=()
  process_ratios=()
  start_us=()
  own_start_us=()
  bare_us=()
  burst_us=()
  own_burst_us=()
  spawn_us=()
  own_spawn_us=()
  process_us=()
  # CPU nanoseconds per run of `hvs_spawn_loop MODE ROUNDS PROGRAM...`: in all, and its own.
  spawn_cost_ns() {
    local runs self children
    read -r runs self children < <("$spawn_loop" "$@")
    awk -v r="$runs" -v s="$self" -v c="$children" \
      'BEGIN {printf "%d %d\n", (s + c) * 1e9 / r, s * 1e9 / r}'
  }
  # CPU nanoseconds per task start of the service of DIR (pid PID) over 10 s, in all and
  # its own; the other service is stopped meanwhile, so that the two do not share the cores.
  start_cost_ns() {
    local n0 n1 o0 o1 c0 c1
    kill -STOP "$3"
    n0=$(grep -c "run by command" "$1/Logs/HVS.Log")
    read -r o0 c0 < <(own_and_children_cpu_ns "$2")
    sleep 10
    n1=$(grep -c "run by command" "$1/Logs/HVS.Log")
    read -r o1 c1 < <(own_and_children_cpu_ns "$2")
    kill -CONT "$3"
    echo $(( (o1 - o0 + c1 - c0) / (n1 - n0) )) $(( (o1 - o0) / (n1 - n0) ))
  }
  local per_start own_start per_bare per_burst own_burst per_spawn own_spawn per_process
  for ((r = 1; r <= rounds; ++r)); do
    read -r per_start own_start < <(start_cost_ns "$with_path" "$path_pid" "$bare_pid")
    read -r per_bare _ < <(start_cost_ns "$bare" "$bare_pid" "$path_pid")
    kill -STOP "$path_pid" "$bare_pid"
    # The same 100 programs as the service's tick starts them: all at once, once a second.
    read -r per_burst own_burst < <(spawn_cost_ns bare 10 "${programs[@]}")
    read -r per_spawn own_spawn < <(spawn_cost_ns bare 1000 "${programs[0]}")
    read -r per_process _ < <(spawn_cost_ns process 1000 "${programs[0]}")
    kill -CONT "$path_pid" "$bare_pid"
    start_us+=($((per_start / 1000)))
    own_start_us+=($((own_start / 1000)))
    bare_us+=($((per_bare / 1000)))
    burst_us+=($((per_burst / 1000)))
    own_burst_us+=($((own_burst / 1000)))
    spawn_us+=($((per_spawn / 1000)))
    own_spawn_us+=($((own_spawn / 1000)))
    process_us+=($((per_process / 1000)))
    start_ratios+=("$(ratio "$per_start" "$per_burst")")
    bare_ratios+=("$(ratio "$per_bare" "$per_burst")")
    single_ratios+=("$(ratio "$per_start" "$per_spawn")")
    process_ratios+=("$(ratio "$per_process" "$per_spawn")")
  done
  stop_service "$path_pid"
  stop_service "$bare_pid"

  echo
  echo "CPU per task start, the started program's own included (us):"
  echo "  service start       $(median "${start_us[@]}")"
  echo "    (whole run of a command with its path: variables, spawn, log line, LastRun;"
  echo "    100 tasks due at every tick)"
  echo "      its own part    $(median "${own_start_us[@]}")"
  echo "  bare name           $(median "${bare_us[@]}")"
  echo "    (the same with a bare program name, which adds the scan of the processes)"
  echo "  bare fork and exec  $(median "${burst_us[@]}")"
  echo "    (the same 100 programs all at once, once a second, as the service's tick starts them)"
  echo "      its own part    $(median "${own_burst_us[@]}")"
  echo "  one at a time       $(median "${spawn_us[@]}")"
  echo "    (bare fork and exec of one of them, 1,000 times one after the other)"
  echo "      its own part    $(median "${own_spawn_us[@]}")"
  echo "  Process spawn       $(median "${process_us[@]}")"
  echo "    (Process::Create and the watcher's wait, one at a time)"
  echo "  ratio, whole run    $(median "${start_ratios[@]}")  target at most 1.0"
  echo "  ratio, bare name    $(median "${bare_ratios[@]}")"
  echo "  ratio, whole run to one at a time  $(median "${single_ratios[@]}")"
  echo "  ratio, spawn alone  $(median "${process_ratios[@]}")  (to one at a time) target at most 1.0"
}

# --- The cost of taking a task's output ----------------------------------------------------

# output_round DIR MODE: one run of a 100 MiB writer as a task, its output taken through the
# pipe (a password masked on the way into the 1 MiB file), then the same writer into
# /dev/null; each measures its own writing, so that neither start nor stop counts. Appends
# the milliseconds to captured_ms and null_ms and their ratio to output_ratios.
output_round() {
  local dir=$1 mode=$2
  write_task "$dir" "flood.xml" "Flood" "$output_writer $mode 100 $dir/took %DATABASEPASSWORD%" false 3600
  rm -rf "$dir/state" "$dir/Logs" "$dir/took"
  mkdir "$dir/state"
  HVS_STATE_DIR=$dir/state "$hvsctl" reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' \
    /v Password /t REG_SZ /d 's3cret!' /f >/dev/null
  start_service "$dir"
  wait_for_lines "$dir" "Task 'Flood' finished with exit code 0" 1 300
  stop_service "$service"
  "$output_writer" "$mode" 100 "$work/null_took" >/dev/null
  captured_ms+=($(($(cat "$dir/took") / 1000000)))
  null_ms+=($(($(cat "$work/null_took") / 1000000)))
  output_ratios+=("$(ratio "$(cat "$dir/took")" "$(cat "$work/null_took")")")
  if [ "$(stat -c %s "$dir/Logs/Output/flood.log")" -gt $((1024 * 1024 + 100)) ]; then
    echo "bench: output round: the output file outgrew its bound" >&2
    exit 1
  fi
}

bench_output() {
  local dir mode
  dir=$(new_program output)
  for mode in lines blocks; do
    captured_ms=()
    null_ms=()
    output_ratios=()
    for ((r = 1; r <= rounds; ++r)); do output_round "$dir" "$mode"; done
    echo
    if [ "$mode" = lines ]; then
      echo "Writing 100 MiB of output a formatted line at a time, as the writer measures it (ms):"
    else
      echo "Writing 100 MiB of output in 64 KiB blocks made once, as the writer measures it (ms):"
    fi
    echo "  taken by the service $(median "${captured_ms[@]}")"
    echo "    (through the task's pipe, masked, the first and last 512 KiB kept)"
    echo "  into /dev/null       $(median "${null_ms[@]}")"
    if [ "$mode" = lines ]; then
      echo "  ratio                $(median "${output_ratios[@]}")  target at most 2.0"
    else
      echo "  ratio                $(median "${output_ratios[@]}")"
      echo "    (no target: /dev/null takes a write without copying it, a pipe cannot)"
    fi
  done
}

for figure in ${BENCH_ONLY:-idle reload stop start output}; do "bench_$figure"; done
