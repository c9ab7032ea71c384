#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Safe to run again: it installs only what is missing.
# Usage: scripts/install-deps.sh [build|test|package]
set -euo pipefail

build_packages=(cmake ninja-build g++ make pkg-config)
test_packages=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang
               libclang-rt-dev mpg123)
# tests/package/run.sh: building the Debian packages, checking them, and a
# fresh Debian root to install them in; systemd for systemd-analyze.
package_packages=(dpkg-dev debhelper dh-dkms dkms fakeroot lintian debootstrap systemd)

wanted=("${build_packages[@]}")
case "${1:-build}" in
  test) wanted+=("${test_packages[@]}") ;;
  package) wanted+=("${package_packages[@]}") ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq \
  --no-install-recommends "${missing[@]}"
