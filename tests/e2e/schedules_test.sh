#!/bin/sh
# End-to-end: Cron schedules, a missed time, retries and a disabled task, in the foreground.
# Usage: schedules_test.sh posix PATH_TO_PROGRAM PATH_TO_HVSCTL
#        schedules_test.sh win32 PATH_TO_PROGRAM_EXE   (under Wine, in the WINEPREFIX given)
set -u
usage="usage: schedules_test.sh posix|win32 PATH_TO_PROGRAM [PATH_TO_HVSCTL]"
TARGET=${1:?$usage}
PROGRAM=${2:?$usage}
scratch=$(mktemp -d)
pid=""
if [ "$TARGET" = posix ]; then
  HVSCTL=${3:?$usage}
  HVS_STATE_DIR=$(mktemp -d)
  export HVS_STATE_DIR
  trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$HVS_STATE_DIR" "$scratch"' EXIT
  reg() { "$HVSCTL" reg "$@"; }
  program=ZAVPluginService
  succeeds='true'
  fails='false'
else
  trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$scratch"; reg delete "HKLM\SOFTWARE\Sorvane" /f >/dev/null 2>&1' EXIT
  reg() { wine reg "$@" /reg:32; }
  program=ZAVPluginService.exe
  succeeds='hostname.exe'
  fails='cmd.exe /c exit 3'
  reg delete 'HKLM\SOFTWARE\Sorvane' /f >/dev/null 2>&1
fi
. "$(dirname "$0")/checks.sh"

dir="$scratch/program"
mkdir -p "$dir/Config"
cp "$PROGRAM" "$dir/$program"
log="$dir/Logs/HVS.Log"
task() {
  printf '<?xml version="1.0"?>\n<Task>\n  <Name>%s</Name>\n  <Command>%s</Command>\n  %s\n</Task>\n' \
    "$1" "$2" "$3" >"$dir/Config/$1.xml"
}
last_run() { reg query 'HKLM\SOFTWARE\Sorvane\HVS\'"$1" /v LastRun 2>/dev/null | tr -d '\r' | sed -n 's/^    LastRun    REG_SZ    //p'; }
runs_of() { count_in_log "] Task '$1' run by command: "; }
runs_at_least() { [ "$(runs_of "$1")" -ge "$2" ]; }

# Away from a minute's start, so that a run at once and a run at the minute differ.
while [ "$(date +%S)" -lt 10 ] || [ "$(date +%S)" -gt 45 ]; do sleep 1; done
now=$(date +%s)
past_minute=$(( (now / 60 + 55) % 60 ))  # five minutes ago, every hour
task Minutely "$succeeds" '<Schedule><Cron>* * * * *</Cron><WaitPeriodSeconds>1</WaitPeriodSeconds></Schedule>'
task Missed "$succeeds" "<Schedule><Cron>$past_minute * * * *</Cron></Schedule>"
task Flaky "$fails" '<RetryAfterSeconds>1</RetryAfterSeconds><RetryCount>2</RetryCount>
  <Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule>'
task Off "$succeeds" '<Enabled>false</Enabled><Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>'
reg add 'HKLM\SOFTWARE\Sorvane\HVS\Missed' /v LastRun /d $((now - 3 * 3600)) /f >/dev/null
reg add 'HKLM\SOFTWARE\Sorvane\HVS\Off' /v LastRun /d 1234 /f >/dev/null

if [ "$TARGET" = posix ]; then
  (cd "$scratch" && exec "$dir/$program" /console >"$scratch/console.out" 2>&1) &
else
  (cd "$scratch" && exec wine "$dir/$program" /console >"$scratch/console.out" 2>&1) &
fi
pid=$!

check "the missed hourly time runs at the first ticks" within 20 log_has "] Task 'Missed' run by command: "
check "the new minutely task has not run at once" equals "$(runs_of Minutely)" 0
check "the failing task is retried twice" within 30 log_has "] Task 'Flaky' will be retried in 1 s (retry 2 of 2)."
check "the second retry runs" within 20 runs_at_least Flaky 3
check "the minutely task runs at the next minute" within 75 log_has "] Task 'Minutely' run by command: "
minutely=$(last_run Minutely)
check "its LastRun is in the first seconds of a minute" test $(( ${minutely:-1} % 60 )) -lt 5
check "its LastRun is after the program started" test "${minutely:-0}" -gt "$now"
kill -INT "$pid"
wait "$pid"
check "the program exits with 0 at Ctrl+C" equals "$?" 0
pid=""

check "the missed times made one run" equals "$(runs_of Missed)" 1
check "the failing task ran three times: once and two retries" equals "$(runs_of Flaky)" 3
check "no third retry" not log_has "(retry 3 of 2)"
check "the minutely task ran once in its minute" equals "$(runs_of Minutely)" 1
check "the disabled task loaded" log_has "] Loaded task: Off"
check "the disabled task never ran" equals "$(runs_of Off)" 0
check "the disabled task's LastRun stays" equals "$(last_run Off)" 1234

if [ $failures -eq 0 ]; then echo "schedules end-to-end: all checks passed"; else tr -d '\r' <"$log"; fi
exit $failures
