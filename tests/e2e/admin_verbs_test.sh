#!/bin/sh
# End-to-end: "/tasks", "/validate" and "/run" on a fresh program directory; they change nothing.
# Usage: admin_verbs_test.sh posix PATH_TO_PROGRAM PATH_TO_HVSCTL
#        admin_verbs_test.sh win32 PATH_TO_PROGRAM_EXE   (under Wine, in the WINEPREFIX given)
set -u
usage="usage: admin_verbs_test.sh posix|win32 PATH_TO_PROGRAM [PATH_TO_HVSCTL]"
TARGET=${1:?$usage}
PROGRAM=${2:?$usage}
scratch=$(mktemp -d)
if [ "$TARGET" = posix ]; then
  HVSCTL=${3:?$usage}
  HVS_STATE_DIR=$(mktemp -d)
  export HVS_STATE_DIR
  trap 'rm -rf "$HVS_STATE_DIR" "$scratch"' EXIT
  run() { "$@"; }
  reg() { "$HVSCTL" reg "$@"; }
  program=ZAVPluginService
  sep=/
else
  trap 'rm -rf "$scratch"; reg delete "HKLM\SOFTWARE\Sorvane" /f >/dev/null 2>&1' EXIT
  run() { wine "$@"; }
  reg() { wine reg "$@" /reg:32; }  # the service reads the 32-bit view, as its neighbours write it
  program=ZAVPluginService.exe
  sep='\'
  reg delete 'HKLM\SOFTWARE\Sorvane' /f >/dev/null 2>&1
fi
. "$(dirname "$0")/checks.sh"

dir="$scratch/Program Files/ZAV"
mkdir -p "$dir/Config"
cp "$PROGRAM" "$dir/$program"
config=$dir/Config
cat >"$config/job.xml" <<'XML'
<?xml version="1.0"?>
<Task>
  <Name>Nightly</Name>
  <Command>tool.exe --password %DATABASEPASSWORD% %NOPE%</Command>
  <ForceKill>true</ForceKill>
  <Colour>blue</Colour>
  <Schedule><WaitPeriodSeconds>3600</WaitPeriodSeconds></Schedule>
</Task>
XML
# Its command is the program itself, which runs while it lists the tasks.
printf '<Task><Name>Self</Name><Command>%s</Command></Task>\n' "$program" >"$config/self.xml"
printf '<Task><Name>Cut</Name' >"$config/broken.xml"
reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' /v Password /d 's3cret!' /f >/dev/null
reg add 'HKLM\SOFTWARE\Sorvane\HVS\Nightly' /v LastRun /d "$(($(date +%s) - 60))" /f >/dev/null
snapshot() { reg query 'HKLM\SOFTWARE\Sorvane' /s 2>/dev/null | tr -d '\r'; }
before=$(snapshot)

# Runs the program from its directory; `out` and `errors` get what it printed, `status` the
# exit status (Wine passes on the low 8 bits of the exit code).
verb() {
  (cd "$dir" && run "./$program" "$@" >"$scratch/out" 2>"$scratch/err")
  status=$?
  out=$(tr -d '\r' <"$scratch/out")
  errors=$(tr -d '\r' <"$scratch/err")
}
shows() { printf '%s\n' "$out" | grep -q -F -- "$1"; }
block_of() { printf '%s\n' "$out" | sed -n "/^$1\$/,/^\$/p"; }

verb /tasks
check "/tasks exits 0" equals "$status" 0
check "/tasks names the folder" shows "Task files in "
check "/tasks: job.xml's block" equals "$(block_of job.xml | sed '/Last run\|Next due/d')" "job.xml
  Name:       Nightly
  Loads:      yes
  Period:     3600 seconds
  ForceKill:  true
  Running:    no (tool.exe)"
check "/tasks: the last run comes from the registry" not sh -c 'printf "%s\n" "$1" | grep -q "Last run:   never"' - "$(block_of job.xml)"
check "/tasks: the program itself runs" shows "  Running:    yes"
check "/tasks: broken.xml does not load" shows "  Loads:      no: Couldn't parse "
check "/tasks shows no password" not shows 's3cret!'
check "/tasks writes nothing on stderr" equals "$errors" ""
listing=$out
verb -TASKS
check "-TASKS is /tasks" equals "$out" "$listing"

verb /validate
check "/validate exits 13 when a file does not load" equals "$status" 13
check "/validate: broken.xml" shows "broken.xml: does not load"
check "/validate: the byte offset" shows "broken.xml: expected > at byte 21."
check "/validate: the unknown node" shows "  Unknown node: Colour"
check "/validate: the undefined variable" shows "  Variable NOPE not defined for substitution"
check "/validate: the missing period" shows "  WaitPeriodSeconds is missing: the task is due at every tick"
check "/validate: the summary" shows "Files checked: 3; loading: 2; not loading: 1"
check "/validate shows no password" not shows 's3cret!'

verb /validate "Config${sep}job.xml"
check "/validate of a good file exits 0" equals "$status" 0
check "/validate names the file as given" shows "Config${sep}job.xml: loads"
if [ "$TARGET" = posix ]; then
  verb -validate "$config/job.xml"
  check "an absolute path is a file, not a switch" shows "$config/job.xml: loads"
fi
verb /validate "Config${sep}job.xml" missing.xml
check "/validate of a missing file exits 13" equals "$status" 13
check "/validate: a missing file cannot be opened" shows "Couldn't open missing.xml for read."

# "/run": the task's exit code, its lines on stdout, a refusal of its own; nothing written.
if [ "$TARGET" = posix ]; then ok_command=true; failing_command='sh -c "exit 3"'
else ok_command='cmd /c exit 0'; failing_command='cmd /c exit 3'; fi
printf '<Task><Name>Fine</Name><Command>%s</Command></Task>\n' "$ok_command" >"$config/fine.xml"
printf '<Task><Name>Failing</Name><Command>%s</Command></Task>\n' "$failing_command" >"$config/failing.xml"
verb /run fine
check "/run of a task that succeeds exits 0" equals "$status" 0
check "/run prints the start" shows "Task 'Fine' run by command: $ok_command"
check "/run prints the end" shows "Task 'Fine' finished with exit code 0 after "
verb /run Failing
check "/run exits with the task's exit code" equals "$status" 3
check "/run prints the exit code" shows "Task 'Failing' finished with exit code 3 after "
verb /run Self
check "/run of a program that runs is refused with 170" equals "$status" 170
check "/run says why" shows "Task 'Self' is already running outside of this service."
verb /run nothing
check "/run of no such task exits 2" equals "$status" 2
rm "$config/fine.xml" "$config/failing.xml"

check "the registry is unchanged" equals "$(snapshot)" "$before"
check "no Logs directory" not test -e "$dir/Logs"

mv "$config" "$scratch/Config.away"
verb /tasks
check "/tasks without Config fails" test "$status" -ne 0
check "/tasks without Config prints nothing on stdout" equals "$out" ""
check "/tasks without Config says why on stderr" sh -c 'printf "%s" "$1" | grep -q "^Cannot search .* for task files: error [23], "' - "$errors"
verb /tasks /silent
check "/silent keeps the failure quiet" equals "$errors" ""
check "no Config created" not test -e "$config"

[ "$failures" -eq 0 ] && echo "admin verbs end-to-end: all checks passed"
exit "$failures"
