#!/usr/bin/env bash
# Installs the Debian packages that the build needs and that are missing.
# Usage: scripts/install-deps.sh native|all
set -euo pipefail

# dpkg-dev: dpkg-shlibdeps for the .deb's dependencies; unzip: the zip's check.
native=(cmake make g++ pkg-config googletest librapidxml-dev libboost1.81-dev libsqlite3-dev clang libclang-rt-14-dev dpkg-dev)
cross=(mingw-w64 wine64 wine unzip)

packages=("${native[@]}")
if [ "${1:-all}" = all ]; then packages+=("${cross[@]}"); fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
