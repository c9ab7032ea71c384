#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# The player as a user runs it: Debian booted in the emulated PC, from a
# fresh root with systemd into which apt installed the project's packages,
# on Debian's kernel, with an emulated sound card (intel-hda, hda-output)
# and an MP3 disc in the drive. Everything is checked from outside the
# guest: systemd starts the player on tty1 as discbox, with the display's
# port through the kernel's driver (no blacklist, no raw-I/O capability);
# keys typed on the
# emulated keyboard (qemu's monitor) reach it; the display, replayed from
# the traced port writes, shows the prompt and the title; the real mpg123
# plays the disc as discbox into the sound card (qemu records what it
# played); the disc, which carries a set-user-ID program and a device node,
# is mounted ro,nosuid,nodev,noexec and neither can be used; X unmounts and
# ejects; the service's exposure is at most 2.5. A test-only reporter in the
# guest answers on the serial line (report.sh).
#
#   tests/boot/run.sh        (as root: debootstrap, chroot, mknod)
#
# It uses the packages that tests/package/run.sh built (and runs that first
# when they are missing or older than the sources), its minimal Debian root
# and its apt cache, and the emulated PC's kernel (tests/vm). The root with
# systemd and the player's dependencies is made once and kept in
# build/boot; the packages are installed into a fresh copy of it each run.
# Ends with "N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
# shellcheck source=../vm/vm.sh
. "$source_dir/tests/vm/vm.sh"
# shellcheck source=tests/support/failure_line.sh
. "$source_dir/tests/support/failure_line.sh"
started=$SECONDS

if [ "$(id -u)" -ne 0 ]; then
  echo "tests/boot/run.sh needs root (debootstrap, chroot, mknod)" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
package_dir=${PACKAGE_TEST_DIR:-$source_dir/build/package}
work=$source_dir/build/boot
mkdir -p "$work" "$VM_CACHE"
export VM_RESULTS=$work/results
: >"$VM_RESULTS"
log=$work/setup.log
: >"$log"
# give_up WHAT [LOG]: WHAT could not be set up; the line of LOG (the set-up
# log by default) that says why follows it.
give_up() {
  local why
  why=$(failure_line "${2:-$log}")
  echo "FAIL $1${why:+: $why}" | tee -a "$VM_RESULTS"
  echo "the whole log: ${2:-$log}"
  echo "0 passed, 1 failed"
  exit 1
}

# The guest kernel and the static tools are shared with the emulated-PC
# stage; a run of that stage in the same tree waits for this one.
exec {lock}>"$VM_CACHE/run.lock"
flock "$lock"
vm_setup >>"$log" 2>&1 || give_up "the emulated PC's kernel and helpers"
vm_install_missing xorriso lame sox e2fsprogs debootstrap >>"$log" 2>&1 ||
  give_up "installing xorriso, lame, sox, e2fsprogs, debootstrap"
vm_build_static "$work/build.log" port-replay >>"$log" 2>&1 || give_up "building port-replay"
port_replay=$VM_BUILD/tools/port-replay/port-replay

# --- The packages, as the package stage built them from this tree.
arch=$(dpkg --print-architecture)
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
player_deb=$(ls "$package_dir"/debs/discbox_*_"$arch".deb 2>/dev/null | head -n 1)
if [ -z "$player_deb" ] || [ -n "$(find "$source_dir"/{CMakeLists.txt,src,debian,man} \
  -newer "$player_deb" -print -quit)" ]; then
  echo "building the packages (tests/package/run.sh)"
  "$source_dir/tests/package/run.sh" >"$work/package.log" 2>&1
  player_deb=$(ls "$package_dir"/debs/discbox_*_"$arch".deb 2>/dev/null | head -n 1)
fi
[ -n "$player_deb" ] || give_up "the discbox package" "$work/package.log"
minbase=$package_dir/minbase-$codename.tar
[ -f "$minbase" ] || give_up "the package stage's Debian root $minbase"

# shellcheck source=../../scripts/in-root.sh
. "$source_dir/scripts/in-root.sh"

# --- A root that boots: systemd and udev, and what the player depends on,
# so that each run installs only the project's packages. Kept until the
# list changes.
base_packages=(systemd systemd-sysv udev kmod procps mpg123 alsa-utils)
base=$work/base-$codename-$(echo "${base_packages[*]}" | md5sum | cut -c1-8).tar
if [ ! -f "$base" ]; then
  echo "making the booted root's base (once)"
  rm -rf "$work/base"
  mkdir -p "$work/base"
  tar -C "$work/base" -xf "$minbase"
  if in_root "$package_dir/apt-archives" "$work/base" apt-get update -qq >>"$log" 2>&1 &&
    in_root "$package_dir/apt-archives" "$work/base" apt-get -o APT::Keep-Downloaded-Packages=true install -y -qq \
      --no-install-recommends "${base_packages[@]}" >>"$log" 2>&1; then
    rm -f "$work"/base-*.tar
    tar -C "$work/base" -cf "$base.part" . && mv "$base.part" "$base"
  fi
  rm -rf "$work/base"
fi
[ -f "$base" ] || give_up "the booted root's base: ${base_packages[*]}"

# --- This run's root: the packages installed by apt, then the test's own
# additions: the kernel's modules for the drive and the sound card, the
# reporter on the serial line, no login prompt there.
root=$work/root
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$base"
mkdir -p "$root/tmp/debs"
cp "$player_deb" "$root/tmp/debs/"
in_root "$package_dir/apt-archives" "$root" sh -c 'apt-get install -y -qq --no-install-recommends /tmp/debs/*.deb' \
  >>"$log" 2>&1 || give_up "apt install of the discbox packages"
rm -rf "$root/tmp/debs"
vm_add_kernel_modules "$root" ata_piix sr_mod isofs snd_hda_intel snd_hda_codec_generic \
  parport_pc ppdev \
  >>"$log" 2>&1 || give_up "the guest's kernel modules"
install -D -m 644 "$here/report.sh" "$root/usr/local/lib/boot-report/report.sh"
install -m 644 "$source_dir/tests/vm/guest.sh" "$root/usr/local/lib/boot-report/guest.sh"
install -m 755 "$VM_CACHE/tools/trace_mark" "$root/usr/local/bin/trace_mark"
install -m 644 "$here/boot-report.service" "$root/etc/systemd/system/boot-report.service"
ln -sf ../boot-report.service "$root/etc/systemd/system/multi-user.target.wants/"
for unit in serial-getty@ttyS0.service systemd-firstboot.service; do
  ln -sf /dev/null "$root/etc/systemd/system/$unit"
done
echo discbox >"$root/etc/hostname"
image=$work/root.img
rm -f "$image"
mkfs.ext4 -q -F -L root -d "$root" "$image" "$(($(du -sm "$root" | cut -f1) + 300))M" \
  >>"$log" 2>&1 || give_up "the root's disk image"
rm -rf "$root"
vm_initramfs "$work/initramfs" /dev/null --init "$here/init" \
  --module virtio_pci --module virtio_blk --module ext4 --module crc32c_generic \
  >>"$log" 2>&1 || give_up "the initramfs"

# --- The disc: one title of a real tone (what the sound card plays must not
# be silence), plus what a hostile disc carries: a set-user-ID root program
# and a device node (the null device, which opens wherever nodes work).
disc=$work/disc
rm -rf "$disc"
mkdir -p "$disc/artist01/album01" "$disc/extras"
{ sox -q -n -r 44100 -c 2 "$work/tone.wav" synth 60 sine 440 vol 0.5 &&
    lame --quiet -b 128 "$work/tone.wav" "$disc/artist01/album01/title01.mp3"; } ||
  give_up "the title's MP3"
install -m 4755 -o root -g root "$(command -v id)" "$disc/extras/id"
mknod -m 666 "$disc/extras/null" c 1 3
# Rock Ridge keeps the owners, the modes and the node.
xorriso -as mkisofs -quiet -R -o "$work/disc.iso" "$disc" 2>>"$log" ||
  give_up "the disc's ISO image"

# --- The boot. The serial line carries the reporter's questions and
# answers; qemu's monitor types keys and shows the drive.
console=$work/console
trace=$work/trace
rm -f "$console" "$trace" "$work"/serial.in "$work"/monitor.{in,out} "$work/sound.wav"
mkfifo "$work/serial.in" "$work/monitor.in" "$work/monitor.out"
exec {serial}<>"$work/serial.in"
exec {monitor_in}<>"$work/monitor.in"
cat "$work/monitor.out" >"$work/monitor.log" &
monitor_reader=$!
boot_started=$SECONDS
vm_boot --initramfs "$work/initramfs" --console "$console" --trace "$trace" \
  --cdrom "$work/disc.iso" --input "$work/serial.in" --timeout 900 \
  --append "quiet loglevel=3 systemd.show_status=0" \
  --qemu -m --qemu 1024 \
  --qemu -drive --qemu "if=virtio,format=raw,file=$image" \
  --qemu -monitor --qemu "pipe:$work/monitor" \
  --qemu -device --qemu intel-hda --qemu -device --qemu hda-output,audiodev=sound \
  --qemu -audiodev --qemu "wav,id=sound,path=$work/sound.wav" &
qemu_job=$!

# await TEXT SECONDS: waits until the console holds a line TEXT.
await() {
  local tries=$(($2 * 4))
  while ! vm_console_text "$console" 2>/dev/null | grep -qxF -- "$1"; do
    if ((tries-- <= 0)) || ! kill -0 "$qemu_job" 2>/dev/null; then
      echo "no \"$1\" on the console after $2 s"
      return 1
    fi
    sleep 0.25
  done
}
ask() {
  echo "$1" >&"$serial"
  await "@@ done $1" "$2"
}
monitor() { echo "$1" >&"$monitor_in"; }

if await "@@ reporter-ready" 600; then
  echo "booted: $((SECONDS - boot_started)) s"
  ask boot 90 && ask mp3 300
  monitor "sendkey m"
  monitor "sendkey n"
  ask play 90 && ask hostile 60
  # Three seconds of the title reach the sound card while the step runs.
  sleep 3
  monitor "sendkey x"
  ask leave 120
  monitor "info block"
  ask end 120
fi
monitor quit
wait "$qemu_job"
exec {serial}>&- {monitor_in}>&-
wait "$monitor_reader" 2>/dev/null
echo "guest: $((SECONDS - boot_started)) s"

# --- What the guest said and did.
fact() { vm_fact "$console" "$1" "$2"; }
status() { vm_status "$console" "$1" "$2"; }
"$port_replay" "$trace" >"$work/display" 2>>"$log"
screens() { vm_step_screens "$work/display" "$console" "$1"; }
pad() { printf '%-40s' "$1"; }

vm_test "the guest boots and runs every step without a kernel failure"
vm_expect_equal "steps done" "boot mp3 play hostile leave end" \
  "$(vm_console_text "$console" | sed -n 's/^@@ done //p' | paste -sd ' ')"
vm_expect_equal "kernel failures" "" \
  "$(vm_console_text "$console" | grep -E 'Oops|BUG:|Kernel panic')"
vm_expect_equal "failed units" "" "$(fact end failed)"
vm_test_done

vm_test "systemd started the player on tty1 as discbox"
vm_expect_equal "active" "active" "$(fact boot active)"
vm_expect_equal "user" "discbox" "$(fact boot user)"
vm_expect_equal "terminal" "tty1" "$(fact boot tty)"
vm_test_done

vm_test "the player holds /dev/parport0 and has no raw-I/O capability"
vm_expect_equal "port" "/dev/parport0" "$(fact boot port)"
vm_expect_equal "CAP_SYS_RAWIO" "no" "$(fact boot rawio)"
vm_test_done

vm_test "the display shows the prompt through the real port writes"
vm_expect "the prompt while the player waits for the disc" grep -qF \
  "|$(pad "Bitte CD einlegen...")|$(pad "")|" <(sed '/^@@ step 2$/q' "$work/display")
vm_expect_equal "busy violations" "busy violations 0" "$(tail -n 1 "$work/display")"
vm_test_done

# The keys go in after the step mp3 and reach the display around the mark
# of the step play. The folder extras counts as an artist without albums.
vm_test "keys typed on the keyboard reach the player: M shows the counts, N the title"
keyed=$(screens mp3 && screens play)
vm_expect "M: the counts" grep -qxF "|$(pad "Interpreten:2  Alben:1")|$(pad "Titel:1")|" \
  <<<"$keyed"
vm_expect "N: the title, \"$(tail -n 1 <<<"$keyed")\"" grep -qE \
  '^\|artist01 -- album01 *\|title01\.mp3' <(tail -n 1 <<<"$keyed")
vm_test_done

vm_test "the real mpg123 plays the disc as discbox, without a capability, into the sound card"
vm_expect_equal "decoder" "discbox" "$(fact mp3 decoder | awk '{ print $1 }')"
vm_expect_equal "sound card" "state: RUNNING" "$(fact play sound)"
vm_expect_equal "held" "" "$(fact play privileges |
  awk '$1 ~ /^(Uid|Gid|Groups):$/ { for (i = 2; i <= NF; i++) if ($i == 0) print $1, 0 }
       $1 ~ /^Cap/ && $2 !~ /^0+$/ { print }
       $1 == "NoNewPrivs:" && $2 != 1 { print }')"
vm_expect "no terminal for the decoder: it reads no keys" test -z \
  "$(fact end journal | grep 'Terminal control enabled')"
peak=$(sox "$work/sound.wav" -n stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
vm_expect "the sound card played the tone, not silence (peak ${peak:-none})" \
  awk -v peak="${peak:-0}" 'BEGIN { exit !(peak > 0.2) }'
vm_test_done

vm_test "the disc is mounted ro,nosuid,nodev,noexec, in the player's namespace only"
vm_expect_equal "options" "ro,nosuid,nodev,noexec" \
  "$(fact play mount | tr ',' '\n' | grep -xE 'ro|nosuid|nodev|noexec' | paste -sd ,)"
vm_expect_equal "mounted outside it" "0" "$(fact play outside)"
vm_test_done

vm_test "a set-user-ID program and a device node on the disc can be used by nobody"
vm_expect_equal "carried" "$(printf '%s\n' "-rwsr-xr-x 0 /cdrom/extras/id" \
  "crw-rw-rw- 0 /cdrom/extras/null")" "$(fact hostile carried)"
for attempt in user_runs root_runs user_opens root_opens; do
  vm_expect "$attempt refused: $(fact hostile "$attempt")" grep -q 'Permission denied' \
    <(fact hostile "$attempt")
  vm_expect "$attempt fails" test "$(status hostile "$attempt")" != 0
done
vm_expect "not writable: $(fact hostile root_writes)" grep -q 'Read-only file system' \
  <(fact hostile root_writes)
vm_test_done

vm_test "X stops the decoder, unmounts and ejects; the prompt returns"
vm_expect_equal "mounted" "0" "$(fact leave mounted)"
vm_expect_equal "decoders" "1" "$(status leave decoders)"
vm_expect "unmount 0 and eject 1 on tty1" grep -qF "unmount 0|and eject 1" \
  <(fact leave screen | paste -sd '|')
vm_expect "the tray is open" grep -q 'tray open' "$work/monitor.log"
# The leave step ends once the disc is out and the decoder gone; the player
# may draw the prompt only after that, while the next step runs.
vm_expect "the prompt again" grep -qF "|$(pad "Bitte CD einlegen...")|" \
  <(screens leave; screens end)
vm_test_done

exposure=$(fact end exposure | sed -n 's/.*exposure level for discbox.service: \([0-9.]*\).*/\1/p')
echo "exposure: $(fact end exposure)"
vm_test "the service's exposure is 2.5 or less"
vm_expect "exposure ${exposure:-unknown}" awk -v level="${exposure:-99}" 'BEGIN { exit !(level <= 2.5) }'
vm_test_done

# From the kernel's start to the prompt on the glass. The reporter read its
# uptime at the boot step's trace mark, which ties the guest's clock to the
# trace's; the prompt is there from the shortest start of the trace whose
# replay shows it.
mark_line=$(awk '/parallel_ioport_write/ {
    for (i = 1; i < NF; i++) {
      if ($i == "addr") offset = $(i + 1)
      if ($i == "val") value = $(i + 1)
    }
    if (offset == "0x07" && value == "0x01") { print NR; exit }
  }' "$trace")
low=$(vm_trace_first_showing "$trace" "$port_replay" "Bitte CD einlegen...")
if [ -n "$mark_line" ] && [ -n "$(fact boot uptime)" ]; then
  awk -v mark="$(vm_trace_time "$trace" "$mark_line")" -v up="$(fact boot uptime)" \
    -v prompt="$(vm_trace_time "$trace" "$low")" \
    'BEGIN { printf "kernel start to \"Bitte CD einlegen...\" on the glass: %.1f s\n", prompt - (mark - up) }'
fi
passed=$(grep -c '^PASS' "$VM_RESULTS")
failed=$(grep -c '^FAIL' "$VM_RESULTS")
echo "booted Debian: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
((failed == 0 && passed > 0))
