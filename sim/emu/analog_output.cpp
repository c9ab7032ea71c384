// The emulated drive's analog audio output: what a drive that plays an audio
// CD itself puts out on its audio connector, sector by sector in step with
// its head. The simulator's --sound sends it to the PC's sound output.
#include <algorithm>

#include "emu/drive.h"
#include "emu/drive_state.h"

namespace sim {

namespace {

// How far the output may run ahead of the head: enough to keep a sound card
// fed between two looks, little enough that pause and stop are heard at once.
constexpr int lead_sectors = 4;
// Further behind than this, the head has jumped (a new track, a seek) or the
// output fell behind: it follows the head rather than play what is past.
constexpr int lag_sectors = 8;

}  // namespace

analog_step next_analog_sector(int &next, std::uint8_t *sector) {
  loaded_disc disc;
  {
    drive_lock lock;
    const drive_state &state = lock.state();
    // A drive without analog output has nothing on its connector.
    if (machine_config().no_analog_audio || machine_config().data_only_drive ||
        state.audio != audio_state::playing || state.disc.kind != emulated_disc::disc_kind::audio) {
      return analog_step::silent;
    }
    const int head = head_position(state, lock.now());
    if (next < head - lag_sectors || next > head + lead_sectors) next = head;
    if (next >= head + lead_sectors || next >= state.play_end) return analog_step::ahead;
    disc = state.disc;
  }
  fill_audio_sector(disc, next++, sector);
  return analog_step::sector;
}

}  // namespace sim
