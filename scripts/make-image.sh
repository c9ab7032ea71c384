#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR
# Makes the box's disk image: written with dd to a disk, a CF card or a USB
# stick, it boots an old PC (BIOS or UEFI) straight into the player.
#
#   scripts/make-image.sh [--arch amd64|i386] [--debs DIR] [--bare] OUT.img
#
# As root (debootstrap, chroot). Everything comes from Debian's packages
# (bookworm) and from this tree's own packages, built here with
# dpkg-buildpackage (for i386 inside an i386 root). --debs DIR takes the
# player's package from DIR instead (the test stage reuses the package
# stage's); --bare leaves the player out, a Debian booted the same way to
# compare boot times with.
#
# The disk (an MBR table, which the oldest BIOSes read and UEFI firmware
# boots from as well):
#   before 1 MiB  GRUB for BIOS (boot sector and core image)
#   partition 1   FAT32, 64 MiB: GRUB for UEFI (EFI/BOOT), its menu, the
#                 kernel, the initramfs, and the settings file discbox.conf
#   partition 2   the root: a squashfs, read-only by nature
# Debian's root, the build root for i386 and apt's downloads are kept under
# build/image and reused until the package list changes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/.." && pwd)
release=bookworm

usage() {
  echo "usage: scripts/make-image.sh [--arch amd64|i386] [--debs DIR] [--bare] OUT.img" >&2
  exit 2
}
arch=amd64
debs=""
bare=no
while (($#)); do
  case $1 in
    --arch) [ $# -ge 2 ] || usage; arch=$2 && shift 2 ;;
    --debs) [ $# -ge 2 ] || usage; debs=$(cd "$2" && pwd) && shift 2 ;;
    --bare) bare=yes && shift ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || usage
out=$1
case $arch in
  amd64) kernel=linux-image-amd64 efi_target=x86_64-efi efi_name=BOOTX64.EFI ;;
  # i686, the oldest PCs Debian still carries; their UEFI, where there is
  # one, is 32-bit.
  i386) kernel=linux-image-686 efi_target=i386-efi efi_name=BOOTIA32.EFI ;;
  *) usage ;;
esac
if [ "$(id -u)" -ne 0 ]; then
  echo "scripts/make-image.sh needs root (debootstrap, chroot)" >&2
  exit 1
fi
"$here/install-deps.sh" image

work=$source_dir/build/image/$arch
archives=$source_dir/build/image/apt-archives-$arch
mkdir -p "$work" "$archives/partial"
log=$work/make-image.log
: >"$log"
step() { echo "make-image: $*" >&2; }
fail() {
  echo "make-image: $* failed (see $log)" >&2
  exit 1
}
mirror=$(grep -hoE '^(URIs:|deb) +https?://[^ ]+' /etc/apt/sources.list /etc/apt/sources.list.d/* \
  2>/dev/null | grep -v security | head -n 1 | awk '{ print $2 }' || true)
mirror=${mirror:-http://deb.debian.org/debian}

# shellcheck source=in-root.sh
. "$here/in-root.sh"
apt_in_root() {
  local root=$1
  shift
  in_root "$archives" "$root" apt-get -o APT::Keep-Downloaded-Packages=true -y -qq \
    --no-install-recommends "$@"
}

# cached_root NAME PACKAGE...: a tarball of a minimal Debian root of this
# architecture with PACKAGE... installed, made once per package list.
cached_root() {
  local name=$1 tarball
  shift
  tarball=$work/$name-$release-$(echo "$*" | md5sum | cut -c1-8).tar
  if [ ! -f "$tarball" ]; then
    step "making the $name root (once): $*"
    local root=$work/$name.tmp
    rm -rf "$root"
    debootstrap --variant=minbase --arch="$arch" --cache-dir="$archives" "$release" "$root" \
      "$mirror" >>"$log" 2>&1 || fail "debootstrap"
    # The box has no use for documentation and translations.
    cat >"$root/etc/dpkg/dpkg.cfg.d/discbox-image" <<'EOF'
path-exclude /usr/share/doc/*
path-include /usr/share/doc/*/copyright
path-exclude /usr/share/man/*
path-exclude /usr/share/info/*
path-exclude /usr/share/locale/*
EOF
    { apt_in_root "$root" update && apt_in_root "$root" install "$@"; } >>"$log" 2>&1 ||
      fail "apt-get install $*"
    rm -f "$work/$name"-*.tar
    tar -C "$root" -cf "$tarball.part" . && mv "$tarball.part" "$tarball"
    rm -rf "$root"
  fi
  echo "$tarball"
}

# --- The player's package, built as tests/package/run.sh builds it.
player_deb=""
if [ "$bare" = no ]; then
  if [ -n "$debs" ]; then
    player_deb=$(ls "$debs"/discbox_*_"$arch".deb 2>/dev/null | head -n 1)
    [ -n "$player_deb" ] || fail "finding discbox_*_$arch.deb in $debs"
  else
    version=$(sed -n '1s/^[^(]*(\([^)]*\)).*/\1/p' "$source_dir/debian/changelog")
    build_root=""
    if [ "$arch" = "$(dpkg --print-architecture)" ]; then
      "$here/install-deps.sh" package
      build=$work/build
    else
      build_root=$work/build-root
      rm -rf "$build_root"
      mkdir -p "$build_root"
      # The build root follows debian/control: what its Build-Depends
      # names (versions aside; apt takes a name that one package provides).
      mapfile -t build_depends < <(sed -n '/^Build-Depends:/,/^[^ ]/{s/^Build-Depends://;/^[A-Z]/d;p}' \
        "$source_dir/debian/control" | tr ',' '\n' | sed 's/(.*)//;s/\[.*\]//;s/^ *//;s/ *$//' |
        grep -v '^$')
      tar -C "$build_root" -xf "$(cached_root build build-essential dpkg-dev fakeroot "${build_depends[@]}")"
      build=$build_root/build
    fi
    rm -rf "$build"
    mkdir -p "$build/discbox-$version"
    tar -C "$source_dir" -cf - --exclude-vcs --exclude-vcs-ignores --exclude='./build*' . |
      tar -xf - -C "$build/discbox-$version"
    step "building the packages for $arch"
    if [ -z "$build_root" ]; then
      (cd "$build/discbox-$version" && dpkg-buildpackage -B -us -uc -j2) >>"$log" 2>&1 ||
        fail "dpkg-buildpackage"
    else
      in_root "$archives" "$build_root" sh -c "cd /build/discbox-$version && dpkg-buildpackage -B -us -uc -j2" \
        >>"$log" 2>&1 || fail "dpkg-buildpackage in the $arch root"
    fi
    player_deb=$(ls "$build"/discbox_*_"$arch".deb | head -n 1)
  fi
fi

# --- The box's root: Debian's kernel, systemd and what the player depends
# on, then the player's own package.
step "the root"
root=$work/root
rm -rf "$root"
mkdir -p "$root"
tar -C "$root" -xf "$(cached_root base "$kernel" systemd systemd-sysv udev kmod mpg123 alsa-utils)"
if [ -n "$player_deb" ]; then
  mkdir -p "$root/tmp/debs"
  cp "$player_deb" "$root/tmp/debs/"
  apt_in_root "$root" install /tmp/debs/"$(basename "$player_deb")" >>"$log" 2>&1 ||
    fail "apt install $(basename "$player_deb")"
  rm -rf "$root/tmp/debs"
fi
kver=$(ls "$root/lib/modules" | head -n 1)

# The static busybox of the initramfs, of this architecture, taken from its
# package without installing it.
mkdir -p "$work/busybox"
(cd "$work/busybox" && rm -f ./*.deb) || true
in_root "$archives" "$root" sh -c 'cd /tmp && apt-get download -qq busybox-static' >>"$log" 2>&1 ||
  fail "apt-get download busybox-static"
rm -rf "$work/busybox"
dpkg-deb -x "$root"/tmp/busybox-static_*.deb "$work/busybox"
rm -f "$root"/tmp/busybox-static_*.deb

# What a player does not need: the kernel's network, graphics, camera and
# such drivers (fewer modules also leave udev less to do at boot), the
# hypervisor's (udev loads it for every processor that could host virtual
# machines), apt's lists and caches, documentation.
moddir=$root/lib/modules/$kver/kernel
rm -rf "$moddir"/arch/x86/kvm "$moddir"/net "$moddir"/drivers/{net,gpu,media,infiniband,staging,iio,bluetooth,nfc,isdn} \
  "$moddir"/drivers/{mtd,hwmon,thunderbolt,nvme,gnss,fpga,w1,edac,crypto,platform/chrome} \
  "$moddir"/fs/{btrfs,xfs,ocfs2,nfs,nfsd,ceph,cifs,smb,gfs2,f2fs,jfs,reiserfs,nilfs2,ubifs,dlm} \
  "$moddir"/fs/{afs,coda,orangefs,9p,erofs,bcachefs}
in_root "$archives" "$root" depmod "$kver" >>"$log" 2>&1 || fail "depmod"
rm -rf "$root"/var/lib/apt/lists/* "$root"/var/cache/apt/*.bin "$root"/usr/share/doc/*/changelog* \
  "$root"/usr/share/man "$root"/usr/share/locale "$root"/usr/share/info "$root"/boot/initrd.img*

# --- The read-only system: the journal in RAM, no machine ID baked in
# (systemd makes one in RAM at each boot), no first-boot questions.
install -D -m 644 "$source_dir/image/journald.conf" \
  "$root/etc/systemd/journald.conf.d/discbox-image.conf"
: >"$root/etc/machine-id"
: >"$root/etc/fstab"
echo discbox >"$root/etc/hostname"
ln -sf /dev/null "$root/etc/systemd/system/systemd-firstboot.service"
if [ "$bare" = no ]; then
  install -D -m 755 "$source_dir/image/settings.sh" "$root/usr/lib/discbox-image/settings.sh"
  install -D -m 644 "$source_dir/image/discbox-settings.service" \
    "$root/etc/systemd/system/discbox-settings.service"
  install -D -m 644 "$source_dir/image/discbox-image.conf" \
    "$root/etc/systemd/system/discbox.service.d/image.conf"
  echo parport_pc >"$root/etc/modules-load.d/discbox-image.conf"
  # Nothing that does not serve the player: no logins (the player owns
  # tty1, and the box has no password to log in with; getty-static would
  # start them on tty2 to tty6 where logind is missing), no package
  # maintenance timers (the root cannot change), no file system checks.
  for unit in getty@.service autovt@.service serial-getty@.service getty-static.service \
    systemd-logind.service \
    apt-daily.timer apt-daily-upgrade.timer dpkg-db-backup.timer e2scrub_all.timer \
    e2scrub_reap.service fstrim.timer systemd-tmpfiles-clean.timer; do
    ln -sf /dev/null "$root/etc/systemd/system/$unit"
  done
else
  # The comparison's end of boot: a line on the serial port once the
  # multi-user target is reached.
  cat >"$root/etc/systemd/system/boot-reached.service" <<'EOF'
[Unit]
Description=Report the end of boot on the serial port
After=multi-user.target
[Service]
Type=oneshot
ExecStart=/bin/sh -c 'echo "@@ multi-user reached" >/dev/ttyS0'
[Install]
WantedBy=multi-user.target
EOF
  ln -sf ../boot-reached.service "$root/etc/systemd/system/multi-user.target.wants/"
fi
image_id=$(head -c 8 /dev/urandom | od -An -tx1 | tr -d ' \n')
echo "$image_id" >"$root/etc/discbox-image"

# --- The initramfs: busybox, the init beside this script's image folder,
# and the drivers of every disk an old PC may boot from.
step "the initramfs"
initramfs=$work/initramfs
rm -rf "$initramfs"
mkdir -p "$initramfs"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,run,etc}
cp "$work/busybox/bin/busybox" "$initramfs/bin/busybox"
for applet in $("$initramfs/bin/busybox" --list-full); do
  [ -e "$initramfs/$applet" ] || ln -s /bin/busybox "$initramfs/$applet"
done
install -m 755 "$source_dir/image/init" "$initramfs/init"
modules=(sd_mod usb_storage uas ehci_pci ohci_pci uhci_hcd xhci_pci squashfs overlay vfat
  nls_cp437 nls_ascii nls_iso8859_1 nls_utf8)
while read -r module; do
  modules+=("$(basename "$module" .ko)")
done < <(find "$moddir/drivers/ata" -name '*.ko')
printf '%s\n' "${modules[@]}" >"$initramfs/etc/storage-modules"
mkdir -p "$initramfs/lib/modules/$kver"
cp "$root/lib/modules/$kver"/modules.{order,builtin,builtin.modinfo} "$initramfs/lib/modules/$kver/"
for module in "${modules[@]}"; do
  while read -r kind file _; do
    [ "$kind" = insmod ] || continue
    install -D -m 644 "$file" "$initramfs/${file#"$root"/}"
  done < <(modprobe -d "$root" -S "$kver" --show-depends "$module" 2>>"$log")
done
depmod -b "$initramfs" "$kver"
(cd "$initramfs" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -9) >"$work/initrd.img"

# --- The FAT partition, written without mounting it.
step "the FAT partition"
volume_id=$(head -c 4 /dev/urandom | od -An -tx1 | tr -d ' \n')
fs_uuid=$(echo "${volume_id:0:4}-${volume_id:4:4}" | tr 'a-f' 'A-F')
fat=$work/fat.img
rm -f "$fat"
mkfs.vfat -F 32 -n DISCBOX -i "$volume_id" -C "$fat" $((64 * 1024)) >>"$log" 2>&1 || fail "mkfs.vfat"
# GRUB's first words, built into both of its images: find this FAT by its
# volume ID (whatever the disk's number) and read the menu there.
cat >"$work/early.cfg" <<EOF
search --no-floppy --fs-uuid --set=root $fs_uuid
set prefix=(\$root)/boot/grub
configfile \$prefix/grub.cfg
EOF
grub_modules=(part_msdos fat search search_fs_uuid configfile normal linux echo test gzio)
grub-mkimage -O "$efi_target" -o "$work/$efi_name" -p /boot/grub -c "$work/early.cfg" \
  "${grub_modules[@]}" >>"$log" 2>&1 || fail "grub-mkimage $efi_target"
grub-mkimage -O i386-pc -o "$work/core.img" -p /boot/grub -c "$work/early.cfg" biosdisk \
  "${grub_modules[@]}" >>"$log" 2>&1 || fail "grub-mkimage i386-pc"
sed "s/@IMAGE@/$image_id/" "$source_dir/image/grub.cfg" >"$work/grub.cfg"
{
  mmd -i "$fat" ::/EFI ::/EFI/BOOT ::/boot ::/boot/grub &&
    mcopy -i "$fat" "$work/$efi_name" ::/EFI/BOOT/ &&
    mcopy -i "$fat" "$work/grub.cfg" ::/boot/grub/grub.cfg &&
    mcopy -i "$fat" "$root/boot/vmlinuz-$kver" ::/boot/vmlinuz &&
    mcopy -i "$fat" "$work/initrd.img" ::/boot/initrd.img &&
    if [ "$bare" = no ]; then mcopy -i "$fat" "$source_dir/image/discbox.conf" ::/discbox.conf; fi
} >>"$log" 2>&1 || fail "filling the FAT partition"
rm -f "$root"/boot/vmlinuz* "$root"/vmlinuz* "$root"/initrd.img*

# --- The root's squashfs, and the disk.
step "the squashfs root"
squash=$work/root.squashfs
rm -f "$squash"
mksquashfs "$root" "$squash" -comp zstd -noappend -quiet >>"$log" 2>&1 || fail "mksquashfs"
rm -rf "$root"
mib=$((1024 * 1024))
squash_mib=$((($(stat -c %s "$squash") + mib - 1) / mib))
rm -f "$out.part"
truncate -s $(((1 + 64 + squash_mib) * mib)) "$out.part"
# Partition 1 is FAT32 (0x0c) rather than an EFI system partition (0xef):
# UEFI firmware boots from either, and only the former is shown to whoever
# edits the settings on Windows or a Mac.
sfdisk -q "$out.part" >>"$log" 2>&1 <<EOF || fail "sfdisk"
label: dos
label-id: 0x$(head -c 4 /dev/urandom | od -An -tx1 | tr -d ' \n')
start=1MiB, size=64MiB, type=c, bootable
start=65MiB, type=83
EOF
dd if=/usr/lib/grub/i386-pc/boot.img of="$out.part" bs=440 count=1 conv=notrunc status=none
[ "$(stat -c %s "$work/core.img")" -lt $((mib - 512)) ] || fail "GRUB's core image fits before 1 MiB"
dd if="$work/core.img" of="$out.part" bs=512 seek=1 conv=notrunc status=none
dd if="$fat" of="$out.part" bs=1M seek=1 conv=notrunc status=none
dd if="$squash" of="$out.part" bs=1M seek=65 conv=notrunc status=none
mv "$out.part" "$out"
rm -f "$fat" "$squash"
step "$out: $(($(stat -c %s "$out") / mib)) MiB ($arch$([ "$bare" = no ] || echo ", bare"))"
