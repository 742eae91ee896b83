# Checks shared by the end-to-end scripts; source it after setting `log` (the program's
# HVS.Log) and `task_line` (the log text of one run of the script's task).
# Every failed check is counted in `failures`, which the script returns as its exit code.

failures=0
pass() { echo "ok: $*"; }
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# check DESCRIPTION COMMAND...: passes when COMMAND succeeds.
check() {
  what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
equals() {
  [ "$1" = "$2" ] && return 0
  echo "  got '$1', expected '$2'"
  return 1
}
not() { ! "$@"; }

# Polls for a condition another process brings about, for at most $1 seconds.
within() {
  limit=$(($1 * 4))
  shift
  while ! "$@"; do
    limit=$((limit - 1))
    [ "$limit" -gt 0 ] || return 1
    sleep 0.25
  done
}

# grep -c prints 0 itself when nothing matches, and nothing when there is no log yet.
count_in_log() {
  n=$(grep -c -F "$1" "$log" 2>/dev/null)
  echo "${n:-0}"
}
task_runs() { count_in_log "$task_line"; }
more_runs_than() { [ "$(task_runs)" -gt "$1" ]; }
log_has() { grep -q -F "$1" "$log" 2>/dev/null; }
