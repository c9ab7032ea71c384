# shellcheck shell=dash
# Runs in the emulated PC: the real discbox as the machine's program, with
# keys fed through a FIFO into its standard input and frame-sink installed as
# /bin/mpg123. The scenario comes from the kernel command line
# (player.scenario=NAME); player_test.sh on the host checks what each step
# printed, which frames reached the decoder and what the display showed.
# shellcheck source=/dev/null
. /lib/vm/guest.sh

scenario=$(sed -n 's/.*player\.scenario=\([a-z]*\).*/\1/p' /proc/cmdline)
out=/tmp/player.out
shown=0

# The player's console lines since the last call, as "player> line".
player_lines() {
  local total
  total=$(wc -l <$out)
  [ "$total" -gt "$shown" ] && sed -n "$((shown + 1)),${total}p" $out | sed 's/^/player> /'
  shown=$total
}

# Waits up to $2 seconds for a line holding $1 among the player's lines
# since the last player_lines; says so when it does not come.
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

key() {
  printf %s "$1" >&3
}

# In a session of its own, so that the player, its MP3-mode process and
# the decoder can be stopped together.
start_player() {
  mkfifo /tmp/keys
  FRAME_SINK_OUTPUT=/tmp/frames setsid discbox </tmp/keys >$out 2>&1 &
  player=$!
  exec 3>/tmp/keys
}

stop_player() {
  kill -TERM -- -$player 2>/dev/null
  sleep 0.5
  kill -KILL -- -$player 2>/dev/null
  exec 3>&-
  wait
}

vm_step setup
vm_cdrom_drivers
mkdir -p /cdrom /floppy
vm_show open sh -c 'cat /dev/sr0 >/dev/null'

case $scenario in
  empty)
    vm_step prompt
    start_player
    sleep 4.5
    player_lines
    ;;
  data)
    vm_step scan
    start_player
    wait_for "now" 60
    player_lines
    vm_step stop
    key M
    wait_for " stop " 10
    sleep 0.5
    player_lines
    vm_step play
    key N
    wait_for "Open /cdrom/" 10
    sleep 1.5
    player_lines
    vm_step next
    key E
    wait_for "Open /cdrom/" 10
    sleep 1.5
    player_lines
    vm_step leave
    key X
    wait_for "and eject" 20
    player_lines
    vm_step ejected
    sleep 3.5
    player_lines
    vm_show mounts sh -c 'grep -c " /cdrom " /proc/mounts'
    vm_show decoders pidof mpg123
    ;;
  damaged)
    vm_step scan
    start_player
    wait_for "now" 60
    player_lines
    vm_step play
    key MN
    sleep 3
    player_lines
    vm_step leave
    key X
    wait_for "and eject" 20
    player_lines
    ;;
  links)
    vm_step scan
    start_player
    wait_for "now" 60
    player_lines
    vm_step leave
    key X
    wait_for "and eject" 20
    player_lines
    ;;
  *)
    echo "unknown scenario: $scenario"
    exit 2
    ;;
esac

vm_step end
stop_player
player_lines
[ -f /tmp/frames ] && vm_show frames base64 /tmp/frames
vm_show log vm_kernel_log
