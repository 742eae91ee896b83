#!/bin/sh
# End-to-end: the program in the foreground from a fresh program directory, stopped by a signal.
# Usage: foreground_test.sh posix PATH_TO_PROGRAM PATH_TO_HVSCTL
#        foreground_test.sh win32 PATH_TO_PROGRAM_EXE   (under Wine, in the WINEPREFIX given)
# Wine turns SIGINT into the console's Ctrl+C event, so both targets are stopped the same way.
set -u
usage="usage: foreground_test.sh posix|win32 PATH_TO_PROGRAM [PATH_TO_HVSCTL]"
TARGET=${1:?$usage}
PROGRAM=${2:?$usage}
scratch=$(mktemp -d)
pid=""
if [ "$TARGET" = posix ]; then
  HVSCTL=${3:?$usage}
  HVS_STATE_DIR=$(mktemp -d)
  export HVS_STATE_DIR
  trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$HVS_STATE_DIR" "$scratch"' EXIT
  run() { "$@"; }
  reg() { "$HVSCTL" reg "$@"; }
  program=ZAVPluginService
  task_command='true --user %DATABASEUSER% --password %DATABASEPASSWORD%'
  shown_command='true --user operator --password *****'
  talk_command='sh -c "echo connect as $0 with $1; echo refused >&2; exit 4" %DATABASEUSER% %DATABASEPASSWORD%'
  signals="INT TERM"
else
  trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$scratch"; reg delete "HKLM\SOFTWARE\Sorvane" /f >/dev/null 2>&1' EXIT
  run() { wine "$@"; }
  # The program's keys and its neighbours' are in the 32-bit view.
  reg() { wine reg "$@" /reg:32; }
  program=ZAVPluginService.exe
  task_command='hostname.exe --user %DATABASEUSER% --password %DATABASEPASSWORD%'
  shown_command='hostname.exe --user operator --password *****'
  talk_command='cmd.exe /c "echo connect as %DATABASEUSER% with %DATABASEPASSWORD%& echo refused>&2& exit 4"'
  signals="INT"
  reg delete 'HKLM\SOFTWARE\Sorvane' /f >/dev/null 2>&1
fi
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Waits up to $2 seconds for the log to contain $1.
wait_for_log() {
  i=0
  while [ $i -lt $(($2 * 10)) ]; do
    grep -qF "$1" "$log" 2>/dev/null && return 0
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}

# A program directory whose path holds a space, with one task file and a database password.
dir="$scratch/Program Files/ZAV"
mkdir -p "$dir/Config"
cp "$PROGRAM" "$dir/$program"
log="$dir/Logs/HVS.Log"
cat >"$dir/Config/job.xml" <<XML
<?xml version="1.0"?>
<Task>
  <Name>Nightly 50%</Name>
  <Command>$task_command</Command>
  <Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>
</Task>
XML
# A second task whose program does not exist: started every tick, and reported as failed.
cat >"$dir/Config/missing.xml" <<XML
<?xml version="1.0"?>
<Task>
  <Name>Missing 100%</Name>
  <Command>no_such_program_hvs /x</Command>
  <Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>
</Task>
XML
# A third that tells its password and fails: its output is kept, masked, and its last lines logged.
cat >"$dir/Config/talk.xml" <<XML
<?xml version="1.0"?>
<Task>
  <Name>Talk</Name>
  <Command>$talk_command</Command>
  <Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule>
</Task>
XML
reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' /v User /d operator /f >/dev/null
reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' /v Password /d 's3cret!' /f >/dev/null

# Without a verb the program is not under a service control manager: 1063, whose low
# eight bits are the exit status, and nothing is printed.
(cd "$scratch" && run "$dir/$program" >"$scratch/none.out" 2>&1)
status=$?
[ $status -eq $((1063 % 256)) ] || fail "no verb exited $status, not 1063's low byte"
[ -s "$scratch/none.out" ] && fail "no verb printed: $(cat "$scratch/none.out")"
[ -e "$dir/Logs" ] && fail "no verb created Logs"

for signal in $signals; do
  rm -rf "$dir/Logs"
  # Talk runs once an hour: once in each run of the service.
  reg delete 'HKLM\SOFTWARE\Sorvane\HVS\Talk' /f >/dev/null 2>&1
  if [ "$TARGET" = posix ]; then
    (cd "$scratch" && exec "$dir/$program" /console >"$scratch/console.out" 2>&1) &
  else
    (cd "$scratch" && exec wine "$dir/$program" /console >"$scratch/console.out" 2>&1) &
  fi
  pid=$!
  wait_for_log "run by command" 10 || fail "SIG$signal run: the task did not run"
  wait_for_log "] Task 'Talk' output: refused" 20 || fail "SIG$signal: Talk's output was not logged"
  # A run of Nightly has ended, so that its result is recorded whatever the stop finds running.
  wait_for_log "] Task 'Nightly 50%%' finished with exit code " 20 || fail "SIG$signal: no run of Nightly ended"
  kill -"$signal" "$pid"
  wait "$pid"
  status=$?
  pid=""
  [ $status -eq 0 ] || fail "SIG$signal: exit status $status"

  first=$(head -n 1 "$log" | tr -d '\r')
  case "$first" in
    "["*"] Service Started.") ;;
    *) fail "SIG$signal: first line is '$first'" ;;
  esac
  grep -qF "] Task 'Nightly 50%%' run by command: $shown_command" "$log" ||
    fail "SIG$signal: no masked run line in the log"
  grep -qF "] Task 'Nightly 50%' run by command: $shown_command" "$scratch/console.out" ||
    fail "SIG$signal: the console did not show the run line"
  grep -qF 's3cret!' "$log" "$scratch/console.out" && fail "SIG$signal: the password was written"
  # The start is logged first, then the watcher's line with the system's text.
  failed_line=$(grep -nF "] Task 'Missing 100%%' could not be started: " "$log" | head -n 1 | tr -d '\r')
  run_line=$(grep -nF "] Task 'Missing 100%%' run by command: no_such_program_hvs /x" "$log" | head -n 1)
  [ -n "$failed_line" ] || fail "SIG$signal: no line for the command that cannot be started"
  [ "${run_line%%:*}" -lt "${failed_line%%:*}" ] 2>/dev/null ||
    fail "SIG$signal: the failure came before its run line ('$run_line', '$failed_line')"
  [ -n "${failed_line##*could not be started: }" ] || fail "SIG$signal: no system text: $failed_line"
  if [ "$TARGET" = posix ]; then
    case "$failed_line" in
      *": The system cannot find the file specified.") ;;
      *) fail "SIG$signal: not the system's text for 2: $failed_line" ;;
    esac
  fi
  grep -qF "] Task 'Missing 100%' could not be started: " "$scratch/console.out" ||
    fail "SIG$signal: the console did not show the failed start"
  output=$(tr -d '\r' <"$dir/Logs/Output/talk.log")
  [ "$output" = "connect as operator with *****
refused" ] || fail "SIG$signal: Talk's output file holds '$output'"
  grep -rqF 's3cret!' "$dir/Logs" && fail "SIG$signal: the password is in a file under Logs"
  grep -A2 -F "] Task 'Talk' finished with exit code 4 after " "$log" | tr -d '\r' | sed 's/^\[[^]]*\] //' >"$scratch/talk"
  [ "$(sed 1d "$scratch/talk")" = "Task 'Talk' output: connect as operator with *****
Task 'Talk' output: refused" ] || fail "SIG$signal: Talk's end in the log: $(cat "$scratch/talk")"
  grep -qF "] Stopping Service" "$log" || fail "SIG$signal: no 'Stopping Service'"
  tail -n 1 "$log" | grep -qF "] Service Stopped" || fail "SIG$signal: last line not 'Service Stopped'"
done

reg query 'HKLM\SOFTWARE\Sorvane\HVS\Nightly 50%' /v LastRun >"$scratch/lastrun" ||
  fail "no LastRun recorded"
tr -d '\r' <"$scratch/lastrun" | grep -qE '^    LastRun    REG_SZ    -?[0-9]+$' ||
  fail "LastRun: $(cat "$scratch/lastrun")"

# Each run's result: the program that runs ended with its exit code (0 for true; Wine's
# hostname refuses the arguments), the missing one was not started.
result_of() { reg query 'HKLM\SOFTWARE\Sorvane\HVS\'"$1" /v LastResult 2>/dev/null | tr -d '\r' | sed -n 's/^    LastResult    REG_SZ    //p'; }
case "$TARGET:$(result_of 'Nightly 50%')" in
  "posix:exit code 0" | "win32:exit code "[0-9]*) ;;
  *) fail "Nightly's LastResult: $(result_of 'Nightly 50%')" ;;
esac
case "$(result_of 'Missing 100%')" in
  "not started: "?*) ;;
  *) fail "Missing's LastResult: $(result_of 'Missing 100%')" ;;
esac

[ "$TARGET" = posix ] || { [ $failures -eq 0 ] && echo "foreground end-to-end: all checks passed"; exit $failures; }
"$HVSCTL" events >"$scratch/events"
[ "$(grep -c '	0x40000001	ZAV Server Plugin Service$' "$scratch/events")" -eq 2 ] ||
  fail "started events: $(cat "$scratch/events")"
[ "$(grep -c '	0x40000003	ZAV Server Plugin Service$' "$scratch/events")" -eq 2 ] ||
  fail "stopped events: $(cat "$scratch/events")"
# The missing program failed at every tick of both runs: one warning, at its first failure.
[ "$(grep -c '	0x80000010	Missing 100%	not started: ' "$scratch/events")" -eq 1 ] ||
  fail "task failed events: $(cat "$scratch/events")"

if [ $failures -eq 0 ]; then echo "foreground end-to-end: all checks passed"; fi
exit $failures
