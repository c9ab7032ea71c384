# shellcheck shell=dash source-path=SCRIPTDIR
# Runs in the emulated PC: the real discbox on a Rock Ridge disc whose names
# hold umlauts, accents, Polish and Nordic letters, `\` and `~`, Chinese,
# an emoji and ISO 8859-1 bytes. Each step shows the next title (E);
# names_test.sh on the host reads the display from the traced port writes.
# shellcheck source=/dev/null
. /lib/vm/guest.sh
# shellcheck source=player.sh
. /lib/vm/player.sh

player_setup

vm_step title1
start_player
wait_for "now" 90
sleep 1
player_lines
for title in 2 3 4 5 6 7 8; do
  vm_step "title$title"
  key E
  wait_for "Binterp1album1title$title" 20
  # The display is written after the selection's console lines.
  sleep 1
  player_lines
done
vm_step leave
key X
wait_for "and eject" 20
player_lines

vm_step end
stop_player
player_lines
vm_show log vm_kernel_log
