#!/usr/bin/env bash
# Builds the Debian package and the Windows zip from the release presets and checks each as an
# administrator receives it: its files, its version, and the program run from it.
# Usage: scripts/package.sh [native|win32|all]   (all by default)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
which=${1:-all}
case $which in native | win32 | all) ;; *) echo "usage: scripts/package.sh [native|win32|all]" >&2; exit 2 ;; esac

scripts/install-deps.sh "$([ "$which" = native ] && echo native || echo all)"

log=/dev/null task_line=unused
. tests/e2e/checks.sh
contains() { case $1 in *"$2"*) return 0 ;; esac; echo "  '$2' not in '$1'"; return 1; }
# same_lines EXPECTED_FILE ACTUAL_FILE: the two sorted lists are equal, else the difference shows.
same_lines() { diff "$1" "$2" | sed -n 's/^[<>]/ &/p'; cmp -s "$1" "$2"; }
mode_of() { stat -c %a "$1" 2>/dev/null; }

# Builds a preset's package into its build directory's packages/, and prints the file.
build_package() {
  local preset=$1 pattern=$2
  echo "=== package $preset ===" >&2
  rm -rf "build/$preset/packages"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)" --target package >&2
  local files=(build/"$preset"/packages/$pattern)
  [ ${#files[@]} -eq 1 ] && [ -f "${files[0]}" ] || { echo "no single $pattern in build/$preset/packages" >&2; return 1; }
  echo "$source_dir/${files[0]}"
}
# The manual's files, relative to docs/; both packages carry all of them.
manual=$(cd docs && find . -type f | sed 's|^\./||' | sort)
cache_value() { sed -n "s/^$2:[A-Z]*=//p" "build/$1/CMakeCache.txt"; }

# What the checks leave running or lying around, ended and removed at exit whatever happened.
deb_work="" deb_pid="" zip_work="" zip_dir=""
cleanup() {
  set +e
  if [ -n "$deb_work" ]; then
    [ -n "$deb_pid" ] && kill -KILL "$deb_pid" 2>/dev/null
    # A service of the program's own manager that a failed check left running, found by the
    # program file that only this run created.
    for exe in /proc/[0-9]*/exe; do
      [ "$(readlink "$exe" 2>/dev/null)" = "$deb_work/root/opt/zavpluginservice/ZAVPluginService" ] &&
        kill -KILL "$(basename "$(dirname "$exe")")" 2>/dev/null
    done
    rm -rf "$deb_work"
  fi
  if [ -n "$zip_work" ]; then
    (cd "$zip_dir" && WINEPREFIX=$zip_work/prefix wine ZAVPluginService.exe /remove /silent) >/dev/null 2>&1
    WINEPREFIX=$zip_work/prefix wineserver -k 2>/dev/null
    rm -rf "$zip_work"
  fi
  return 0
}
trap cleanup EXIT

check_deb() {
  local deb=$1 version=$2 unit_dir=$3
  local work root program_dir status
  work=$(mktemp -d)
  deb_work=$work
  root=$work/root
  program_dir=$root/opt/zavpluginservice

  field() { dpkg-deb -f "$deb" "$1"; }
  check "deb: package name" equals "$(field Package)" zavpluginservice
  check "deb: version is the project's" equals "$(field Version)" "$version"
  check "deb: depends on the SQLite library" contains "$(field Depends)" libsqlite3
  dpkg-deb -e "$deb" "$work/control"
  check "deb: no conffiles (the sample is not one)" not test -e "$work/control/conffiles"
  for script in postinst prerm postrm; do
    check "deb: $script parses as sh" sh -n "$work/control/$script"
    check "deb: $script mode 755" equals "$(mode_of "$work/control/$script")" 755
  done

  # Every file with its mode and owner; directories only where the package must create one.
  {
    echo "-rwxr-xr-x root/root ./opt/zavpluginservice/ZAVPluginService"
    echo "drwxr-xr-x root/root ./opt/zavpluginservice/Config/"
    for f in packaging/linux/Config/*; do
      echo "-rw-r--r-- root/root ./opt/zavpluginservice/Config.sample/${f##*/}"
    done
    echo "-rwxr-xr-x root/root ./usr/bin/hvsctl"
    echo "-rw-r--r-- root/root .$unit_dir/zavpluginservice.service"
    for f in $manual; do echo "-rw-r--r-- root/root ./usr/share/doc/zavpluginservice/$f"; done
  } | sort >"$work/expected"
  dpkg-deb -c "$deb" | awk '$1 !~ /^d/ || $6 ~ /\/Config\/$/ { print $1, $2, $6 }' | sort >"$work/listed"
  check "deb: file list, modes and owners" same_lines "$work/expected" "$work/listed"

  dpkg-deb -x "$deb" "$root"
  check "deb: the unit is the one in packaging/linux" \
    cmp -s packaging/linux/zavpluginservice.service "$root$unit_dir/zavpluginservice.service"
  check "deb: the sample is packaging/linux/Config" diff -r packaging/linux/Config "$program_dir/Config.sample"
  check "deb: the manual is docs/" diff -r docs "$root/usr/share/doc/zavpluginservice"
  check "deb: the program's libraries are found" not grep -q "not found" <(ldd "$program_dir/ZAVPluginService")

  # The maintainer scripts on the unpacked tree: DPKG_ROOT keeps them off this machine.
  DPKG_ROOT=$root sh "$work/control/postinst" configure ""
  check "postinst: state directory 700" equals "$(mode_of "$root/var/lib/hvs")" 700
  check "postinst: Logs 750" equals "$(mode_of "$program_dir/Logs")" 750

  # The program from the package, in the foreground as systemd runs it, on the sample task.
  export HVS_STATE_DIR=$root/var/lib/hvs
  hvsctl=$root/usr/bin/hvsctl
  "$hvsctl" reg add 'HKLM\SOFTWARE\Sorvane\Meridel Server\Database' /v Password /d 's3cret!' /f >/dev/null
  cp "$program_dir"/Config.sample/*.xml "$program_dir/Config/"
  log=$program_dir/Logs/HVS.Log
  (cd "$work" && exec "$program_dir/ZAVPluginService" /console >"$work/console.out" 2>&1) &
  deb_pid=$!
  check "deb: the program starts" within 15 log_has "] Service Started."
  check "deb: the sample task runs" within 20 log_has "] Task 'Heartbeat' run by command: true --dsn "
  check "deb: the password is masked" not grep -qF 's3cret!' "$log" "$work/console.out"
  status=0
  kill -TERM "$deb_pid"
  wait "$deb_pid" || status=$?
  deb_pid=""
  check "deb: SIGTERM stops it with exit status 0" equals "$status" 0
  check "deb: its stop sequence ran" log_has "] Service Stopped"
  check "deb: hvsctl reads the task's LastRun" \
    grep -q 'LastRun    REG_SZ    [0-9]' <("$hvsctl" reg query 'HKLM\SOFTWARE\Sorvane\HVS\Heartbeat' 2>&1)

  # A service installed with the program's own verbs must not outlive the package.
  "$program_dir/ZAVPluginService" /install >/dev/null 2>&1 || true
  "$program_dir/ZAVPluginService" /start >/dev/null 2>&1 || true
  check "deb: /start runs it under its own manager" \
    grep -q "STATE *: *4" <("$hvsctl" sc query ZAVPluginService 2>&1)
  stops=$(count_in_log "] Service Stopped")
  DPKG_ROOT=$root sh "$work/control/prerm" remove
  installed() { "$hvsctl" sc query ZAVPluginService >/dev/null 2>&1; }
  check "prerm: it removed the service" not installed
  check "prerm: the service ran its stop sequence" equals "$(count_in_log "] Service Stopped")" $((stops + 1))
  unset HVS_STATE_DIR

  echo '<Task/>' >"$program_dir/Config/own.xml"
  rm "$program_dir"/Config/heartbeat.xml
  DPKG_ROOT=$root sh "$work/control/postrm" purge
  check "postrm purge: state directory gone" not test -e "$root/var/lib/hvs"
  check "postrm purge: Logs gone" not test -e "$program_dir/Logs"
  check "postrm purge: the administrator's task file stays" test -f "$program_dir/Config/own.xml"
}

check_zip() {
  local zip=$1 version=$2
  local work top dir win_exe
  work=$(mktemp -d)
  zip_work=$work
  top=ZAVPluginService

  {
    for f in ZAVPluginService.exe ZAVPluginService.dll Config/; do echo "$top/$f"; done
    for f in packaging/windows/Config/*; do echo "$top/Config.sample/${f##*/}"; done
    for f in $manual; do echo "$top/docs/$f"; done
  } | sort >"$work/expected"
  unzip -Z1 "$zip" | awk '!/\/$/ || /\/Config\/$/' | sort >"$work/listed"
  check "zip: file list" same_lines "$work/expected" "$work/listed"

  unzip -q "$zip" -d "$work/unpacked"
  for f in ZAVPluginService.exe ZAVPluginService.dll; do
    # VERSIONINFO strings are UTF-16: each key is followed by its value.
    for key in FileVersion ProductVersion; do
      check "zip: $f $key" equals \
        "$(strings -el "$work/unpacked/$top/$f" | grep -x -A1 "$key" | sed -n 2p)" "$version"
    done
    check "zip: $f OriginalFilename" equals \
      "$(strings -el "$work/unpacked/$top/$f" | grep -x -A1 OriginalFilename | sed -n 2p)" "$f"
  done
  check "zip: the sample is packaging/windows/Config" \
    diff -r packaging/windows/Config "$work/unpacked/$top/Config.sample"
  check "zip: the manual is docs/" diff -r docs "$work/unpacked/$top/docs"

  # A throw-away prefix of its own. Once its first boot has ended, a server that stays:
  # services outlive the wine process that starts them.
  export WINEPREFIX=$work/prefix WINEDEBUG=-all
  wine wineboot --init >/dev/null 2>&1
  timeout 60 wineserver -w
  wineserver -p
  dir="$WINEPREFIX/drive_c/Program Files/ZAVPluginService"
  zip_dir=$dir
  mv "$work/unpacked/$top" "$dir"
  cp "$dir"/Config.sample/*.xml "$dir/Config/"
  log=$dir/Logs/HVS.Log
  win_exe=$(winepath -w "$dir/ZAVPluginService.exe" 2>/dev/null | tr -d '\r')

  # The verb's whole exit code, which cmd.exe sees and the low eight bits of wine's do not.
  verb() {
    printf '@"%s" %s >nul\r\n@echo %%ERRORLEVEL%%\r\n' "$win_exe" "$*" >"$dir/verb.bat"
    (cd "$dir" && wine cmd /c verb.bat 2>/dev/null | tr -d '\r')
  }
  state() { wine sc query ZAVPluginService 2>/dev/null | tr -d '\r' | sed -n 's/^ *STATE *: *\([0-9]*\).*/\1/p'; }
  reg_has() { wine reg query "$1" 2>/dev/null | tr -d '\r' | grep -q -F "$2"; }
  local services='HKLM\System\CurrentControlSet\Services'
  local source="$services\\EventLog\\Application\\ZAV Server Plugin Service"

  check "zip: /install exits 0" equals "$(verb /install)" 0
  check "zip: the service runs the unpacked program" \
    reg_has "$services\\ZAVPluginService" "ImagePath    REG_SZ    \"$win_exe\""
  check "zip: the events' message file is the unpacked DLL" \
    reg_has "$source" "EventMessageFile    REG_SZ    ${win_exe%.exe}.DLL"
  check "zip: /start exits 0" equals "$(verb /start)" 0
  check "zip: the service is RUNNING" equals "$(state)" 4
  check "zip: the service logs its start" within 15 log_has "] Service Started."
  check "zip: the sample task runs" within 20 log_has "] Task 'Heartbeat' run by command: hostname.exe --dsn "
  check "zip: /stop exits 0" equals "$(verb /stop)" 0
  check "zip: the service is STOPPED" equals "$(state)" 1
  check "zip: its stop sequence ran" log_has "] Service Stopped"
  check "zip: /remove exits 0" equals "$(verb /remove)" 0
  check "zip: the service entry is gone" not reg_has "$services\\ZAVPluginService" ImagePath
  check "zip: the event source is gone" not reg_has "$source" EventMessageFile
  unset WINEPREFIX
}

if [ "$which" != win32 ]; then
  deb=$(build_package native-release '*.deb')
  check_deb "$deb" "$(cache_value native-release CMAKE_PROJECT_VERSION)" \
    "$(cache_value native-release HVS_SYSTEMD_UNIT_DIR)"
fi
if [ "$which" != native ]; then
  zip=$(build_package win32-release '*.zip')
  check_zip "$zip" "$(cache_value win32-release CMAKE_PROJECT_VERSION)"
fi

if [ "$failures" -ne 0 ]; then
  echo "packages: $failures check(s) failed"
  exit 1
fi
echo "packages: all checks passed"
