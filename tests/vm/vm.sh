# shellcheck shell=bash source-path=SCRIPTDIR
# The emulated-PC harness: boots a real Linux kernel in qemu (no KVM, so
# plain emulation) and runs a test script in it. The guest kernel is
# Debian's, of the version that the installed linux-headers-amd64 names, so
# that modules built against those headers load in it. Source this file from
# a test suite (see README.md beside it for a whole example):
#
#   vm_setup
#       Installs what is missing, fetches and unpacks the guest kernel once,
#       builds the guest helpers. Sets VM_KVER (kernel version), VM_KDIR (its
#       build directory, for external modules), VM_WORK (a scratch folder
#       under build/vm) and VM_CACHE (build/vm, or as given).
#   vm_build_kmod DIR
#       Builds the external kernel module(s) whose Kbuild is in DIR for the
#       guest kernel; the .ko files end up in DIR.
#   vm_initramfs OUT SCRIPT [--module NAME]... [--file SRC DEST]... [--init FILE]
#       Writes the initramfs OUT: static busybox, the guest helpers
#       (load_module, trace_mark, /lib/vm/guest.sh), the guest kernel's
#       modules NAME with what they depend on ("modprobe NAME" in the guest),
#       files SRC at DEST, and SCRIPT as /test.sh, which /init runs. --init
#       puts FILE in the place of that /init.
#   vm_build_static LOG TARGET...
#       Builds TARGET... of this tree linked static, for a guest that holds
#       nothing but busybox, in VM_BUILD ($VM_CACHE/player-build, shared by
#       the suites); LOG keeps the build's output, shown when it fails.
#   vm_player_initramfs OUT SCRIPT [OPTION]...
#       vm_initramfs for a guest that runs the real discbox (built by
#       vm_build_static): the CD-ROM and ISO 9660 drivers, discbox, frame-sink
#       as /bin/mpg123 (both stripped) and player.sh, the guest's helpers for
#       driving the player, as /lib/vm/player.sh; OPTIONs (--module,
#       --file) add to that.
#   vm_boot --initramfs FILE --console FILE [--trace FILE] [--cdrom ISO]
#           [--input FILE] [--append ARGS] [--timeout SECONDS] [--qemu ARG]...
#       Boots the guest. It stops when /test.sh ends, on a kernel oops, or
#       after the timeout (60 s unless given; status 124 then). The serial
#       console (the script's output) goes to the console file, its input
#       comes from --input (default: none). --trace records every write to
#       the parallel port, each line stamped with the host's wall-clock time
#       in microseconds ("PID@SECONDS.MICROSECONDS:parallel_ioport_write
#       ..."). --cdrom puts an image in the IDE CD-ROM drive ("empty": the
#       drive without a disc), --append adds kernel arguments, each --qemu
#       adds one argument to qemu's command line (a disk, a sound card).
#
#   vm_trace_options TRACE
#       Sets VM_TRACE_OPTIONS to qemu's arguments that record every write to
#       the parallel port in TRACE, as vm_boot --trace does (for a suite
#       that starts qemu itself, as the disk image's does).
#
# console.sh reads the results back, expect.sh keeps the tally.

vm_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
VM_CACHE=${VM_CACHE:-$(cd "$vm_dir/../.." && pwd)/build/vm}

# shellcheck source=console.sh
. "$vm_dir/console.sh"
# shellcheck source=expect.sh
. "$vm_dir/expect.sh"

vm_install_missing() {
  "$vm_dir/../../scripts/install-deps.sh" build "$@"
}

vm_setup() {
  vm_install_missing qemu-system-x86 busybox-static cpio kmod linux-headers-amd64 \
    gcc libc6-dev make || return 1
  VM_KVER=$(dpkg-query -W -f='${Depends}' linux-headers-amd64 |
    sed -n 's/^linux-headers-\([^ ,]*\).*/\1/p')
  if [ -z "$VM_KVER" ] || [ ! -f "/lib/modules/$VM_KVER/build/Makefile" ]; then
    echo "vm: no kernel headers found through linux-headers-amd64" >&2
    return 1
  fi
  VM_KDIR=/lib/modules/$VM_KVER/build
  VM_KROOT=$VM_CACHE/kernel-$VM_KVER
  VM_WORK=${VM_WORK:-$VM_CACHE/work}
  export VM_CACHE VM_KVER VM_KDIR VM_KROOT VM_WORK
  mkdir -p "$VM_WORK" "$VM_CACHE/tools"
  [ -f "$VM_KROOT/unpacked" ] || vm_fetch_kernel || return 1
  vm_build_helpers
}

# The image package is unpacked, not installed: installing it would pull in
# the initramfs tools and udev, and the host has no use for the kernel.
vm_fetch_kernel() {
  local download=$VM_CACHE/download
  local apt_options=()
  [ "$(id -u)" -ne 0 ] || apt_options=(-o APT::Sandbox::User=root)
  rm -rf "$VM_KROOT" "$download"
  mkdir -p "$download"
  echo "vm: fetching linux-image-$VM_KVER"
  if ! (cd "$download" && apt-get download -qq "${apt_options[@]}" "linux-image-$VM_KVER"); then
    echo "vm: cannot fetch linux-image-$VM_KVER; if the archive has moved on," \
      "update linux-headers-amd64 and run again" >&2
    return 1
  fi
  dpkg-deb -x "$download"/linux-image-*.deb "$VM_KROOT" &&
    depmod -b "$VM_KROOT" "$VM_KVER" &&
    rm -rf "$download" &&
    touch "$VM_KROOT/unpacked"
}

vm_build_helpers() {
  local helper
  for helper in load_module trace_mark; do
    [ "$VM_CACHE/tools/$helper" -nt "$vm_dir/$helper.c" ] ||
      gcc -static -O2 -Wall -Wextra -Wshadow -Werror -o "$VM_CACHE/tools/$helper" \
        "$vm_dir/$helper.c" || return 1
  done
}

vm_build_static() {
  local log=$1
  shift
  vm_install_missing cmake ninja-build g++ xorriso || return 1
  VM_BUILD=$VM_CACHE/player-build
  echo "building static: $*"
  if ! { cmake -S "$vm_dir/../.." -B "$VM_BUILD" -G Ninja -DDISCBOX_STATIC=ON \
    -DDISCBOX_DECODER=/bin/mpg123 -DDISCBOX_BUILD_TESTS=OFF -DDISCBOX_BUILD_BENCH=ON >"$log" 2>&1 &&
    cmake --build "$VM_BUILD" -j 2 --target "$@" >>"$log" 2>&1; }; then
    cat "$log" >&2
    return 1
  fi
}

vm_player_initramfs() {
  local out=$1 script=$2 bin=$1.bin
  shift 2
  mkdir -p "$bin"
  strip -o "$bin/discbox" "$VM_BUILD/discbox" &&
    strip -o "$bin/mpg123" "$VM_BUILD/tools/frame-sink/frame-sink" &&
    vm_initramfs "$out" "$script" --module ata_piix --module sr_mod --module isofs \
      --file "$bin/discbox" /bin/discbox --file "$bin/mpg123" /bin/mpg123 \
      --file "$vm_dir/player.sh" /lib/vm/player.sh "$@"
}

vm_build_kmod() {
  make -s -C "$VM_KDIR" M="$(cd "$1" && pwd)" modules >"$1/build.log" 2>&1 || {
    cat "$1/build.log" >&2
    return 1
  }
}

vm_initramfs() {
  local out=$1 script=$2
  shift 2
  local root=$out.root applet modules=() init=$vm_dir/init
  rm -rf "$root"
  mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp,lib/vm}
  cp /bin/busybox "$root/bin/busybox"
  for applet in $(/bin/busybox --list-full); do
    [ -e "$root/$applet" ] || ln -s /bin/busybox "$root/$applet"
  done
  install -m 644 "$vm_dir/guest.sh" "$root/lib/vm/guest.sh"
  install -m 755 "$VM_CACHE/tools/load_module" "$VM_CACHE/tools/trace_mark" "$root/bin/"
  install -m 755 "$script" "$root/test.sh"
  while (($#)); do
    case $1 in
      --module) modules+=("$2") && shift 2 ;;
      --init) init=$2 && shift 2 ;;
      --file)
        install -D "$2" "$root/$3" || return 1
        shift 3
        ;;
      *) echo "vm_initramfs: unknown option $1" >&2 && return 2 ;;
    esac
  done
  install -m 755 "$init" "$root/init"
  vm_add_kernel_modules "$root" "${modules[@]}" || return 1
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$out"
}

# Copies the modules NAME... and those they depend on from the guest kernel
# and indexes them, so that busybox's modprobe finds them in the guest.
vm_add_kernel_modules() {
  local root=$1 name list kind file
  shift
  (($#)) || return 0
  local moddir=lib/modules/$VM_KVER
  mkdir -p "$root/$moddir"
  cp "$VM_KROOT/$moddir"/modules.{order,builtin,builtin.modinfo} "$root/$moddir/"
  for name; do
    list=$(modprobe -d "$VM_KROOT" -S "$VM_KVER" --show-depends "$name") || return 1
    while read -r kind file _; do
      [ "$kind" = insmod ] || continue
      install -D -m 644 "$file" "$root/${file#"$VM_KROOT"/}"
    done <<<"$list"
  done
  depmod -b "$root" "$VM_KVER"
}

vm_trace_options() {
  rm -f "$1"
  VM_TRACE_OPTIONS=(-trace parallel_ioport_write -D "$1" -msg timestamp=on)
}

vm_boot() {
  local initramfs="" console="" trace="" cdrom="" input=/dev/null append="" timeout=60 extra=()
  while (($# >= 2)); do
    case $1 in
      --initramfs) initramfs=$2 ;;
      --console) console=$2 ;;
      --trace) trace=$2 ;;
      --cdrom) cdrom=$2 ;;
      --input) input=$2 ;;
      --append) append=$2 ;;
      --timeout) timeout=$2 ;;
      --qemu) extra+=("$2") ;;
      *) break ;;
    esac
    shift 2
  done
  if (($#)) || [ -z "$initramfs" ] || [ -z "$console" ]; then
    echo "vm_boot: usage: vm_boot --initramfs FILE --console FILE [--trace FILE]" \
      "[--cdrom ISO] [--input FILE] [--append ARGS] [--timeout SECONDS] [--qemu ARG]..." >&2
    return 2
  fi
  # oops=panic, panic=-1 and -no-reboot turn a kernel oops into the end of
  # the run instead of a guest that hangs until the timeout.
  local qemu=(qemu-system-x86_64 -nodefaults -no-user-config -machine pc -accel tcg
    -smp 1 -m 256 -display none -no-reboot
    -kernel "$VM_KROOT/boot/vmlinuz-$VM_KVER" -initrd "$initramfs"
    -append "console=ttyS0 oops=panic panic=-1 $append"
    -serial stdio -parallel null)
  if [ "$cdrom" = empty ]; then
    qemu+=(-drive "if=ide,media=cdrom")
  elif [ -n "$cdrom" ]; then
    qemu+=(-drive "if=ide,media=cdrom,format=raw,file=${cdrom//,/,,}")
  fi
  if [ -n "$trace" ]; then
    vm_trace_options "$trace"
    qemu+=("${VM_TRACE_OPTIONS[@]}")
  fi
  qemu+=("${extra[@]}")
  local status=0
  timeout --kill-after=10 "$timeout" "${qemu[@]}" <"$input" >"$console" 2>"$console.qemu" ||
    status=$?
  if ((status == 124)); then
    echo "vm_boot: the guest was stopped after $timeout s" >&2
  elif ((status != 0)); then
    echo "vm_boot: qemu failed (status $status):" >&2
    cat "$console.qemu" >&2
  fi
  return $status
}
