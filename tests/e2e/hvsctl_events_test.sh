#!/bin/sh
# End-to-end test of `hvsctl events`: events written by another process, listed oldest first.
# Usage: hvsctl_events_test.sh PATH_TO_HVSCTL PATH_TO_NTSERVICE_TEST
# The test executable's child role "report-sample-events" writes the events through EventSource.
set -u
HVSCTL=${1:?usage: hvsctl_events_test.sh PATH_TO_HVSCTL PATH_TO_NTSERVICE_TEST}
WRITER=${2:?usage: hvsctl_events_test.sh PATH_TO_HVSCTL PATH_TO_NTSERVICE_TEST}
HVS_STATE_DIR=$(mktemp -d)
export HVS_STATE_DIR
scratch=$(mktemp -d)
trap 'rm -rf "$HVS_STATE_DIR" "$scratch"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

tab=$(printf '\t')

# An empty log lists nothing.
"$HVSCTL" events >"$scratch/out" 2>"$scratch/err" || fail "events on an empty log exited $?"
[ -s "$scratch/out" ] && fail "empty log listed: $(cat "$scratch/out")"
[ -s "$scratch/err" ] && fail "empty log complained: $(cat "$scratch/err")"

before=$(date +%s)
HVS_TEST_CHILD_ROLE=report-sample-events "$WRITER" || fail "the writer exited $?"
after=$(date +%s)

"$HVSCTL" events >"$scratch/out" 2>"$scratch/err" || fail "events exited $?"
[ -s "$scratch/err" ] && fail "unexpected error output: $(cat "$scratch/err")"

# Everything after the time, field for field; the strings are escaped so each event is one line.
cut -f 2- "$scratch/out" >"$scratch/fields"
cat >"$scratch/want" <<WANT
ZAV Server Plugin Service${tab}Information${tab}0x40000001${tab}ZAV Server Plugin Service
ZAV Server Plugin Service${tab}Error${tab}0xC000000E${tab}5, Access is denied.\r\n${tab}1
ZAV Server Plugin Service${tab}Warning${tab}0x80000010${tab}tab\there${tab}back\\\\slash${tab}
Other Source${tab}Information${tab}0x40000009
WANT
if ! cmp -s "$scratch/want" "$scratch/fields"; then
  fail "listing differs:"
  diff -u "$scratch/want" "$scratch/fields"
fi

# Each time is local "YYYY-MM-DD HH:MM:SS" within the writer's run.
cut -f 1 "$scratch/out" | while read -r stamp; do
  echo "$stamp" | grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$' ||
    { echo "FAIL: time '$stamp' is not YYYY-MM-DD HH:MM:SS"; exit 1; }
  seconds=$(date -d "$stamp" +%s) || exit 1
  if [ "$seconds" -lt "$before" ] || [ "$seconds" -gt "$after" ]; then
    echo "FAIL: time '$stamp' is outside the writer's run"
    exit 1
  fi
done || failures=$((failures + 1))

[ "$(stat -c %a "$HVS_STATE_DIR/eventlog.db")" = 600 ] || fail "eventlog.db is not mode 600"

# Words after "events" are refused.
"$HVSCTL" events extra >"$scratch/out" 2>"$scratch/err"
[ $? = 1 ] || fail "events extra did not exit 1"
[ "$(head -n 1 "$scratch/err")" = "ERROR: Invalid syntax." ] || fail "events extra said: $(cat "$scratch/err")"

[ "$failures" = 0 ] && echo "hvsctl events: all checks passed"
[ "$failures" = 0 ]
