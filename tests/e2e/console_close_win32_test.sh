#!/bin/sh
# End-to-end under Wine: closing the console of a foreground run. Windows ends the process as
# soon as the handler returns from the close event, so the stop sequence must have run by
# then, and a ForceKill task's process must be gone with it.
#
# Usage: console_close_win32_test.sh ZAVPluginService.exe ntservice_test.exe
# (the test executable delivers the event as the system does, and counts processes).
# WINEPREFIX must name the build's throw-away prefix (the ctest environment does).
set -u

exe=${1:?usage: console_close_win32_test.sh ZAVPluginService.exe ntservice_test.exe}
tests=${2:?usage: console_close_win32_test.sh ZAVPluginService.exe ntservice_test.exe}
: "${WINEPREFIX:?set WINEPREFIX to the build's throw-away prefix}"

work=$(mktemp -d)
dir="$work/ZAV"
log="$dir/Logs/HVS.Log"
task_line="Task 'Long' run by command: ping.exe"
pid=""
mkdir -p "$dir/Config" || exit 1
cp "$exe" "$dir/ZAVPluginService.exe" || exit 1
cat > "$dir/Config/long.xml" <<'EOF'
<?xml version="1.0"?>
<Task>
  <Name>Long</Name>
  <Command>ping.exe -n 120 127.0.0.1</Command>
  <ForceKill>true</ForceKill>
  <Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule>
</Task>
EOF

. "$(dirname "$0")/checks.sh"

role() { HVS_TEST_CHILD_ROLE=$1 HVS_TEST_CHILD_ARG=$2 wine "$tests" 2>/dev/null | tr -d '\r'; }
pings() { role process-count ping.exe; }
no_pings() { [ "$(pings)" = 0 ]; }
clear_keys() { wine reg delete 'HKLM\SOFTWARE\Sorvane' /f /reg:32 >/dev/null 2>&1; }
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  clear_keys
  rm -rf "$work"
}
trap cleanup EXIT
clear_keys  # a LastRun left behind would hold the task back
check "no ping runs before" no_pings

(cd "$dir" && exec wine ZAVPluginService.exe /console > "$work/console.out" 2>&1) &
pid=$!
check "the task runs" within 20 more_runs_than 0
running() { [ "$(pings)" = 1 ]; }
check "its process is up" within 10 running

held=$(role system-console-event "2 ZAVPluginService.exe")
case $held in
  [0-9]*)
    wait "$pid"
    pid=""
    check "the close was answered within the system's 5 s" test "$held" -lt 5000
    ;;
  *) fail "the close event could not be delivered: '$held'" ;;
esac
check "the stop sequence ran before the process ended" log_has "Service Stopped"
check "the ForceKill task's process is gone" within 5 no_pings

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; the log was:"
  cat "$log" 2>/dev/null
  exit 1
fi
echo "all checks passed"
