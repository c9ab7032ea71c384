# shellcheck shell=bash
# Sourced, not run, by the scripts that work in a Debian root of their own
# (scripts/make-image.sh, tests/boot/run.sh).
#
# in_root CACHE ROOT COMMAND...: COMMAND in the chroot ROOT, with /proc
# mounted and apt's downloads kept in CACHE, both in a mount namespace of
# its own, so that they leave with it.
in_root() {
  local cache=$1 root=$2
  shift 2
  mkdir -p "$cache/partial"
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  unshare --mount --propagation private sh -c '
    root=$1 cache=$2
    shift 2
    mount -t proc proc "$root/proc" &&
      mount --bind "$cache" "$root/var/cache/apt/archives" &&
      chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive "$@"' sh "$root" "$cache" "$@"
}
