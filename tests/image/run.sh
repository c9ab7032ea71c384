#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# The box's disk image, booted as a PC boots it: from its own boot loader,
# as the PC's disk (no -kernel), with an MP3 disc in the drive, keys typed
# on the emulated keyboard (qemu's monitor) and the display read back from
# the traced port writes. Nothing runs in the guest but the image itself.
#
#   tests/image/run.sh        (as root: scripts/make-image.sh needs it)
#
# - SeaBIOS from an IDE disk: the prompt on the glass, a title played by
#   mpg123 into the emulated sound card; then ten power cuts (qemu killed
#   with SIGKILL) at random moments while a title plays, each followed by a
#   boot; the image file's checksum is the same after all of them.
# - OVMF (UEFI) on a SATA PC (q35) from a USB stick, a copy of the image whose settings file
#   says LCD_ROM=A02: the prompt, and the artist's name as an A02 module
#   shows it.
# - Boot time, image size and the RAM in use at the prompt, beside a bare
#   Debian (systemd, no player) booted the same way to multi-user: the
#   median of every BIOS boot of the box against the median of three bare
#   boots spread over the stage, so that a machine busier at one end of the
#   stage than at the other does not decide the ratio.
# IMAGE_TEST_I386=1 adds the i386 image booted in qemu-system-i386.
# Uses KVM where it works, plain emulation elsewhere. The images are made
# again when the player's package, the image's files or make-image.sh
# changed; the package is the package stage's when it is fresh. Everything
# lives in build/image-test. Ends with "N passed, N failed".
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
# shellcheck source=../vm/vm.sh
. "$source_dir/tests/vm/vm.sh"
started=$SECONDS

if [ "$(id -u)" -ne 0 ]; then
  echo "tests/image/run.sh needs root (scripts/make-image.sh)" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
work=$source_dir/build/image-test
mkdir -p "$work" "$VM_CACHE"
export VM_RESULTS=$work/results
: >"$VM_RESULTS"
log=$work/setup.log
: >"$log"
give_up() {
  echo "FAIL $1 (see $log)" | tee -a "$VM_RESULTS"
  echo "0 passed, 1 failed"
  exit 1
}
vm_install_missing qemu-system-x86 ovmf xorriso lame sox mtools squashfs-tools systemd \
  >>"$log" 2>&1 || give_up "installing qemu, ovmf, xorriso, lame, sox, mtools, squashfs-tools"
vm_build_static "$work/build.log" port-replay >>"$log" 2>&1 || give_up "building port-replay"
port_replay=$VM_BUILD/tools/port-replay/port-replay

# --- The images. The player's package is the package stage's when it is
# newer than the sources; make-image.sh builds its own otherwise.
arch=$(dpkg --print-architecture)
package_dir=${PACKAGE_TEST_DIR:-$source_dir/build/package}
sources=("$source_dir"/{CMakeLists.txt,src,debian,man,image,scripts/make-image.sh})
debs=()
deb=$(ls "$package_dir"/debs/discbox_*_"$arch".deb 2>/dev/null | head -n 1)
if [ -n "$deb" ] && [ -z "$(find "${sources[@]}" -newer "$deb" -print -quit)" ]; then
  debs=(--debs "$package_dir/debs")
fi
# make_image OUT [OPTION...]: OUT made again when a source is newer.
make_image() {
  local out=$1 began=$SECONDS
  shift
  [ -f "$out" ] && [ -z "$(find "${sources[@]}" -newer "$out" -print -quit)" ] && return 0
  "$source_dir/scripts/make-image.sh" "$@" "$out" >>"$log" 2>&1 || return 1
  echo "made $(basename "$out") in $((SECONDS - began)) s"
}
box=$work/box.img
bare=$work/bare.img
make_image "$box" "${debs[@]}" || give_up "scripts/make-image.sh"
make_image "$bare" --bare || give_up "scripts/make-image.sh --bare"
box_sum=$(sha256sum <"$box")

# --- The disc: a real tone (what the sound card plays must not be silence)
# under an artist whose name needs a drawn letter (Ø) and, on an A02 module,
# a letter of the ROM (é).
artist="Øystein Sévåg"
disc=$work/disc
rm -rf "$disc"
mkdir -p "$disc/$artist/album01"
{ sox -q -n -r 44100 -c 2 "$work/tone.wav" synth 120 sine 440 vol 0.5 &&
    lame --quiet -b 128 "$work/tone.wav" "$disc/$artist/album01/title01.mp3"; } >>"$log" 2>&1 ||
  give_up "the title's MP3"
xorriso -as mkisofs -quiet -R -J -o "$work/disc.iso" "$disc" 2>>"$log" || give_up "the disc's ISO"

# --- The emulated PC: one at a time, started by start_pc and left by
# stop_pc (monitor "quit") or pull_plug (SIGKILL). A boot NAME leaves
# NAME.trace (the port writes), NAME.wav (what the sound card played),
# NAME.serial and NAME.monitor.
system="qemu-system-x86_64"
accel=${IMAGE_TEST_ACCEL:-}
# start_pc NAME bios|uefi IMAGE [DISC]: DISC "empty" leaves the drive empty.
start_pc() {
  local name=$1 firmware=$2 image=$3 disc=${4:-$work/disc.iso}
  rm -f "$work/$name".{wav,serial,monitor} "$work"/monitor.{in,out}
  mkfifo "$work/monitor.in" "$work/monitor.out"
  vm_trace_options "$work/$name.trace"
  # A UEFI PC is a SATA one (q35, AHCI); under OVMF the i440fx's IDE
  # controller showed the kernel no CD-ROM drive.
  local machine=pc
  [ "$firmware" = bios ] || machine=q35
  local qemu=("$system" -nodefaults -no-user-config -machine "$machine" -accel "$accel"
    -smp 1 -m 512 -vga std -display none -parallel null "${VM_TRACE_OPTIONS[@]}"
    -serial "file:$work/$name.serial" -monitor "pipe:$work/monitor"
    -device intel-hda -device "hda-output,audiodev=sound"
    -audiodev "wav,id=sound,path=$work/$name.wav"
    -device "virtio-balloon,id=balloon"
    -drive "if=ide,index=2,media=cdrom$([ "$disc" = empty ] || echo ",format=raw,file=$disc")")
  if [ "$firmware" = bios ]; then
    qemu+=(-drive "if=ide,index=0,format=raw,file=$image")
  else
    cp /usr/share/OVMF/OVMF_VARS.fd "$work/vars.fd"
    qemu+=(-drive "if=pflash,format=raw,unit=0,readonly=on,file=/usr/share/OVMF/OVMF_CODE.fd"
      -drive "if=pflash,format=raw,unit=1,file=$work/vars.fd"
      -device qemu-xhci -drive "if=none,id=stick,format=raw,file=$image"
      -device "usb-storage,drive=stick,bootindex=0")
  fi
  pc_name=$name
  pc_started=$(date +%s.%N)
  "${qemu[@]}" >"$work/$name.qemu" 2>&1 &
  pc=$!
  exec {monitor_in}<>"$work/monitor.in"
  cat "$work/monitor.out" >"$work/$name.monitor" &
  monitor_reader=$!
}
monitor() { echo "$1" >&"$monitor_in"; }
pc_ended() {
  wait "$pc" 2>/dev/null
  exec {monitor_in}>&-
  wait "$monitor_reader" 2>/dev/null
}
stop_pc() {
  monitor quit
  pc_ended
}
pull_plug() {
  kill -KILL "$pc"
  pc_ended
}
glass() { "$port_replay" "$work/$pc_name.trace" 2>/dev/null; }
# await WHAT SECONDS COMMAND...: until COMMAND succeeds, or says so.
await() {
  local what=$1 tries=$(($2 * 4))
  shift 2
  until "$@" >/dev/null 2>&1; do
    if ((tries-- <= 0)) || ! kill -0 "$pc" 2>/dev/null; then
      echo "  $pc_name: no $what after $((SECONDS - wait_began)) s"
      return 1
    fi
    sleep 0.25
  done
}
shows() { glass | grep -qF -- "|$1"; }
# on_glass ROM TRACE TEXT: a module with character ROM ROM shows TEXT at
# some point of TRACE; not_on_glass: never.
on_glass() { grep -qF -- "$3" <("$port_replay" --lcd-rom "$1" "$2" 2>/dev/null); }
not_on_glass() { ! on_glass "$@"; }
# The title's screen: the artist and album on the first line.
shows_title() { glass | grep -q -- '^|.* -- album01 *|'; }
# A second of sound has reached the card.
sound_flows() { [ "$(stat -c %s "$work/$pc_name.wav" 2>/dev/null || echo 0)" -gt 176444 ]; }
to_prompt() {
  wait_began=$SECONDS
  await "prompt on the glass" 300 shows "Bitte CD einlegen..."
}
# After the prompt the player mounts the disc and shows its first title; M
# shows the disc's counts, N plays the title. (N alone, straight after the
# scan, has left mpg123 waiting for frames after a fraction of a second
# under plain emulation; M first is how the booted Debian's stage does it.)
shows_counts() { glass | grep -qF "|Titel:1"; }
to_playing() {
  to_prompt && await "title on the glass" 300 shows_title && monitor "sendkey m" &&
    await "the disc's counts" 60 shows_counts && monitor "sendkey n" &&
    await "sound from the card" 120 sound_flows
}
# The middle one of the numbers given, one a line.
median() {
  sort -n | awk '{ value[NR] = $1 }
    END { if (NR % 2) print value[(NR + 1) / 2]; else printf "%.1f\n", (value[NR / 2] + value[NR / 2 + 1]) / 2 }'
}
# Seconds from qemu's start to the prompt on the glass.
prompt_seconds() {
  local trace=$work/$pc_name.trace line
  line=$(vm_trace_first_showing "$trace" "$port_replay" "Bitte CD einlegen...")
  awk -v start="$pc_started" -v at="$(vm_trace_time "$trace" "$line")" \
    'BEGIN { printf "%.1f", at - start }'
}
# The guest's memory in use (total less available, MiB), from the balloon
# driver's statistics.
ram_in_use() {
  monitor "qom-set /machine/peripheral/balloon guest-stats-polling-interval 1"
  sleep 3
  monitor "qom-get /machine/peripheral/balloon guest-stats"
  sleep 1
  tr -d '\r' <"$work/$pc_name.monitor" | awk '
    /"stat-total-memory"/ { gsub(/[^0-9]/, "", $2); total = $2 }
    /"stat-available-memory"/ { gsub(/[^0-9]/, "", $2); available = $2 }
    END { if (total > 0 && available > 0) printf "%d", (total - available) / 1048576 }'
}

# KVM where it boots the image, plain emulation elsewhere: a nested KVM may
# start a guest and still hang in its boot loader, so the bare Debian gets
# 30 s (a few seconds' work under KVM) to reach multi-user there first.
if [ -z "$accel" ]; then
  accel=tcg
  if [ -w /dev/kvm ]; then
    accel=kvm
    start_pc kvm-probe bios "$bare"
    wait_began=$SECONDS
    await "multi-user under KVM" 30 grep -q "multi-user reached" "$work/kvm-probe.serial" ||
      accel=tcg
    stop_pc
  fi
fi
echo "emulation: $accel"

# The bare Debian, the same PC and the same way to boot, to multi-user: its
# seconds are added to bare_times.
bare_times=()
boot_bare() {
  start_pc "bare$1" bios "$bare"
  wait_began=$SECONDS
  if await "multi-user on the serial line" 300 grep -q "multi-user reached" "$work/bare$1.serial"; then
    bare_times+=("$(awk -v start="$pc_started" -v now="$(date +%s.%N)" 'BEGIN { printf "%.1f", now - start }')")
  fi
  stop_pc
}
# Seconds to the prompt of every BIOS boot of the box.
box_times=()
boot_bare 1

# --- BIOS, IDE disk: the prompt, then a title into the sound card.
start_pc bios bios "$box"
to_playing
bios_ok=$?
box_times+=("$(prompt_seconds)")
# Three seconds of the title reach the sound card.
sleep 3
stop_pc

vm_test "BIOS, IDE disk: the box boots to the prompt on the glass"
vm_expect "the prompt" grep -qF "|Bitte CD einlegen..." <(glass)
vm_expect_equal "busy violations" "busy violations 0" "$(glass | tail -n 1)"
vm_test_done

vm_test "BIOS, IDE disk: M and N play the title, mpg123 into the sound card"
vm_expect "the title on the glass: $(glass | tail -n 2 | head -n 1)" test "$bios_ok" = 0
peak=$(sox "$work/bios.wav" -n stat 2>&1 | awk '/^Maximum amplitude/ { print $3 }')
vm_expect "the sound card played the tone, not silence (peak ${peak:-none})" \
  awk -v peak="${peak:-0}" 'BEGIN { exit !(peak > 0.2) }'
vm_test_done

# --- Ten power cuts at random moments of the title, each followed by a boot.
vm_test "ten power cuts while a title plays: each next boot plays again, the image is unchanged"
for cut in 1 2 3 4 5 6 7 8 9 10; do
  start_pc "cut$cut" bios "$box"
  if ! to_playing; then
    vm_test_failed "boot $cut did not reach a playing title"
    stop_pc
    break
  fi
  sleep "$((RANDOM % 30 / 10)).$((RANDOM % 10))"
  pull_plug
  box_times+=("$(prompt_seconds)")
  ((cut == 5)) && boot_bare 2
done
# The last boot with the drive empty, which keeps the player at the prompt.
start_pc after bios "$box" empty
to_prompt || vm_test_failed "no prompt after the last power cut"
box_times+=("$(prompt_seconds)")
ram=$(ram_in_use)
stop_pc
vm_expect_equal "the image's checksum" "$box_sum" "$(sha256sum <"$box")"
vm_test_done

# --- UEFI, USB stick: a copy whose settings say LCD_ROM=A02.
stick=$work/stick.img
cp "$box" "$stick"
fat="$stick@@1M"
mcopy -o -i "$fat" ::/discbox.conf "$work/stick.conf" 2>>"$log"
sed -i 's/^LCD_ROM=.*/LCD_ROM=A02/' "$work/stick.conf"
mcopy -o -i "$fat" "$work/stick.conf" ::/discbox.conf 2>>"$log"
stick_sum=$(sha256sum <"$stick")
start_pc uefi uefi "$stick"
wait_began=$SECONDS
to_prompt && await "title on the glass" 300 shows_title
uefi_prompt=$(prompt_seconds)
stop_pc

vm_test "UEFI, USB stick: the same image boots to the prompt, and writes nothing"
vm_expect "the prompt" grep -qF "|Bitte CD einlegen..." <(glass)
vm_expect_equal "the stick's checksum" "$stick_sum" "$(sha256sum <"$stick")"
vm_test_done

# The A02 module: Ø drawn (the ROM has none), é from the ROM.
vm_test "LCD_ROM=A02 in discbox.conf: the artist as an A02 module shows it"
vm_expect "Øystein Sévåg on the A02 glass" on_glass A02 "$work/uefi.trace" "|$artist -- album01"
# é and å came from the ROM, not drawn: an A00 module, whose ROM has other
# letters there, does not show the name. (Under the default A00 the player
# draws them, and both modules show it.)
vm_expect "é and å from the A02 ROM: an A00 module shows other letters" \
  not_on_glass A00 "$work/uefi.trace" "|$artist -- album01"
vm_test_done

# The service's lock-down, as the image holds it.
rm -rf "$work/squashfs-root"
unsquashfs -q -o $((65 * 1024 * 1024)) -d "$work/squashfs-root" "$box" \
  etc usr/lib/systemd usr/sbin/discbox >>"$log" 2>&1
exposure=$(systemd-analyze security --offline=true --root="$work/squashfs-root" \
  discbox.service 2>>"$log" | sed -n 's/.*exposure level for discbox.service: \([0-9.]*\).*/\1/p')
rm -rf "$work/squashfs-root"
echo "exposure in the image: ${exposure:-unknown}"
vm_test "the service's exposure in the image is 2.5 or less"
vm_expect "exposure ${exposure:-unknown}" awk -v level="${exposure:-99}" 'BEGIN { exit !(level <= 2.5) }'
vm_test_done

boot_bare 3

i386_line=""
if [ "${IMAGE_TEST_I386:-0}" = 1 ]; then
  make_image "$work/box-i386.img" --arch i386 || give_up "scripts/make-image.sh --arch i386"
  system="qemu-system-i386"
  start_pc i386 bios "$work/box-i386.img"
  to_playing
  i386_ok=$?
  i386_prompt=$(prompt_seconds)
  stop_pc
  # Its RAM at the prompt as the amd64 box's: with the drive empty.
  start_pc i386-empty bios "$work/box-i386.img" empty
  to_prompt && i386_ram=$(ram_in_use)
  stop_pc
  system="qemu-system-x86_64"
  vm_test "i386 image, qemu-system-i386: the prompt, and the title plays"
  vm_expect "prompt and title" test "$i386_ok" = 0
  vm_test_done
  i386_line=", i386 ${i386_prompt} s, $(($(stat -c %s "$work/box-i386.img") >> 20)) MiB, RAM at the prompt ${i386_ram:-?} MiB"
fi

box_range=$(printf '%s\n' "${box_times[@]}" | sort -n | sed -n '1p;$p' | paste -sd-)
awk -v box="$(printf '%s\n' "${box_times[@]}" | median)" -v boxes="${#box_times[@]}" \
  -v range="$box_range" -v bare="$(printf '%s\n' "${bare_times[@]}" | median)" \
  -v bares="${bare_times[*]}" -v uefi="$uefi_prompt" \
  -v size="$(($(stat -c %s "$box") >> 20))" -v ram="${ram:-?}" -v accel="$accel" -v i386="$i386_line" \
  'BEGIN { printf "boot to the prompt: median %s s of %d boots (%s s; UEFI %s s%s) vs bare Debian to multi-user: median %s s (%s s): %.2fx; image %d MiB; RAM in use at the prompt %s of 512 MiB (%s)\n",
           box, boxes, range, uefi, i386, bare, bares, (bare > 0 ? box / bare : 0), size, ram, accel }'
passed=$(grep -c '^PASS' "$VM_RESULTS")
failed=$(grep -c '^FAIL' "$VM_RESULTS")
echo "disk image: $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
((failed == 0 && passed > 0))
