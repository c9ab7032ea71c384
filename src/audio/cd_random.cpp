// Random order without repeats: every track of the disc gets its turn once
// before any track comes round again. The tracks already chosen are kept
// packed at the front of tracks_played, so counting them stops at the first
// empty slot.
#include <cstdlib>

#include "audio/cd.h"

int cd::next_random() {
  if (cd_inside == 0 || ok == 0) return 0;
  // A disc whose table of contents could not be read has nothing to choose
  // from; drawing would divide by zero.
  if (tracks_num <= 0) return 0;
  // At least as many chosen as the disc has: the cycle is complete. Testing
  // for more as well keeps the draw below from searching forever should the
  // list ever hold numbers of an earlier, longer disc.
  if (number_of_tracks_played() >= tracks_num) tracks_clear();
  int new_t;
  do {
    new_t = std::rand() % tracks_num + 1;
  } while (track_played(new_t));
  mark_track(new_t);
  return play(new_t, new_t);
}

void cd::tracks_clear() {
  for (int &slot : tracks_played) slot = 0;
}

int cd::number_of_tracks_played() {
  int count = 0;
  while (count < max_tracks && tracks_played[count] != 0) ++count;
  return count;
}

int cd::track_played(int n) {
  for (int slot : tracks_played) {
    if (slot == n) return 1;
  }
  return 0;
}

void cd::mark_track(int n) {
  for (int &slot : tracks_played) {
    if (slot == 0) {
      slot = n;
      return;
    }
  }
}
