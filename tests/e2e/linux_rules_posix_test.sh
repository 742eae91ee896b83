#!/bin/sh
# End-to-end on Linux, where the program keeps the intent of the Windows rules: a plug-in
# beside the program is found (never one in the working directory), only regular task files
# are read, a console whose reader has quit does not end the program, and a removed Logs
# folder comes back.
#
# Usage: linux_rules_posix_test.sh PATH_TO_PROGRAM PATH_TO_HVSCTL
set -u
usage="usage: linux_rules_posix_test.sh PATH_TO_PROGRAM PATH_TO_HVSCTL"
program=${1:?$usage}
hvsctl=${2:?$usage}
umask 022

work=$(mktemp -d)
HVS_STATE_DIR="$work/state"
export HVS_STATE_DIR
dir="$work/zav"
exe="$dir/ZAVPluginService"
log="$dir/Logs/HVS.Log"
config="$dir/Config"
task_line="Task 'Plugin' run by command: myplugin"
pid=""
reader=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "$reader" ] && kill -KILL "$reader" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$config" "$work/cwd" || exit 1
cp "$program" "$exe" || exit 1

. "$(dirname "$0")/checks.sh"

# The plug-in beside the program, and one of the same name in the working directory that
# an empty PATH entry would find.
cat > "$dir/myplugin" <<EOF
#!/bin/sh
echo ran >> "$work/plugin-runs"
EOF
cat > "$work/cwd/myplugin" <<EOF
#!/bin/sh
echo ran >> "$work/cwd-runs"
EOF
chmod 755 "$dir/myplugin" "$work/cwd/myplugin"
cat > "$config/plugin.xml" <<'EOF'
<Task>
  <Name>Plugin</Name>
  <Command>myplugin</Command>
  <Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>
</Task>
EOF
# Task files that are no regular files, or too large to be one.
mkfifo "$config/fifo.xml" || exit 1
ln -s /dev/zero "$config/zero.xml" || exit 1
{ printf '<Task><Name>Big</Name></Task>'; head -c 1048576 /dev/zero | tr '\0' ' '; } > "$config/big.xml"
"$hvsctl" reg add 'HKLM\SOFTWARE\Sorvane\HVS' /v LoadTaskInterval /d 2 /f > /dev/null || exit 1

# The console goes to a reader that quits after its first line, as `| head -n 1` does. The
# program starts with SIGPIPE's default, whatever this script inherited.
mkfifo "$work/console" || exit 1
head -n 1 < "$work/console" > "$work/first-line" &
reader=$!
(cd "$work/cwd" && PATH=":/usr/bin:/bin" exec env --default-signal=PIPE "$exe" /console \
  > "$work/console" 2> "$work/stderr") &
pid=$!

check "the plug-in beside the program runs" within 10 test -s "$work/plugin-runs"
check "its run is logged" within 5 log_has "$task_line"
wait "$reader"
reader=""
check "the first console line was read" grep -q "Service Started." "$work/first-line"
for name in fifo zero; do
  check "$name.xml is refused as no regular file" within 10 \
    log_has "Couldn't open $config/$name.xml for read: not a regular file."
done
check "big.xml is refused as too large" within 10 \
  log_has "Couldn't read $config/big.xml: larger than 1 MiB."
check "the refusals are failed loads" log_has "Task configuration file 'fifo.xml' could not load."
runs=$(task_runs)
check "the program outlives its console and goes on running the task" within 10 more_runs_than $((runs + 2))
check "the program is still running" kill -0 "$pid" 2>/dev/null
check "nothing ran from the working directory" not test -e "$work/cwd-runs"
check "Logs is 0750" equals "$(stat -c %a "$dir/Logs")" 750
check "HVS.Log is 0640" equals "$(stat -c %a "$log")" 640

rm -rf "$dir/Logs"
check "a removed Logs folder comes back with the next line" within 10 log_has "$task_line"

kill -INT "$pid" 2>/dev/null
wait "$pid"
status=$?
pid=""
check "the program stops normally" equals "$status" 0
check "the stop sequence ran" log_has "] Stopping Service"
check "the last line is 'Service Stopped'" sh -c "tail -n 1 '$log' | grep -q -F 'Service Stopped'"
[ -s "$work/stderr" ] && fail "the program wrote to stderr: $(cat "$work/stderr")"

[ "$failures" -eq 0 ] && echo "linux rules end-to-end: all checks passed"
exit "$failures"
