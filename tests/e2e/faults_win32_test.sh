#!/bin/sh
# End-to-end under Wine: faults of task files, folders, the registry and commands, each met
# with its logged fallback while a healthy task runs on: a task file held open without
# sharing by another process, a directory named like a task file, 2 MB of noise, a task file
# deleted while another process holds it (listed by the search, gone for the read), a task
# whose registry key may not be written, a command that names a directory, and Logs replaced
# by a file (the service runs on and logs again once Logs is a folder).
#
# Usage: faults_win32_test.sh ZAVPluginService.exe fault_helper.exe
# WINEPREFIX must name the build's throw-away prefix (the ctest environment does).
set -u
usage="usage: faults_win32_test.sh ZAVPluginService.exe fault_helper.exe"
exe=${1:?$usage}
helper=${2:?$usage}
: "${WINEPREFIX:?set WINEPREFIX to the build's throw-away prefix}"

work=$(mktemp -d)
dir="$work/ZAV"
config="$dir/Config"
log="$dir/Logs/HVS.Log"
task_line="Task 'Good' run by command: "
denied_key='SOFTWARE\Sorvane\HVS\Denied'
pid=""
holders=""
mkdir -p "$config" "$dir/adir" || exit 1
cp "$exe" "$dir/ZAVPluginService.exe" || exit 1

. "$(dirname "$0")/checks.sh"

# The Windows form of a path of this machine: Wine's Z: drive is the root.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
reg() { wine reg "$@" /reg:32 >/dev/null 2>&1; }
clear_keys() {
  wine "$helper" allow "$denied_key" >/dev/null 2>&1
  reg delete 'HKLM\SOFTWARE\Sorvane' /f
}
cleanup() {
  touch "$work/locked.release" "$work/gone.release"
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  for holder in $holders; do kill -KILL "$holder" 2>/dev/null && wait "$holder" 2>/dev/null; done
  clear_keys
  rm -rf "$work"
}
trap cleanup EXIT
clear_keys

task() {  # task FILE NAME COMMAND PERIOD
  cat > "$config/$1" <<EOF
<?xml version="1.0"?>
<Task>
  <Name>$2</Name>
  <Command>$3</Command>
  <Schedule><WaitPeriodSeconds>$4</WaitPeriodSeconds></Schedule>
</Task>
EOF
}
# The healthy task leaves a line in a file of its own at each run, which shows it running
# while the log cannot be written.
runs="$work/good-runs.txt"
task good.xml Good "cmd.exe /c \"echo ran&gt;&gt;$(winpath "$runs")\"" 0
good_runs() { n=$(grep -c ran "$runs" 2>/dev/null); echo "${n:-0}"; }
good_runs_above() { [ "$(good_runs)" -gt "$1" ]; }
task locked.xml Locked hostname.exe 3600
task gone.xml Gone hostname.exe 3600
task denied.xml Denied hostname.exe 0
task dir.xml Dir "$(winpath "$dir/adir")" 3600
mkdir "$config/x.xml" || exit 1
head -c 2097152 /dev/urandom > "$config/noise.xml" || exit 1

reg add 'HKLM\SOFTWARE\Sorvane\HVS' /v LoadTaskInterval /d 2 /f || { echo "FAIL: reg add"; exit 1; }
check "the helper denies writes to the task's key" wine "$helper" deny "$denied_key"
check "the denial holds for reg.exe too" not reg add "HKLM\\$denied_key" /v Probe /d 1 /f

# hold FAULT FILE: another process keeps FILE as the fault wants, until released.
hold() {
  wine "$helper" "$1" "$(winpath "$config/$2")" "$(winpath "$work/${2%.xml}.ready")" \
    "$(winpath "$work/${2%.xml}.release")" &
  holders="$holders $!"
  check "the helper ${1}s $2" within 30 test -e "$work/${2%.xml}.ready"
}
hold hold locked.xml
hold delete gone.xml
check "gone.xml is still listed while its deletion is pending" test -e "$config/gone.xml"

(cd "$work" && exec wine "$dir/ZAVPluginService.exe" /console > "$work/console.out" 2>&1) &
pid=$!

check "the healthy task runs" within 30 log_has "$task_line"
check "locked.xml cannot be opened" within 10 log_has 'Config\locked.xml for read.'
check "locked.xml does not load" log_has "Task configuration file 'locked.xml' could not load."
check "the directory x.xml cannot be opened" within 10 log_has 'Config\x.xml for read.'
check "x.xml does not load" log_has "Task configuration file 'x.xml' could not load."
check "noise.xml is refused as too large" within 10 log_has 'Config\noise.xml: larger than 1 MiB.'
check "noise.xml does not load" log_has "Task configuration file 'noise.xml' could not load."
check "gone.xml, listed but deleted, cannot be opened" within 10 log_has 'Config\gone.xml for read.'
check "gone.xml does not load" log_has "Task configuration file 'gone.xml' could not load."
check "Denied runs without its key" within 10 log_has "Task 'Denied' run by command: hostname.exe"
check "its key's refusal is logged" within 10 log_has "Creating task registry key failed"
check "no LastRun was written for Denied" not reg query "HKLM\\$denied_key" /v LastRun
check "the command that names a directory is not started" within 10 \
  log_has "Task 'Dir' could not be started: "

# Released, the held file loads at the next reload; the deleted one is gone.
touch "$work/locked.release" "$work/gone.release"
check "locked.xml loads once released" within 20 log_has "Loaded task: Locked"
check "gone.xml is gone once released" within 20 not test -e "$config/gone.xml"

# Logs becomes a file: its lines are lost, the tasks run on, and the file stays.
until [ -f "$dir/Logs" ]; do rm -rf "$dir/Logs"; : 2>/dev/null > "$dir/Logs"; done
runs_before=$(good_runs)
check "the healthy task runs on while Logs is a file" within 30 good_runs_above $((runs_before + 2))
check "Logs is still the file" test -f "$dir/Logs"
check "the program still runs" kill -0 "$pid"
rm -f "$dir/Logs"
check "the log is written again once Logs can be a folder" within 20 log_has "$task_line"

kill -INT "$pid"
wait "$pid"
status=$?
pid=""
check "the program stops normally" equals "$status" 0
check "the last line is 'Service Stopped'" sh -c "tail -n 1 '$log' | grep -q -F 'Service Stopped'"
for holder in $holders; do
  wait "$holder"
  check "a helper ended of itself" equals "$?" 0
done
holders=""

[ "$failures" -eq 0 ] && echo "faults under Wine end-to-end: all checks passed"
exit "$failures"
