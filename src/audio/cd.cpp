// The CD-ROM drive controller: keeps the disc's table of contents, mirrors the
// drive's audio status, and asks the drive to play, pause, stop and eject.
//
// The drive plays audio by itself, so all the class keeps is what the last
// requests told it; digital playback for drives that cannot (cd_digital.cpp)
// stands in for the drive where it runs. An open descriptor stands for "a disc is inside": the
// drive refuses a blocking open while it is empty, and the first status
// request that fails (the disc went out) closes the descriptor again.
#include "audio/cd.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"

namespace {

// The last frame before `address`: the end address of a play range that must
// stop just ahead of the next track (or the lead-out).
void frame_before(const cdrom_msf0 &address, unsigned char &minute, unsigned char &second,
                  unsigned char &frame) {
  minute = address.minute;
  second = address.second;
  frame = address.frame;
  if (frame > 0) {
    --frame;
  } else if (second > 0) {
    --second;
    frame = CD_FRAMES - 1;
  } else {
    --minute;
    second = CD_SECS - 1;
    frame = CD_FRAMES - 1;
  }
}

}  // namespace

cd::cd() {
  std::srand(std::time(nullptr));
  random_play = 1;
  ok = 0;
  cd_inside = 0;
  Paused = 0;
  Playing = 0;
  tracks_num = 0;
  current_t = 0;
  tracks_clear();
  open();
  query_inside();
  if (cd_inside == 1) new_cd();
}

int cd::open() {
  if (fd) return 0;
  fd.reset(platform::drive_open());
  if (!fd) return 0;
  ok = 1;
  // By default the kernel closes an open tray when the device is opened, so
  // the poll after an eject would pull the disc straight back in and play it
  // again. With the option off an open tray answers "no disc", as the player
  // expects. The option is the drive's, so once it is off it stays off.
  platform::drive_request(fd.get(), CDROM_CLEAR_OPTIONS, reinterpret_cast<void *>(CDO_AUTO_CLOSE));
  return 1;
}

int cd::close() {
  if (!fd) return 0;
  forget_disc();
  return 1;
}

void cd::forget_disc() {
  // The stream reads from this descriptor: it ends first.
  digital.stop();
  fd.reset();
  ok = 0;
  cd_inside = 0;
  current_t = 0;
  tracks_num = 0;
  refuses_audio = false;
  speed_asked = false;
  speed_lowered = false;
}

int cd::query_inside() {
  if (ok == 0) open();
  if (ok == 0) {
    cd_inside = 0;
    return 0;
  }
  cd_inside = 1;
  return 1;
}

int cd::new_cd() {
  if (cd_inside == 0) return 0;
  if (ok == 0) open();
  for (cdrom_msf0 &entry : track) entry = cdrom_msf0{};
  for (unsigned char &control : track_control) control = 0;
  refuses_audio = false;
  tracks_clear();
  read_info();
  read_status();
  return 1;
}

int cd::read_info() {
  if (ok == 0 || cd_inside == 0) return 0;
  cdrom_tochdr tinfo{};
  if (platform::drive_request(fd.get(), CDROMREADTOCHDR, &tinfo) == -1) return 0;
  // The track table holds 99 tracks and the lead-out; a disc claiming more
  // cannot be addressed safely, so it is treated as having no tracks at all.
  if (tinfo.cdth_trk1 > max_tracks) {
    tracks_num = 0;
    return 0;
  }
  tracks_num = tinfo.cdth_trk1;
  for (int y = 1; y <= tracks_num + 1; ++y) {
    cdrom_tocentry entry{};
    entry.cdte_format = CDROM_MSF;
    entry.cdte_track = y > tracks_num ? CDROM_LEADOUT : y;
    if (platform::drive_request(fd.get(), CDROMREADTOCENTRY, &entry) == -1) return 0;
    track[y] = entry.cdte_addr.msf;
    track_control[y] = entry.cdte_ctrl;
  }
  return 1;
}

int cd::read_status() {
  if (cd_inside == 0) {
    query_inside();
    if (cd_inside == 1) new_cd();
    return 1;
  }
  return query_status(true);
}

int cd::read_position() {
  if (cd_inside == 0) return read_status();
  return query_status(false);
}

int cd::query_status(bool handle_completion) {
  cdrom_subchnl ch{};
  ch.cdsc_format = CDROM_MSF;
  // While a range streams, the stream answers alone: the drive may be busy
  // for seconds with a read, and the kernel would hold the query until it is
  // done. The stream's own reads notice a disc that went out.
  if (!digital.streaming() && platform::drive_request(fd.get(), CDROMSUBCHNL, &ch) == -1) {
    // A drive that cannot report audio status at all says so with every
    // query; that the disc is still in must be asked another way.
    if (errno != EOPNOTSUPP || !disc_still_there()) {
      if (fd) forget_disc();
      return 0;
    }
    ch.cdsc_audiostatus = CDROM_AUDIO_NO_STATUS;
    ch.cdsc_trk = static_cast<unsigned char>(current_t);
  }
  int audio_status = ch.cdsc_audiostatus;
  current_t = ch.cdsc_trk;
  if (digital.active()) {
    int frame = 0;
    audio_status = digital.status(frame);
    current_t = track_of_frame(frame);
  }
  switch (audio_status) {
    case CDROM_AUDIO_PLAY:
      Paused = 0;
      Playing = 1;
      return 1;
    case CDROM_AUDIO_PAUSED:
      Paused = 1;
      Playing = 0;
      return 1;
    case CDROM_AUDIO_COMPLETED:
      if (!handle_completion) return 1;
      if (random_play == 1) {
        next_random();
      } else {
        play(current_t >= tracks_num ? 1 : current_t + 1);
      }
      return 1;
    case CDROM_AUDIO_ERROR:
      Playing = 0;
      Paused = 0;
      return 0;
    case CDROM_AUDIO_NO_STATUS:
      Paused = 0;
      Playing = 0;
      return 1;
    default:
      return 1;
  }
}

int cd::play(int start, int end) { return start_play(start, end, true); }

int cd::test_play(int track_number) { return start_play(track_number, track_number, false); }

int cd::start_play(int start, int end, bool sound) {
  if (ok == 0) return 0;
  if (start == 0) start = 1;
  if (start < 1 || start > tracks_num || end < 0 || end > tracks_num || cd_inside == 0) return 0;
  if (refuses_audio) return play_digitally(start, end, sound);
  stop_drive();
  platform::drive_request(fd.get(), CDROMSTART, nullptr);

  cdrom_msf msf{};
  msf.cdmsf_min0 = track[start].minute;
  msf.cdmsf_sec0 = track[start].second;
  msf.cdmsf_frame0 = track[start].frame;
  frame_before(track[end + 1], msf.cdmsf_min1, msf.cdmsf_sec1, msf.cdmsf_frame1);
  if (platform::drive_request(fd.get(), CDROMPLAYMSF, &msf) == 0) {
    digital.stop();
    return 1;
  }
  // A drive without analog audio refuses the request itself; it can still
  // read the sectors. A refused play leaves no stream behind (the MP3 mode
  // forks right after one).
  if (errno == EOPNOTSUPP) {
    refuses_audio = true;
    return play_digitally(start, end, sound);
  }
  digital.stop();
  return 0;
}

int cd::play(int track_number) { return play(track_number, track_number); }

int cd::random(int flag) {
  if (static_cast<unsigned int>(flag) > 1) return 0;
  random_play = flag;
  return 1;
}

int cd::random() { return random_play; }

int cd::stop() {
  if (!fd || cd_inside == 0) return 0;
  stop_playing();
  return 1;
}

void cd::stop_drive() { platform::drive_request(fd.get(), CDROMSTOP, nullptr); }

void cd::stop_playing() {
  digital.stop();
  full_speed();
  stop_drive();
}

// Digital playback takes pause and resume itself: the drive plays nothing.
int cd::pause() {
  if (!fd || cd_inside == 0) return 0;
  if (digital.active()) {
    digital.pause();
  } else {
    platform::drive_request(fd.get(), CDROMPAUSE, nullptr);
  }
  return 1;
}

int cd::resume() {
  if (!fd || cd_inside == 0) return 0;
  if (digital.active()) {
    digital.resume();
  } else {
    platform::drive_request(fd.get(), CDROMRESUME, nullptr);
  }
  return 1;
}

// The descriptor stays open: the disc is forgotten by the first status
// request that fails once it is out.
int cd::eject() {
  // A drive that cannot report audio status fails every status request, and
  // each failure closes the device although the disc is still there; a
  // blocking open finds out whether it is.
  if (!fd) query_inside();
  if (!fd || cd_inside == 0) return 0;
  stop_playing();
  // The kernel locks the door while the device is open, and some drives go
  // on refusing the eject (with a positive answer) until it is unlocked.
  platform::drive_request(fd.get(), CDROM_LOCKDOOR, nullptr);
  return platform::drive_request(fd.get(), CDROMEJECT, nullptr) == 0 ? 1 : 0;
}

int cd::set_volume(int) { return 1; }

int cd::next() {
  if (random_play == 1) {
    next_random();
  } else {
    play(current_t + 1, tracks_num);
  }
  return 1;
}

int cd::previous() {
  play(current_t - 1, tracks_num);
  return 1;
}

int cd::tracks() { return tracks_num; }
int cd::current() { return current_t; }
int cd::paused() { return Paused; }
int cd::playing() { return Playing; }
int cd::inside() { return cd_inside; }
