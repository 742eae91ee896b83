#!/bin/sh
# End-to-end test of `hvsctl reg`: reg.exe's output layout and exit codes over a fresh store.
# Usage: hvsctl_reg_test.sh PATH_TO_HVSCTL
set -u
HVSCTL=${1:?usage: hvsctl_reg_test.sh PATH_TO_HVSCTL}
HVS_STATE_DIR=$(mktemp -d)
export HVS_STATE_DIR
scratch=$(mktemp -d)
trap 'rm -rf "$HVS_STATE_DIR" "$scratch"' EXIT
failures=0
step=""

fail() {
  echo "FAIL [$step]: $*"
  failures=$((failures + 1))
}

# run ARGS...: runs hvsctl, keeping its output, error output and exit code.
run() {
  step="hvsctl $*"
  "$HVSCTL" "$@" >"$scratch/out" 2>"$scratch/err"
  echo $? >"$scratch/code"
}

# expect CODE: the exit code is CODE, standard output is exactly the text on standard input
# and nothing went to standard error.
expect() {
  cat >"$scratch/want"
  [ "$(cat "$scratch/code")" = "$1" ] || fail "exit code $(cat "$scratch/code"), wanted $1"
  if ! cmp -s "$scratch/want" "$scratch/out"; then
    fail "output differs:"
    diff -u "$scratch/want" "$scratch/out"
  fi
  [ -s "$scratch/err" ] && fail "unexpected error output: $(cat "$scratch/err")"
  return 0
}

# expect_error MESSAGE: exit code 1, nothing on standard output and "ERROR: MESSAGE" first
# on standard error.
expect_error() {
  [ "$(cat "$scratch/code")" = 1 ] || fail "exit code $(cat "$scratch/code"), wanted 1"
  [ -s "$scratch/out" ] && fail "unexpected output: $(cat "$scratch/out")"
  [ "$(head -n 1 "$scratch/err")" = "ERROR: $1" ] || fail "error was: $(cat "$scratch/err")"
  return 0
}

ok() { expect 0 <<'EOF'
The operation completed successfully.
EOF
}

KEY='HKLM\SOFTWARE\Sorvane\HVS'
NOT_FOUND='The system was unable to find the specified registry key or value.'

# Adding values of every type, creating the missing levels on the way.
run reg add "$KEY" /v LoadTaskInterval /d 60; ok
run reg add "$KEY" /v Dword /t REG_DWORD /d 60; ok
run reg add "$KEY" /v Hex /t reg_dword /d 0xFFFFFFFF; ok
run reg add "$KEY" /v List /t REG_MULTI_SZ /d 'one\0two'; ok
run reg add "$KEY" /v Bytes /t REG_BINARY /d 00ff7A; ok
run reg add "$KEY" /v Expand /t REG_EXPAND_SZ /d '%PATH%;x'; ok
run reg add "$KEY" /ve /d 'the default'; ok
run reg add 'HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS\Backup' /v LastRun /d 0; ok
run reg add "$KEY\\Empty\\"; ok

run reg query "$KEY"
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS
    LoadTaskInterval    REG_SZ    60
    Dword    REG_DWORD    0x3c
    Hex    REG_DWORD    0xffffffff
    List    REG_MULTI_SZ    one\0two
    Bytes    REG_BINARY    00FF7A
    Expand    REG_EXPAND_SZ    %PATH%;x
    (Default)    REG_SZ    the default

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS\Backup
HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS\Empty
EOF

# A key without values shows just its subkeys.
run reg query 'HKLM\SOFTWARE\Sorvane'
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS
EOF

# Names match without regard to case; path and name are echoed as typed.
run reg query 'hklm\software\sorvane\hvs' /v LOADTASKINTERVAL
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\software\sorvane\hvs
    LOADTASKINTERVAL    REG_SZ    60

EOF

run reg query "$KEY" /ve
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS
    (Default)    REG_SZ    the default

EOF

run reg query "$KEY\\Backup" /ve
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS\Backup
    (Default)    REG_SZ    (value not set)

EOF

# Recursively: every key that has values, depth first.
run reg query 'HKLM\SOFTWARE\Sorvane' /s
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS
    LoadTaskInterval    REG_SZ    60
    Dword    REG_DWORD    0x3c
    Hex    REG_DWORD    0xffffffff
    List    REG_MULTI_SZ    one\0two
    Bytes    REG_BINARY    00FF7A
    Expand    REG_EXPAND_SZ    %PATH%;x
    (Default)    REG_SZ    the default

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS\Backup
    LastRun    REG_SZ    0

EOF

run reg query 'HKLM\SOFTWARE\Sorvane' /s /v lastrun
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS\Backup
    lastrun    REG_SZ    0

EOF

# Replacing needs /f, since hvsctl cannot ask; a refused add changes nothing.
run reg add "$KEY" /v LoadTaskInterval /d 5
expect_error 'The value exists already; add /f to overwrite it (hvsctl cannot ask).'
run reg add "$KEY" /v loadtaskinterval /t REG_DWORD /d 5 /f; ok
run reg query "$KEY" /v LoadTaskInterval
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS
    LoadTaskInterval    REG_DWORD    0x5

EOF

# The command, its verbs, switches, type names and the root are case-blind, as reg.exe's are.
run REG Add "$KEY" /V Mixed /T Reg_Sz /D case /F; ok
run Reg QUERY 'Hkey_Local_Machine\SOFTWARE\Sorvane\HVS' /V mixed /S
expect 0 <<'EOF'

HKEY_LOCAL_MACHINE\SOFTWARE\Sorvane\HVS
    mixed    REG_SZ    case

EOF
run reg Delete "$KEY" /V MIXED /F; ok

# Data that does not fit its type is refused before anything is written.
run reg add 'HKLM\SOFTWARE\Bad' /v D /t REG_DWORD /d 4294967296
expect_error 'Invalid data for REG_DWORD: "4294967296".'
run reg add 'HKLM\SOFTWARE\Bad' /v D /t REG_DWORD /d 12abc
expect_error 'Invalid data for REG_DWORD: "12abc".'
run reg add 'HKLM\SOFTWARE\Bad' /v B /t REG_BINARY /d 0g
expect_error 'Invalid data for REG_BINARY: "0g".'
run reg add 'HKLM\SOFTWARE\Bad' /v L /t REG_MULTI_SZ /d 'a\0\0b'
expect_error 'Invalid data for REG_MULTI_SZ: "a\0\0b".'
run reg add 'HKLM\SOFTWARE\Bad' /v Q /t REG_QWORD /d 1
expect_error 'Unsupported type REG_QWORD.'
run reg query 'HKLM\SOFTWARE\Bad'
expect_error "$NOT_FOUND"

# Other roots, missing keys and values, bad syntax.
run reg query 'HKCU\SOFTWARE'
expect_error 'Invalid key name.'
run reg query 'HKLM\SOFTWARE\Absent'
expect_error "$NOT_FOUND"
run reg query "$KEY" /v Absent
expect_error "$NOT_FOUND"
run reg query "$KEY" /x
expect_error 'Invalid syntax.'
run reg query "$KEY" /v
expect_error 'Invalid syntax.'
run reg add "$KEY" /v A /ve
expect_error 'Invalid syntax.'
run reg frobnicate "$KEY"
expect_error 'Invalid syntax.'

# Deleting needs /f too; a value, then a key with its whole subtree.
run reg delete "$KEY" /v Dword
expect_error 'Deleting needs /f to confirm it (hvsctl cannot ask).'
run reg delete "$KEY" /v DWORD /f; ok
run reg query "$KEY" /v Dword
expect_error "$NOT_FOUND"
run reg delete "$KEY" /v Dword /f
expect_error "$NOT_FOUND"
run reg delete 'HKLM' /f
expect_error 'Invalid key name.'
run reg delete 'HKLM\SOFTWARE\Sorvane' /f; ok
run reg query 'HKLM\SOFTWARE\Sorvane'
expect_error "$NOT_FOUND"
run reg query 'HKLM\SOFTWARE'
expect 0 <<'EOF'

EOF

# Two hvsctl processes writing at the same time both succeed.
writer() {
  i=0
  while [ $i -lt 25 ]; do
    "$HVSCTL" reg add "HKLM\\SOFTWARE\\Race" /v "$1$i" /d "$i" >/dev/null || exit 1
    i=$((i + 1))
  done
}
step="concurrent writers"
writer a & first=$!
writer b & second=$!
wait $first || fail "the first writer failed"
wait $second || fail "the second writer failed"
run reg query 'HKLM\SOFTWARE\Race'
[ "$(grep -c '    REG_SZ    ' "$scratch/out")" = 50 ] || fail "expected 50 values, got: $(cat "$scratch/out")"

step="file mode"
[ "$(stat -c %a "$HVS_STATE_DIR/registry.db")" = 600 ] || fail "registry.db is not owner-only"

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all hvsctl reg checks passed"
