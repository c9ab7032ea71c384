# shellcheck shell=dash source-path=SCRIPTDIR
# Runs in the emulated PC: the real discbox as the machine's program, with
# keys fed through a FIFO into its standard input and frame-sink installed as
# /bin/mpg123. The scenario comes from the kernel command line
# (player.scenario=NAME); player_test.sh on the host checks what each step
# printed, which frames reached the decoder and what the display showed.
# shellcheck source=/dev/null
. /lib/vm/guest.sh
# shellcheck source=player.sh
. /lib/vm/player.sh

scenario=$(sed -n 's/.*player\.scenario=\([a-z]*\).*/\1/p' /proc/cmdline)

player_setup

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
    # The last title of the album plays again at its end ("titl groesser").
    # Once the reader has read it through twice, the writer (a pipe and a
    # burst behind) has passed the first time through on to the decoder.
    wait_for "titl groesser" 60 2
    player_lines
    vm_step leave
    key X
    wait_for "and eject" 20
    player_lines
    ;;
  scratched)
    vm_step scan
    start_player
    wait_for "now" 60
    player_lines
    vm_step play
    key MN
    wait_for "Open /cdrom/artist01/album01/title02.mp3" 60
    sleep 1
    player_lines
    vm_step leave
    key X
    wait_for "and eject" 20
    player_lines
    vm_show mounts sh -c 'grep -c " /cdrom " /proc/mounts'
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
