// The drive controller's side of digital playback: when the drive refuses
// to play an audio track (EOPNOTSUPP: it has no analog output), the same
// range is streamed from the disc's sectors instead, and status queries ask
// the stream rather than the drive.
#include <linux/cdrom.h>

#include "audio/cd.h"
#include "platform/platform.h"

namespace {

int frames_of(const cdrom_msf0 &address) {
  return (address.minute * CD_SECS + address.second) * CD_FRAMES + address.frame;
}

}  // namespace

int cd::play_digitally(int start, int end) {
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
  return digital.play(fd, first, last);
}

bool cd::disc_still_there() {
  cdrom_tochdr header{};
  return platform::drive_request(fd, CDROMREADTOCHDR, &header) == 0;
}

int cd::track_of_frame(int frame) {
  int sounding = tracks_num > 0 ? 1 : 0;
  for (int t = 2; t <= tracks_num; ++t) {
    if (frames_of(track[t]) <= frame) sounding = t;
  }
  return sounding;
}
