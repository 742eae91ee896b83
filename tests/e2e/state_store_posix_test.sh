#!/bin/sh
# End-to-end on Linux: /tasks and /validate create and write nothing, a missing store reads as
# empty, a refused state directory is said (by the verbs with a failing exit code, by the
# service once in its log), and a task whose program already runs is not started again.
#
# Usage: state_store_posix_test.sh PATH_TO_PROGRAM
set -u
usage="usage: state_store_posix_test.sh PATH_TO_PROGRAM"
program=${1:?$usage}
umask 022

work=$(mktemp -d)
dir="$work/zav"
exe="$dir/ZAVPluginService"
log="$dir/Logs/HVS.Log"
config="$dir/Config"
task_line="Task 'Busy' is already running outside of this service."
pid=""
busy=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "$busy" ] && kill -KILL "$busy" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$config" || exit 1
cp "$program" "$exe" || exit 1

. "$(dirname "$0")/checks.sh"

# A program of its own, already running, which the task names by its path.
cp /bin/sleep "$work/busy-program" || exit 1
cat > "$config/busy.xml" <<EOF2
<Task>
  <Name>Busy</Name>
  <Command>$work/busy-program 0</Command>
  <Schedule><WaitPeriodSeconds>0</WaitPeriodSeconds></Schedule>
</Task>
EOF2

# Only looking: no state directory, no registry.db appears.
for verb in /tasks /validate; do
  HVS_STATE_DIR="$work/missing" "$exe" $verb > "$work/out" 2> "$work/err"
  check "$verb exits with 0 without a store" equals "$?" 0
  check "$verb creates no state directory" not test -e "$work/missing"
  mkdir -m 700 "$work/empty"
  HVS_STATE_DIR="$work/empty" "$exe" $verb > "$work/out" 2> "$work/err"
  check "$verb exits with 0 with an empty state directory" equals "$?" 0
  check "$verb creates no registry.db" equals "$(ls -A "$work/empty")" ""
  rmdir "$work/empty"
done
HVS_STATE_DIR="$work/missing" "$exe" /tasks > "$work/out" 2>&1
check "a missing store reads as empty" grep -q "Last run:   never" "$work/out"

# A state directory that others may write to is refused, and said so.
mkdir -m 777 "$work/open"
chmod 777 "$work/open"
for verb in /tasks /validate; do
  HVS_STATE_DIR="$work/open" "$exe" $verb > "$work/out" 2> "$work/err"
  check "$verb fails with 5 on a refused state directory" equals "$?" 5
  check "$verb says why" grep -q -F \
    "The registry store cannot be used: the state directory $work/open may be written by others (mode 0777)" \
    "$work/err"
done

# The service says it once, in a line of its own, however many times it reads the registry.
HVS_STATE_DIR="$work/open" "$exe" /console > "$work/console" 2>&1 &
pid=$!
check "the service runs its tasks" within 10 log_has "Task 'Busy' run by command:"
kill -INT "$pid" 2>/dev/null
wait "$pid"
pid=""
check "the service logs the refused store once" equals \
  "$(count_in_log "] The registry store cannot be used: the state directory $work/open may be written by others (mode 0777)")" 1
check "the service still logs its failed key" log_has "] Creating HVS registry key failed"
rm -f "$log"

# The task's program runs already: the service refuses to start it, /tasks says it runs.
"$work/busy-program" 60 &
busy=$!
mkdir -m 700 "$work/state"
HVS_STATE_DIR="$work/state" "$exe" /tasks > "$work/out" 2>&1
check "/tasks says the program runs" grep -q "Running:    yes" "$work/out"
HVS_STATE_DIR="$work/state" "$exe" /console > "$work/console" 2>&1 &
pid=$!
check "the service refuses the running program" within 10 log_has "$task_line"
check "and does not start it" not log_has "Task 'Busy' run by command:"
kill -INT "$pid" 2>/dev/null
wait "$pid"
pid=""
kill -KILL "$busy"
wait "$busy" 2>/dev/null
busy=""

[ "$failures" -eq 0 ] && echo "state store end-to-end: all checks passed"
exit "$failures"
