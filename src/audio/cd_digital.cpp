// The drive controller's side of digital playback: when the drive refuses
// to play an audio track (EOPNOTSUPP: it has no analog output), the same
// range is streamed from the disc's sectors instead, and status queries ask
// the stream rather than the drive. While it streams, the drive is asked to
// read at a moderate speed: full speed is loud, and 4x still reads four
// seconds of music a second.
#include <linux/cdrom.h>

#include "audio/cd.h"
#include "platform/platform.h"

namespace {

constexpr unsigned long quiet_speed = 4;
constexpr unsigned long top_speed = 0;  // the drive's maximum

int frames_of(const cdrom_msf0 &address) {
  return (address.minute * CD_SECS + address.second) * CD_FRAMES + address.frame;
}

}  // namespace

int cd::play_digitally(int start, int end, bool sound) {
  // A data track holds no audio: it fails as on any drive, which tells a
  // data disc from an audio CD.
  if (track_control[start] & CDROM_DATA_TRACK) {
    digital.stop();
    return 0;
  }
  const int first = frames_of(track[start]);
  int last = frames_of(track[end + 1]);
  // A disc with a data track after its music (an enhanced CD) ends the
  // stream where the data begins.
  for (int t = start + 1; t <= end; ++t) {
    if (track_control[t] & CDROM_DATA_TRACK) {
      last = frames_of(track[t]);
      break;
    }
  }
  // An end ahead of the start is refused, as the drive refuses it.
  if (last < first) {
    digital.stop();
    return 0;
  }
  quiet_drive();
  return sound ? digital.play(fd.get(), first, last) : digital.cue(fd.get(), first, last);
}

// Asked once per stream: a drive that refuses keeps its speed, and asking
// again would wait behind the stream's reads.
void cd::quiet_drive() {
  if (speed_asked) return;
  speed_asked = true;
  speed_lowered = platform::drive_request(fd.get(), CDROM_SELECT_SPEED,
                                          reinterpret_cast<void *>(quiet_speed)) != -1;
}

void cd::full_speed() {
  if (speed_lowered) {
    platform::drive_request(fd.get(), CDROM_SELECT_SPEED, reinterpret_cast<void *>(top_speed));
  }
  speed_asked = false;
  speed_lowered = false;
}

bool cd::disc_still_there() {
  cdrom_tochdr header{};
  return platform::drive_request(fd.get(), CDROMREADTOCHDR, &header) == 0;
}

int cd::track_of_frame(int frame) {
  int sounding = tracks_num > 0 ? 1 : 0;
  for (int t = 2; t <= tracks_num; ++t) {
    if (frames_of(track[t]) <= frame) sounding = t;
  }
  return sounding;
}
