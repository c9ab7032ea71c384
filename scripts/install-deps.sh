#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# the machine lacks. Safe to run again: it installs only what is missing.
# Usage: scripts/install-deps.sh [build|test|package|image] [PACKAGE...]
#   build   what scripts/run-sim.sh needs (the default); with --sound it
#           names mpg123 and alsa-utils besides
#   package that, plus what tests/package/run.sh needs
#   image   the package group, plus what scripts/make-image.sh needs
#   test    all of that, plus what scripts/test.sh needs
#   PACKAGE further packages (the emulated-PC harness names its own)
set -euo pipefail

# lame encodes the demo MP3 disc's music at build time.
build_packages=(cmake ninja-build g++ make pkg-config lame)
# alsa-utils brings aplay, the PCM player of digital CD playback; procps
# pgrep, with which the emulated-PC harness looks for emulators left behind.
# The emulated-PC and booted-Debian stages install their own further
# packages (qemu, the kernel's headers, xorriso, e2fsprogs) through this
# script.
test_packages=(googletest libgtest-dev libgmock-dev libbenchmark-dev clang alsa-utils
               libclang-rt-dev mpg123 lame sox twolame procps)
# tests/package/run.sh: building the Debian packages (dpkg-buildpackage
# requires build-essential, which a minimal Debian lacks), checking them,
# and a fresh Debian root to install them in; systemd for systemd-analyze.
package_packages=(build-essential dpkg-dev debhelper dh-dkms dkms fakeroot lintian debootstrap
                  systemd)
# scripts/make-image.sh: the compressed root, the FAT settings partition
# (written without mounting it), the partition table, and GRUB's images for
# BIOS and for 64- and 32-bit UEFI; the test stage adds qemu's UEFI firmware.
image_packages=(squashfs-tools dosfstools mtools fdisk cpio grub-common grub-pc-bin
                grub-efi-amd64-bin grub-efi-ia32-bin)

group=${1:-build}
[ $# -gt 0 ] && shift
case $group in
  build) wanted=("${build_packages[@]}") ;;
  package) wanted=("${build_packages[@]}" "${package_packages[@]}") ;;
  image) wanted=("${build_packages[@]}" "${package_packages[@]}" "${image_packages[@]}") ;;
  test) wanted=("${build_packages[@]}" "${package_packages[@]}" "${image_packages[@]}"
                "${test_packages[@]}") ;;
  *) echo "usage: scripts/install-deps.sh [build|test|package|image] [PACKAGE...]" >&2; exit 2 ;;
esac
wanted+=("$@")

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: missing packages: ${missing[*]}; run as root, or install sudo" >&2
    exit 1
  fi
  as_root=(sudo)
fi
echo "installing: ${missing[*]}"
# apt and dpkg report progress even when asked to be quiet: keep it all in a
# log that is shown only when the installation fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { "${as_root[@]}" apt-get update -qq &&
       DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq \
         --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "install-deps: apt-get could not install: ${missing[*]}" >&2
  exit 1
fi
