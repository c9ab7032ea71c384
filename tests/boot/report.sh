# shellcheck shell=sh source-path=SCRIPTDIR/../vm
# The booted Debian's reporter: a test-only service on the serial line (the
# packages know nothing of it). The host writes a step's name, one a line;
# the reporter marks the step (vm_step: a line on the serial console and a
# mark in the port trace), prints the step's facts as "KEY> line" and
# "KEY? STATUS" (vm_show), and ends with "@@ done STEP". Keys reach the
# player from the host, through qemu's keyboard; this script never types.
# shellcheck source=../vm/guest.sh
. /usr/local/lib/boot-report/guest.sh

player() { systemctl show -p MainPID --value discbox.service; }
# Runs a command in the player's mount namespace, where its disc is mounted.
in_player() { nsenter -t "$(player)" -m -- "$@"; }
# The oldest mpg123: the decoder the player started. With its -b buffer,
# which the decoder wrapper passes on, mpg123 forks a buffer process too.
decoder() { pgrep -o -x mpg123; }
# wait_until SECONDS COMMAND...: says so when COMMAND has not succeeded in time.
wait_until() {
  tries=$(($1 * 5))
  shift
  while ! "$@" >/dev/null 2>&1; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then
      echo "wait> no success of \"$*\""
      return 1
    fi
    sleep 0.2
  done
}
# The parallel ports the player holds open: its display through the driver.
held_ports() { ls -l "/proc/$(player)/fd" | sed -n 's|.* -> \(/dev/parport[0-9]*\)$|\1|p'; }
# Whether the player may reach ports itself (CAP_SYS_RAWIO, capability 17).
raw_io() {
  effective=$(sed -n 's/^CapEff:[[:space:]]*//p' "/proc/$(player)/status")
  if [ $((0x$effective >> 17 & 1)) -eq 1 ]; then echo yes; else echo no; fi
}
cdrom_mounted() { grep -q ' /cdrom ' "/proc/$(player)/mountinfo"; }
cdrom_not_mounted() { ! cdrom_mounted; }
sound_running() { grep -q 'RUNNING' /proc/asound/card0/pcm0p/sub0/status; }
no_decoder() { ! decoder; }
# The first console's screen, one row a line, trailing blanks cut.
screen() {
  columns=$(od -An -tu1 -j1 -N1 /dev/vcsa1 | tr -d ' ')
  fold -w "$columns" /dev/vcs1 | sed 's/ *$//' | grep -v '^$'
}

stty -echo
echo "@@ reporter-ready"
while read -r step; do
  step=$(printf %s "$step" | tr -d '\r')
  [ -n "$step" ] || continue
  vm_step "$step"
  case $step in
    boot)
      # Read at the trace mark, this ties the guest's clock to the host's.
      read -r up _ </proc/uptime
      echo "uptime> $up"
      wait_until 60 systemctl is-active -q discbox.service
      vm_show active systemctl is-active discbox.service
      vm_show user ps -o user= -p "$(player)"
      vm_show tty ps -o tty= -p "$(player)"
      vm_show port held_ports
      vm_show rawio raw_io
      ;;
    mp3)
      # The MP3 mode starts its decoder once the disc is scanned.
      wait_until 180 decoder
      vm_show decoder ps -o user=,comm= -p "$(decoder)"
      ;;
    play)
      wait_until 60 sound_running
      vm_show sound grep '^state' /proc/asound/card0/pcm0p/sub0/status
      vm_show decoder ps -o user=,group=,comm= -p "$(decoder)"
      vm_show privileges grep -E '^(Uid|Gid|Groups|CapInh|CapPrm|CapEff|CapAmb|NoNewPrivs):' \
        "/proc/$(decoder)/status"
      vm_show mount awk '$5 == "/cdrom" { print $6 }' "/proc/$(player)/mountinfo"
      vm_show outside grep -c ' /cdrom ' /proc/1/mountinfo
      ;;
    hostile)
      # What the disc carries, and what anyone (nobody) or root can do with
      # it in the player's own view of the file system.
      vm_show carried in_player stat -c '%A %u %n' /cdrom/extras/id /cdrom/extras/null
      vm_show user_runs in_player setpriv --reuid=nobody --regid=nogroup --clear-groups \
        /cdrom/extras/id -u
      vm_show root_runs in_player /cdrom/extras/id -u
      vm_show user_opens in_player setpriv --reuid=nobody --regid=nogroup --clear-groups \
        head -c 1 /cdrom/extras/null
      vm_show root_opens in_player head -c 1 /cdrom/extras/null
      vm_show root_writes in_player touch /cdrom/extras/new
      ;;
    leave)
      wait_until 60 cdrom_not_mounted
      wait_until 30 no_decoder
      vm_show mounted sh -c "grep -c ' /cdrom ' /proc/$(player)/mountinfo"
      vm_show decoders pidof mpg123
      vm_show screen screen
      ;;
    end)
      vm_show startup systemd-analyze
      vm_show exposure sh -c 'systemd-analyze security discbox.service | tail -n 1'
      vm_show failed systemctl --failed --no-legend --plain
      vm_show journal journalctl -b -u discbox.service --no-pager -o cat
      vm_show kernel dmesg
      ;;
    *) echo "unknown step: $step" ;;
  esac
  echo "@@ done $step"
done
