# shellcheck shell=dash
# Helpers for the guest scripts that run the real discbox (busybox sh),
# installed beside guest.sh as /lib/vm/player.sh. The player reads its keys
# from a FIFO and writes its console to $out.
#
# player_setup    the step "setup": the CD-ROM drivers, the mount points,
#                 and a blocking open of the drive (shown as "open")
# start_player [USER]
#                 starts discbox in a session of its own, with frame-sink
#                 (/bin/mpg123) keeping the frames in /tmp/frames; as USER
#                 (from /etc/passwd, with the groups /etc/group gives it)
#                 instead of root when given
# key KEYS        types KEYS
# wait_for TEXT SECONDS [COUNT]
#                 waits for a line (COUNT lines) holding TEXT among the
#                 player's lines since the last player_lines; says so when
#                 it does not come
# player_lines    the player's console lines since the last call, as
#                 "player> line"
# stop_player     ends the player, its MP3-mode process and the decoder

out=/tmp/player.out
shown=0

player_setup() {
  vm_step setup
  vm_cdrom_drivers
  mkdir -p /cdrom /floppy
  vm_show open sh -c 'cat /dev/sr0 >/dev/null'
}

player_lines() {
  local total
  total=$(wc -l <$out)
  [ "$total" -gt "$shown" ] && sed -n "$((shown + 1)),${total}p" $out | sed 's/^/player> /'
  shown=$total
}

wait_for() {
  local tries=0
  while [ $tries -lt $(($2 * 10)) ]; do
    [ "$(tail -n +$((shown + 1)) $out | grep -cF -- "$1")" -ge "${3:-1}" ] && return 0
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
  rm -f /tmp/keys
  mkfifo /tmp/keys
  shown=0
  if [ -n "${1:-}" ]; then
    FRAME_SINK_OUTPUT=/tmp/frames setsid su -s /bin/sh -c 'exec discbox' "$1" </tmp/keys >$out 2>&1 &
  else
    FRAME_SINK_OUTPUT=/tmp/frames setsid discbox </tmp/keys >$out 2>&1 &
  fi
  player=$!
  exec 3>/tmp/keys
}

stop_player() {
  kill -TERM -- "-$player" 2>/dev/null
  sleep 0.5
  kill -KILL -- "-$player" 2>/dev/null
  exec 3>&-
  wait
}
