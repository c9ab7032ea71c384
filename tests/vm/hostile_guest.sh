# shellcheck shell=dash
# Runs in the emulated PC: the real discbox on a hostile Rock Ridge disc (a
# web of links and names full of control bytes), read through the kernel's
# own isofs, with keys fed through a FIFO. hostile_test.sh on the host checks
# what the player printed.
# shellcheck source=/dev/null
. /lib/vm/guest.sh

out=/tmp/player.out
shown=0

player_lines() {
  local total
  total=$(wc -l <$out)
  [ "$total" -gt "$shown" ] && sed -n "$((shown + 1)),${total}p" $out | sed 's/^/player> /'
  shown=$total
}

wait_for() {
  local tries=0
  while [ $tries -lt $(($2 * 10)) ]; do
    tail -n +$((shown + 1)) $out | grep -qF -- "$1" && return 0
    sleep 0.1
    tries=$((tries + 1))
  done
  echo "wait> no \"$1\" after $2 s"
  return 1
}

vm_step setup
vm_cdrom_drivers
mkdir -p /cdrom /floppy
vm_show open sh -c 'cat /dev/sr0 >/dev/null'

vm_step scan
mkfifo /tmp/keys
FRAME_SINK_OUTPUT=/tmp/frames setsid discbox </tmp/keys >$out 2>&1 &
player=$!
exec 3>/tmp/keys
wait_for "now" 90
player_lines
vm_step play
printf MN >&3
wait_for "Open /cdrom/" 10
sleep 1
player_lines
vm_step leave
printf X >&3
wait_for "and eject" 20
player_lines
# Every byte the player wrote, newlines aside, is printable ASCII.
vm_show unprintable sh -c "tr -d '\n -~' <$out | wc -c"

vm_step end
kill -TERM -- -$player 2>/dev/null
sleep 0.5
kill -KILL -- -$player 2>/dev/null
exec 3>&-
wait
player_lines
vm_show log vm_kernel_log
