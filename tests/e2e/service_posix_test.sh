#!/bin/sh
# End-to-end on Linux: the program installs, controls and removes itself as a service.
#
# It does so through our own service control manager; hvsctl reads the result back as
# sc.exe and reg.exe would show it on Windows.
#
# Usage: service_posix_test.sh PATH_TO_PROGRAM PATH_TO_HVSCTL
set -u
program=${1:?usage: service_posix_test.sh PATH_TO_PROGRAM PATH_TO_HVSCTL}
hvsctl=${2:?usage: service_posix_test.sh PATH_TO_PROGRAM PATH_TO_HVSCTL}

name=ZAVPluginService
source_name="ZAV Server Plugin Service"
services_key='HKLM\SYSTEM\CurrentControlSet\Services'
source_key="$services_key\\EventLog\\Application\\$source_name"
task_line="Task 'E2eQuick' run by command: true"

work=$(mktemp -d)
HVS_STATE_DIR="$work/state"
export HVS_STATE_DIR
dir="$work/ZAV Plugin Service"  # the path holds spaces, so the binary path must be quoted
exe="$dir/ZAVPluginService"
log="$dir/Logs/HVS.Log"
status_file="$HVS_STATE_DIR/services/zavpluginservice.status"
mkdir -p "$dir/Config" || exit 1
cp "$program" "$exe" || exit 1
cat > "$dir/Config/quick.xml" <<'EOF'
<?xml version="1.0"?>
<Task>
  <Name>E2eQuick</Name>
  <Command>true</Command>
  <ForceKill>true</ForceKill>
  <Schedule>
    <WaitPeriodSeconds>0</WaitPeriodSeconds>
  </Schedule>
</Task>
EOF

. "$(dirname "$0")/checks.sh"

# The program's verbs, run from elsewhere; `out` receives what it printed, `status` the
# exit status (the low 8 bits of the exit code). System texts end in CR LF, as on Windows.
verb() {
  (cd "$work" && "$exe" "$@" > "$work/printed" 2>&1)
  status=$?
  out=$(tr -d '\r' < "$work/printed")
}
# The same, given up on after $1 seconds (exit status 124).
verb_within() {
  limit=$1
  shift
  (cd "$work" && timeout "$limit" "$exe" "$@" > "$work/printed" 2>&1)
  status=$?
  out=$(tr -d '\r' < "$work/printed")
}
state() { "$hvsctl" sc query "$name" | sed -n 's/^ *STATE *: *\([0-9]*\).*/\1/p'; }
is_state() { [ "$(state)" = "$1" ]; }
# The service's process id, as its status file records it.
service_pid() { cut -d' ' -f1 "$status_file" 2>/dev/null; }
shows() { "$hvsctl" "$1" query "$2" ${4:+/v "$4"} 2>/dev/null | grep -q -F -e "$3"; }
key_exists() { "$hvsctl" reg query "$1" >/dev/null 2>&1; }

# Ends the service only when the recorded process is still our program.
cleanup() {
  pid=$(service_pid)
  if [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$exe" ]; then
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- installation ---------------------------------------------------------------------
verb /install
check "/install exits 0" equals "$status" 0
check "/install prints nothing" equals "$out" ""
"$hvsctl" sc qc "$name" > "$work/qc"
check "sc qc succeeds" grep -q -F "[SC] QueryServiceConfig SUCCESS" "$work/qc"
check "service starts automatically" grep -q -E '^ +START_TYPE +: 2   AUTO_START$' "$work/qc"
check "binary path is the quoted program" grep -q -F "BINARY_PATH_NAME   : \"$exe\"" "$work/qc"
check "display name" grep -q -F "DISPLAY_NAME       : $source_name" "$work/qc"
check "account" grep -q -F "SERVICE_START_NAME : LocalSystem" "$work/qc"
check "description" shows reg "$services_key\\$name" "Description    REG_SZ    Runs ZAV Server Plugins" Description
check "event message file is the DLL beside the program" \
  shows reg "$source_key" "EventMessageFile    REG_SZ    $exe.DLL" EventMessageFile
check "event types supported" shows reg "$source_key" "TypesSupported    REG_DWORD    0x7" TypesSupported
check "never started" is_state 1

verb /install
check "second /install exits with 1073's low byte" equals "$status" $((1073 & 255))
check "second /install prints text 3 with the system's text" equals "$out" \
  "CServiceShell::Install, Failed call to CreateService, Error:1073, The specified service already exists."
verb /install /silent
check "silent /install prints nothing" equals "$out" ""
check "silent /install still fails" equals "$status" $((1073 & 255))

# --- every wait of a verb ends within its /T: ----------------------------------------------
# Another starter holds the service's start lock and does not let go.
start_lock="$HVS_STATE_DIR/services/zavpluginservice.start.lock"
sh -c 'exec 9<>"$1" && flock 9 && exec sleep 30' sh "$start_lock" &
holder=$!
sleep 1
began=$(date +%s)
verb_within 15 /start /T:1000
took=$(($(date +%s) - began))
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null
check "/start behind a held lock fails with 1055's low byte" equals "$status" $((1055 & 255))
check "it says the database is locked" equals "$out" \
  "Failed to start the service, Error:1055, The service database is locked."
check "within its /T: and a little more" test "$took" -le 4
check "nothing was started" is_state 1

# --- control through the program's own verbs ----------------------------------------------
verb /start
check "/start exits 0" equals "$status" 0
check "/start waits until RUNNING" is_state 4
check "sc query shows what it accepts" shows sc "$name" "(STOPPABLE, PAUSABLE, IGNORES_SHUTDOWN)"
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

# A state directory that cannot be written (a read-only mount, seen by these commands only)
# still answers queries and takes controls.
if [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  unshare -m sh -c 'mount --make-rprivate / && mount --bind "$1" "$1" &&
    mount -o remount,bind,ro "$1" && ! touch "$1/probe" 2>/dev/null &&
    "$2" sc query ZAVPluginService > /dev/null && "$3" /pause && "$3" /continue' \
    sh "$HVS_STATE_DIR" "$hvsctl" "$exe" > "$work/printed" 2>&1
  status=$?
  check "query, /pause and /continue work on a read-only state directory" equals "$status" 0
  check "and leave it RUNNING" is_state 4
else
  echo "skip: no read-only mount without root"
fi

# A start request to a running service would be refused (1056): the same process runs on
# and no second start shows in the log, so none was sent.
pid=$(service_pid)
starts=$(count_in_log "Service Started.")
verb /start
check "/start on a running service succeeds" equals "$status" 0
check "the same process still runs it" equals "$(service_pid)" "$pid"
check "no second start in the log" equals "$(count_in_log "Service Started.")" "$starts"

verb /stop
check "/stop exits 0" equals "$status" 0
check "/stop waits until STOPPED" is_state 1
check "the log shows the stop sequence" log_has "Stopping Service"
check "the log ends with the service stopped" equals "$(tail -n 1 "$log" | tr -d '\r' | sed 's/^\[[^]]*\] //')" "Service Stopped"
check "exit code 0" shows sc "$name" "WIN32_EXIT_CODE    : 0  (0x0)"

lines=$(wc -l < "$log")
verb /stop
check "/stop on a stopped service succeeds" equals "$status" 0
check "nothing reached the service" equals "$(wc -l < "$log")" "$lines"

# --- a service killed without reporting ---------------------------------------------------
verb /start
check "/start after a stop exits 0" equals "$status" 0
check "it runs again" is_state 4
kill -KILL "$(service_pid)"
check "a killed service reads STOPPED" within 5 is_state 1
check "with exit code 1067" shows sc "$name" "WIN32_EXIT_CODE    : 1067  (0x42b)"
verb /start
check "/start starts the killed service again" equals "$status" 0
check "it runs once more" is_state 4

# --- SIGTERM, as at a shutdown or from an operator's kill ---------------------------------
stops=$(count_in_log "Service Stopped")
kill -TERM "$(service_pid)"
check "a service sent SIGTERM reads STOPPED" within 15 is_state 1
check "it ran its stop sequence" equals "$(count_in_log "Service Stopped")" $((stops + 1))
check "with exit code 0" shows sc "$name" "WIN32_EXIT_CODE    : 0  (0x0)"
verb /start
check "/start after SIGTERM exits 0" equals "$status" 0

# --- removal ------------------------------------------------------------------------------
stops=$(count_in_log "Service Stopped")
verb /remove
check "/remove of a running service exits 0" equals "$status" 0
check "/remove stopped it first" equals "$(count_in_log "Service Stopped")" $((stops + 1))
check "the service entry is gone" not key_exists "$services_key\\$name"
check "the event source is gone" not key_exists "$source_key"
"$hvsctl" sc query "$name" > "$work/gone"
check "sc query fails with 1060's low byte" equals "$?" $((1060 & 255))
check "sc query prints the failure" grep -q -F "[SC] OpenService FAILED 1060:" "$work/gone"

"$hvsctl" events > "$work/events"
check "the installation is in the event log" grep -q -F "	0x40000002	$source_name" "$work/events"

# --- the systemd unit ----------------------------------------------------------------------
unit="$(dirname "$0")/../../packaging/linux/zavpluginservice.service"
for directive in Type=exec UMask=0027 NoNewPrivileges=yes PrivateTmp=yes PrivateDevices=yes \
  ProtectSystem=full ProtectKernelTunables=yes ProtectControlGroups=yes RestrictSUIDSGID=yes; do
  check "the unit sets $directive" grep -q -x -F "$directive" "$unit"
done
if command -v systemd-analyze > /dev/null 2>&1; then
  # Verified with this build's program in place of the installed one.
  sed -e "s#^ExecStart=[^ ]*#ExecStart=\"$exe\"#" -e "s#^WorkingDirectory=.*#WorkingDirectory=$dir#" \
    "$unit" > "$work/zavpluginservice.service"
  verified=$(systemd-analyze verify --man=no "$work/zavpluginservice.service" 2>&1)
  check "systemd-analyze verify finds nothing to say" equals "$verified" ""
else
  echo "skip: systemd-analyze is not installed"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; the log was:"
  cat "$log" 2>/dev/null
  exit 1
fi
echo "all checks passed"
