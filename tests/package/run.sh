#!/usr/bin/env bash
# The Debian packages, tried as a new user would: builds them with
# dpkg-buildpackage, checks them with lintian, installs discbox-sim with apt
# into a fresh minimal Debian root and plays the demo discs there, then
# installs the player and checks its systemd unit.
#
#   tests/package/run.sh            (as root: debootstrap and chroot need it)
#
# Everything lives under build/package: the source copy the packages are
# built from, the .debs, a tarball of the debootstrap root (made once and
# unpacked afresh for every run) and apt's download cache. With
# PACKAGE_TEST_DKMS=1 the root also gets a kernel's headers and lpgate-dkms,
# and the test checks that dkms built the module (a large download).
# Ends with "N passed, N failed"; the exit status is 1 when a check failed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
# shellcheck source=tests/support/failure_line.sh
. "$source_dir/tests/support/failure_line.sh"
work=${PACKAGE_TEST_DIR:-$source_dir/build/package}
version=$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$source_dir/debian/changelog")
arch=$(dpkg --print-architecture)
log=$work/test.log
root=$work/root
passed=0
failed=0

pass() { echo "PASS $1"; passed=$((passed + 1)); }
# fail NAME [WHY]: WHY is the line of the log that says what went wrong.
fail() {
  echo "FAIL $1${2:+: $2}"
  failed=$((failed + 1))
}
# check NAME COMMAND...: runs COMMAND with its output in the log.
check() {
  local name=$1 start
  shift
  echo "== $name: $*" >>"$log"
  start=$(wc -l <"$log")
  if "$@" >>"$log" 2>&1; then
    pass "$name"
  else
    fail "$name" "$(failure_line "$log" "$start")"
  fi
}
finish() {
  [ "$failed" -eq 0 ] || echo "the whole log: $log"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit
}

# Lists what is mounted at or under the root, deepest first.
mounts_under_root() {
  awk -v root="$root" '$2 == root || index($2, root "/") == 1 { print $2 }' /proc/mounts | sort -r
}
release_root() {
  local mount_point
  for mount_point in $(mounts_under_root); do umount -l "$mount_point"; done
}
trap release_root EXIT

if [ "$(id -u)" -ne 0 ]; then
  echo "tests/package/run.sh needs root (debootstrap, chroot)" >&2
  exit 2
fi
"$source_dir/scripts/install-deps.sh" package || exit 2
mkdir -p "$work"
: >"$log"

# --- Build from a copy of the source tree, so that dpkg-buildpackage puts
# its results into the build folder and nothing into the source tree. The
# tree may be a git checkout or a plain unpacked source: the copy leaves out
# version control, the build folders and what .gitignore names (an in-tree
# module build), and needs nothing but tar.
build=$work/build
rm -rf "$build"
mkdir -p "$build/discbox-$version" "$work/debs"
tar -C "$source_dir" -cf - --exclude-vcs --exclude-vcs-ignores --exclude='./build*' . |
  tar -xf - -C "$build/discbox-$version"
check "dpkg-buildpackage" \
  sh -c "cd '$build/discbox-$version' && dpkg-buildpackage -b -us -uc -j2"
check "lintian reports no errors" lintian --fail-on error --info "$build"/*.changes
# The packages to install and look at (the -dbgsym ones hold only debug data).
rm -f "$work"/debs/*.deb
for deb in "$build"/*.deb; do
  case "$deb" in *-dbgsym_*) continue ;; esac
  [ -f "$deb" ] || continue
  cp "$deb" "$work/debs/"
  echo "== dpkg -c $(basename "$deb")" >>"$log"
  dpkg -c "$deb" >>"$log"
done
debs=$(ls "$work"/debs/*.deb 2>/dev/null | wc -l)
if [ "$debs" -ne 4 ]; then
  fail "four packages built (got $debs)"
  finish
fi

# --- A fresh Debian root, from the mirror and the release this machine uses.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
mirror=$(grep -hoE '^(URIs:|deb) +https?://[^ ]+' /etc/apt/sources.list /etc/apt/sources.list.d/* \
  2>/dev/null | grep -v security | head -n 1 | awk '{ print $2 }')
mirror=${mirror:-http://deb.debian.org/debian}
root_tarball=$work/minbase-$codename.tar
if [ ! -f "$root_tarball" ]; then
  rm -rf "$work/debootstrap"
  echo "== debootstrap $codename $mirror" >>"$log"
  debootstrap_start=$(wc -l <"$log")
  if debootstrap --variant=minbase "$codename" "$work/debootstrap" "$mirror" >>"$log" 2>&1; then
    tar -C "$work/debootstrap" -cf "$root_tarball.part" . && mv "$root_tarball.part" "$root_tarball"
  fi
  rm -rf "$work/debootstrap"
fi
if [ ! -f "$root_tarball" ]; then
  fail "debootstrap --variant=minbase $codename" "$(failure_line "$log" "${debootstrap_start:-0}")"
  finish
fi
release_root
if [ -n "$(mounts_under_root)" ]; then
  fail "the old root is still mounted"
  finish
fi
rm -rf "$root"
mkdir -p "$root" "$work/apt-archives/partial"
tar -C "$root" -xf "$root_tarball"
mount -t proc proc "$root/proc"
mount --bind "$work/apt-archives" "$root/var/cache/apt/archives"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mkdir -p "$root/tmp/debs"
cp "$work"/debs/*.deb "$root/tmp/debs/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
apt_in_root() {
  in_root env DEBIAN_FRONTEND=noninteractive apt-get -o APT::Keep-Downloaded-Packages=true "$@"
}

# --- The simulator from its package: the demo discs, from the installed files.
check "apt install discbox-sim" apt_in_root install -y --no-install-recommends \
  /tmp/debs/discbox-sim_"$version"_"$arch".deb
echo "== discbox-sim --run-for 3" >>"$log"
in_root sh -c 'discbox-sim --run-for 3 </dev/null' >"$work/sim-audio.txt" 2>&1
sim_status=$?
cat "$work/sim-audio.txt" >>"$log"
check "discbox-sim --run-for 3 ends with status 0" test "$sim_status" -eq 0
check "the demo audio CD plays" grep -qx 'audio modus..' "$work/sim-audio.txt"
echo "== printf xmn | discbox-sim --run-for 8 --swap-delay 0.5" >>"$log"
rm -f "$root/tmp/frames"
# X leaves the audio CD; M and N wait for the MP3 mode and start its first title.
in_root sh -c 'printf xmn | FRAME_SINK_OUTPUT=/tmp/frames discbox-sim --run-for 8 --swap-delay 0.5' \
  >"$work/sim-mp3.txt" 2>&1
cat "$work/sim-mp3.txt" >>"$log"
check "after X the installed demo MP3 disc plays" \
  grep -q '^FILENAME: .*\.mp3$' "$work/sim-mp3.txt"
check "the installed frame-sink receives its frames" test -s "$root/tmp/frames"
check "man discbox-sim is installed" test -s "$root/usr/share/man/man1/discbox-sim.1.gz"

# --- The player from its package: a service on tty1, enabled for the next boot.
# systemd and man-db only for systemd-analyze, which checks the unit where it
# was installed, with its program and its man page.
player_debs=(/tmp/debs/discbox_"$version"_"$arch".deb systemd man-db)
if [ "${PACKAGE_TEST_DKMS:-0}" = 1 ]; then
  player_debs+=(/tmp/debs/lpgate-dkms_"$version"_all.deb linux-headers-"$arch")
fi
apt_in_root update -qq >>"$log" 2>&1
check "apt install discbox" apt_in_root install -y --no-install-recommends "${player_debs[@]}"
check "/cdrom and /floppy exist" test -d "$root/cdrom" -a -d "$root/floppy"
check "the drive's auto-close is off at boot" \
  grep -qx 'dev.cdrom.autoclose = 0' "$root/usr/lib/sysctl.d/discbox.conf"
check "the port's device driver (ppdev) is loaded at boot" \
  grep -qx 'ppdev' "$root/usr/lib/modules-load.d/discbox.conf"
check "discbox.service is enabled" \
  test -L "$root/etc/systemd/system/multi-user.target.wants/discbox.service"
check "systemd-analyze verify discbox.service" in_root systemd-analyze verify discbox.service
if [ "${PACKAGE_TEST_DKMS:-0}" = 1 ]; then
  check "dkms built lpgate" sh -c "ls '$root'/lib/modules/*/updates/dkms/lpgate.ko*"
fi
check "installing discbox leaves the parallel port drivers alone" \
  test ! -e "$root/etc/modprobe.d/discbox-parport.conf"

finish
