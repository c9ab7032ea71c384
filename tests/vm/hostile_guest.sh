# shellcheck shell=dash source-path=SCRIPTDIR
# Runs in the emulated PC: the real discbox on a hostile Rock Ridge disc (a
# web of links and names full of control bytes), read through the kernel's
# own isofs, with keys fed through a FIFO. hostile_test.sh on the host checks
# what the player printed.
# shellcheck source=/dev/null
. /lib/vm/guest.sh
# shellcheck source=player.sh
. /lib/vm/player.sh

player_setup

vm_step scan
start_player
wait_for "now" 90
player_lines
vm_step play
key MN
wait_for "Open /cdrom/" 10
sleep 1
player_lines
vm_step leave
key X
wait_for "and eject" 20
player_lines
# Every byte the player wrote, newlines aside, is printable ASCII.
vm_show unprintable sh -c "tr -d '\n -~' <$out | wc -c"

vm_step end
stop_player
player_lines
vm_show log vm_kernel_log
