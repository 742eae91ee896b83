#!/bin/sh
# End-to-end under Wine: the program installs, controls and removes itself through Wine's
# service control manager, and runs as a service registered with sc.exe.
#
# Usage: service_win32_test.sh ZAVPluginService.exe ZAVPluginService.dll
# WINEPREFIX must name the build's throw-away prefix (the ctest environment does).
set -u

exe=$1
dll=$2
: "${WINEPREFIX:?set WINEPREFIX to the build's throw-away prefix}"

name=ZAVPluginService
source_name="ZAV Server Plugin Service"
services_key='HKLM\System\CurrentControlSet\Services'
source_key="$services_key\\EventLog\\Application\\$source_name"
task_line="Task 'E2eQuick' run by command: hostname.exe"

work=$(mktemp -d)
dir="$work/ZAV Plugin Service"  # the path holds spaces, so the binary path must be quoted
log="$dir/Logs/HVS.Log"
mkdir -p "$dir/Config" || exit 1
cp "$exe" "$dll" "$dir/" || exit 1
cat > "$dir/Config/quick.xml" <<'EOF'
<?xml version="1.0"?>
<Task>
  <Name>E2eQuick</Name>
  <Command>hostname.exe</Command>
  <ForceKill>true</ForceKill>
  <Schedule>
    <WaitPeriodSeconds>1</WaitPeriodSeconds>
  </Schedule>
</Task>
EOF

. "$(dirname "$0")/checks.sh"

# The program's verbs, run from its directory; `out` receives what it printed, `status`
# the exit status (Wine passes on the low 8 bits of the exit code).
verb() {
  (cd "$dir" && wine ZAVPluginService.exe "$@" > "$work/printed" 2>/dev/null)
  status=$?
  out=$(tr -d '\r' < "$work/printed")
}
# The same through cmd.exe, which sees the whole exit code. Under load Wine now and then
# fails to start a process at all; cmd's 9009 (could not run it) then gets a second try.
full_exit_code() {
  printf '@"%s" %s >nul\r\n@echo %%ERRORLEVEL%%\r\n' "$win_exe" "$*" > "$dir/verb_code.bat"
  code=$(cd "$dir" && wine cmd /c verb_code.bat 2>/dev/null | tr -d '\r')
  [ "$code" = 9009 ] && code=$(cd "$dir" && wine cmd /c verb_code.bat 2>/dev/null | tr -d '\r')
  echo "$code"
}
# A probe that Wine failed to start finds nothing either: a state query that got no state,
# and a registry query that found nothing, ask once more.
sc_state() {
  wine sc query "$name" 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *\([0-9]*\).*/\1/p'
}
state() {
  answer=$(sc_state)
  [ -n "$answer" ] || answer=$(sc_state)
  echo "$answer"
}
is_state() { [ "$(state)" = "$1" ]; }
once_more() { "$@" || { sleep 1 && "$@"; }; }
reg_shows() { wine reg query "$1" 2>/dev/null | tr -d '\r' | grep -q -F "$2"; }
reg_has() { once_more reg_shows "$@"; }
key_exists() { once_more wine reg query "$1" >/dev/null 2>&1; }

cleanup() {
  (cd "$dir" && wine ZAVPluginService.exe /remove /silent) >/dev/null 2>&1
  wine sc delete "$name" >/dev/null 2>&1
  wine reg delete 'HKLM\SOFTWARE\Sorvane\HVS\E2eQuick' /f /reg:32 >/dev/null 2>&1
  wineserver -k
  rm -rf "$work"
}

# A server left by an earlier test ends first; then one that stays, because services
# must outlive the wine process that starts them.
timeout 30 wineserver -w
wineserver -p
trap cleanup EXIT

win_exe=$(winepath -w "$dir/ZAVPluginService.exe" 2>/dev/null | tr -d '\r')
win_dll=${win_exe%.exe}.DLL

# --- installation ---------------------------------------------------------------------
verb /install
check "/install exits 0" equals "$status" 0
check "/install prints nothing" equals "$out" ""
check "service starts automatically" reg_has "$services_key\\$name" "Start    REG_DWORD    0x2"
check "binary path is the quoted program" reg_has "$services_key\\$name" "ImagePath    REG_SZ    \"$win_exe\""
check "display name" reg_has "$services_key\\$name" "DisplayName    REG_SZ    $source_name"
check "description" reg_has "$services_key\\$name" "Description    REG_SZ    Runs ZAV Server Plugins"
check "event message file is the DLL beside the program" reg_has "$source_key" "EventMessageFile    REG_SZ    $win_dll"
check "event types supported" reg_has "$source_key" "TypesSupported    REG_DWORD    0x7"

verb /install
check "second /install exits with 1073's low byte" equals "$status" $((1073 & 255))
case $out in
  "CServiceShell::Install, Failed call to CreateService, Error:1073, "?*) pass "second /install prints text 3" ;;
  *) fail "second /install printed: $out" ;;
esac
check "second /install exit code is 1073" equals "$(full_exit_code /install)" 1073
verb /install /silent
check "silent /install prints nothing" equals "$out" ""
check "silent /install still fails" equals "$status" $((1073 & 255))

# --- control through the program's own verbs ----------------------------------------------
verb /start
check "/start exits 0" equals "$status" 0
check "/start waits until RUNNING" is_state 4
check "the service's tasks run" within 10 more_runs_than 0

verb /pause
check "/pause exits 0" equals "$status" 0
check "/pause waits until PAUSED" is_state 7
paused_runs=$(task_runs)
sleep 3
check "no task starts while paused" equals "$(task_runs)" "$paused_runs"

verb /continue
check "/continue exits 0" equals "$status" 0
check "/continue waits until RUNNING" is_state 4
check "tasks run again after continue" within 10 more_runs_than "$paused_runs"

verb /stop
check "/stop exits 0" equals "$status" 0
check "/stop waits until STOPPED" is_state 1
check "the log shows the stop sequence" log_has "Stopping Service"
check "the log shows the service stopped" log_has "Service Stopped"

# A stop request to a stopped service, or a start request to a running one, is refused
# (1062, 1056): exit status 0 shows that none was sent.
verb /stop
check "/stop on a stopped service succeeds" equals "$status" 0
verb /start
check "/start again exits 0" equals "$status" 0
verb /start
check "/start on a running service succeeds" equals "$status" 0
check "it still runs" is_state 4

stops=$(count_in_log "Service Stopped")
verb /remove
check "/remove of a running service exits 0" equals "$status" 0
check "/remove stopped it first" equals "$(count_in_log "Service Stopped")" $((stops + 1))
check "the service entry is gone" not key_exists "$services_key\\$name"
check "the event source is gone" not key_exists "$source_key"

# --- registered with sc.exe, started with net.exe -----------------------------------------
wine sc create "$name" binpath= "\"$win_exe\"" >/dev/null 2>&1
check "sc create registers the program" key_exists "$services_key\\$name"
runs=$(task_runs)
stops=$(count_in_log "Service Stopped")
wine net start "$name" >/dev/null 2>&1
check "net start exits 0" equals "$?" 0
check "sc query shows RUNNING" within 10 is_state 4
check "it runs its tasks" within 10 more_runs_than "$runs"
wine sc stop "$name" >/dev/null 2>&1
check "sc stop brings it to STOPPED" within 15 is_state 1
check "the log shows its stop sequence" equals "$(count_in_log "Service Stopped")" $((stops + 1))
wine sc delete "$name" >/dev/null 2>&1
check "sc delete removes it" not key_exists "$services_key\\$name"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; the log was:"
  cat "$log" 2>/dev/null
  exit 1
fi
echo "all checks passed"
