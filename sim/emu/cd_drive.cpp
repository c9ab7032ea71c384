// The emulated CD-ROM drive as the player reaches it: opening the device and
// the linux/cdrom.h requests, answered the way the Linux sr driver answers
// them (ENOMEDIUM without a disc, EIO for what the drive itself refuses,
// EOPNOTSUPP for what a drive of its kind cannot do at all). A
// blocking open closes an open tray unless CDO_AUTO_CLOSE was cleared, and
// locks the door, as the kernel's CD-ROM layer does. Requests are taken one
// at a time, as the kernel takes them for each drive: a request made while
// a read takes its time (drive_timing.cpp) waits until the read is done.
//
// An opened drive is a real descriptor (on /dev/null), so closing, fork
// inheritance and leak checks behave as they do on the real machine. Each
// process remembers which disc each of its descriptors was opened for: a
// request on a descriptor from before a media change fails, as it does
// after the real drive reports the change.
#include <fcntl.h>
#include <linux/cdrom.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "emu/drive_state.h"
#include "platform/platform.h"

namespace sim {
namespace {

// Descriptor -> the media it was opened for. Per process, like descriptors;
// only touched under the drive's lock. Never destroyed: the player's drive
// controller closes its descriptor when the process exits, which may be
// after this table would be gone.
std::unordered_map<int, std::uint64_t> &opened_media() {
  static auto &table = *new std::unordered_map<int, std::uint64_t>;
  return table;
}

struct drive_answer {
  int error = 0;
  std::string detail;  // what the drive understood, for the log
  int value = 0;       // what a request that succeeds returns
};

std::string error_name(int error) {
  const char *name = strerrorname_np(error);
  return name ? name : std::to_string(error);
}

int frames_of(int minute, int second, int frame) {
  return (minute * 60 + second) * frames_per_second + frame;
}

bool known_format(int format) { return format == CDROM_MSF || format == CDROM_LBA; }

void put_address(cdrom_addr &address, int format, int frames) {
  if (format == CDROM_LBA) {
    address.lba = frames - first_track_frame;
    return;
  }
  const int seconds = frames / frames_per_second;
  address.msf.minute = static_cast<unsigned char>(seconds / 60);
  address.msf.second = static_cast<unsigned char>(seconds % 60);
  address.msf.frame = static_cast<unsigned char>(frames % frames_per_second);
}

unsigned char control_bits(const loaded_disc &disc) {
  return disc.kind == emulated_disc::disc_kind::data ? CDROM_DATA_TRACK : 0;
}

drive_answer read_toc_header(const drive_state &state, cdrom_tochdr &header) {
  if (state.disc.tracks == 0) return {EIO, ""};
  header.cdth_trk0 = 1;
  header.cdth_trk1 = static_cast<unsigned char>(state.disc.tracks);
  return {0, "1-" + std::to_string(state.disc.tracks)};
}

drive_answer read_toc_entry(const drive_state &state, cdrom_tocentry &entry) {
  const loaded_disc &disc = state.disc;
  const bool lead_out = entry.cdte_track == CDROM_LEADOUT;
  const std::string which = lead_out ? "leadout" : std::to_string(entry.cdte_track);
  if (!known_format(entry.cdte_format)) return {EINVAL, which};
  if (!lead_out && (entry.cdte_track < 1 || entry.cdte_track > disc.tracks)) return {EIO, which};
  if (disc.tracks == 0) return {EIO, which};
  const int start = disc.track_start[lead_out ? disc.tracks : entry.cdte_track - 1];
  entry.cdte_adr = 1;
  entry.cdte_ctrl = control_bits(disc);
  // The sr driver derives the data mode from the control bits alone.
  entry.cdte_datamode = disc.kind == emulated_disc::disc_kind::data ? 1 : 0;
  put_address(entry.cdte_addr, entry.cdte_format, start);
  return {0, which + " " + msf_text(start)};
}

const char *status_word(int status) {
  switch (status) {
    case CDROM_AUDIO_PLAY:
      return "play";
    case CDROM_AUDIO_PAUSED:
      return "paused";
    case CDROM_AUDIO_COMPLETED:
      return "completed";
    default:
      return "no-status";
  }
}

drive_answer read_subchannel(drive_state &state, cdrom_subchnl &channel, std::int64_t now) {
  if (!known_format(channel.cdsc_format)) return {EINVAL, ""};
  int status = CDROM_AUDIO_NO_STATUS;
  if (state.audio == audio_state::playing) status = CDROM_AUDIO_PLAY;
  if (state.audio == audio_state::paused) status = CDROM_AUDIO_PAUSED;
  if (state.audio == audio_state::completed) {
    // Reported once; the drive has nothing to say about the play after that.
    status = CDROM_AUDIO_COMPLETED;
    state.audio = audio_state::idle;
  }
  const loaded_disc &disc = state.disc;
  const int position = head_position(state, now);
  const int track = track_at(disc, position);
  channel.cdsc_audiostatus = static_cast<unsigned char>(status);
  channel.cdsc_adr = 1;
  channel.cdsc_ctrl = control_bits(disc);
  channel.cdsc_trk = static_cast<unsigned char>(track);
  channel.cdsc_ind = 1;
  put_address(channel.cdsc_absaddr, channel.cdsc_format, position);
  const int track_start = track > 0 ? disc.track_start[track - 1] : 0;
  put_address(channel.cdsc_reladdr, channel.cdsc_format,
              position - track_start + (channel.cdsc_format == CDROM_LBA ? first_track_frame : 0));
  return {0, std::string(status_word(status)) + " track " + std::to_string(track)};
}

bool data_only() { return machine_config().data_only_drive; }

// The audio commands a data-only drive does not know. It refuses them by
// their operation code before it looks at the medium, so they fail so even
// on a descriptor whose disc has gone, and the kernel passes that on.
bool unknown_to_data_only_drive(unsigned long request) {
  return request == CDROMPLAYMSF || request == CDROMSUBCHNL || request == CDROMPAUSE ||
         request == CDROMRESUME;
}
bool no_analog_audio() { return machine_config().no_analog_audio; }

drive_answer read_audio(drive_state &state, cdrom_read_audio &request) {
  drive_answer result;
  result.error = read_audio_sectors(state.disc, request, result.detail);
  if (result.error == 0) state.read_end = request_first_frame(request) + request.nframes;
  return result;
}

// The kernel's CDROMEJECT unlocks the door before it moves the tray; the
// data-only drive keeps it locked through that and refuses with the SCSI
// status the kernel hands back as a positive result.
drive_answer eject(drive_state &state, std::int64_t now) {
  if (data_only() && state.door_locked) return {0, "locked", 2};
  return {eject_disc(state, now), ""};
}

// The option requests take their argument by value and answer the options.
drive_answer change_options(drive_state &state, unsigned long request, unsigned long bits) {
  if (request == CDROM_SET_OPTIONS) {
    state.options |= static_cast<int>(bits);
  } else {
    state.options &= ~static_cast<int>(bits);
  }
  char detail[16];
  std::snprintf(detail, sizeof detail, "0x%lx", bits);
  return {0, detail, state.options};
}

drive_answer play_msf(drive_state &state, const cdrom_msf &msf, std::int64_t now) {
  const int start = frames_of(msf.cdmsf_min0, msf.cdmsf_sec0, msf.cdmsf_frame0);
  const int end = frames_of(msf.cdmsf_min1, msf.cdmsf_sec1, msf.cdmsf_frame1);
  const std::string range = msf_text(start) + "-" + msf_text(end);
  // The SCSI answer "invalid command operation code", as the sr driver
  // hands it on; a data track is refused as on any drive.
  if (no_analog_audio() && state.disc.kind == emulated_disc::disc_kind::audio)
    return {EOPNOTSUPP, range};
  // Seconds and frames out of range are an invalid field to the drive.
  const bool valid = msf.cdmsf_sec0 < 60 && msf.cdmsf_sec1 < 60 &&
                     msf.cdmsf_frame0 < frames_per_second && msf.cdmsf_frame1 < frames_per_second;
  return {valid ? start_play(state, start, end, now) : EIO, range};
}

// The request proper, once the descriptor is known to be a drive of the
// disc that is in it now.
drive_answer answer(drive_state &state, unsigned long request, void *argument, std::int64_t now) {
  switch (request) {
    case CDROMPAUSE:
      return {pause_play(state, now), ""};
    case CDROMRESUME:
      return {resume_play(state, now), ""};
    case CDROMSTOP:
      stop_play(state, now);
      return {};
    case CDROMSTART:
      return {};
    case CDROMEJECT:
      return eject(state, now);
    case CDROM_LOCKDOOR:
      state.door_locked = argument != nullptr;
      return {0, state.door_locked ? "1" : "0"};
    case CDROM_SET_OPTIONS:
    case CDROM_CLEAR_OPTIONS:
      return change_options(state, request, reinterpret_cast<unsigned long>(argument));
    case CDROM_SELECT_SPEED: {
      const auto speed = reinterpret_cast<unsigned long>(argument);
      return {select_speed(state, speed), std::to_string(speed)};
    }
    default:
      break;
  }
  if (argument == nullptr) return {EFAULT, ""};
  switch (request) {
    case CDROMPLAYMSF:
      return play_msf(state, *static_cast<const cdrom_msf *>(argument), now);
    case CDROMREADAUDIO:
      return read_audio(state, *static_cast<cdrom_read_audio *>(argument));
    case CDROMREADTOCHDR:
      return read_toc_header(state, *static_cast<cdrom_tochdr *>(argument));
    case CDROMREADTOCENTRY:
      return read_toc_entry(state, *static_cast<cdrom_tocentry *>(argument));
    case CDROMSUBCHNL:
      return read_subchannel(state, *static_cast<cdrom_subchnl *>(argument), now);
    default:
      return {ENOTTY, ""};
  }
}

std::string request_name(unsigned long request) {
  switch (request) {
    case CDROMPAUSE:
      return "PAUSE";
    case CDROMRESUME:
      return "RESUME";
    case CDROMPLAYMSF:
      return "PLAYMSF";
    case CDROMREADTOCHDR:
      return "TOCHDR";
    case CDROMREADTOCENTRY:
      return "TOCENTRY";
    case CDROMSTOP:
      return "STOP";
    case CDROMSTART:
      return "START";
    case CDROMEJECT:
      return "EJECT";
    case CDROMSUBCHNL:
      return "SUBCHNL";
    case CDROM_LOCKDOOR:
      return "LOCKDOOR";
    case CDROM_SET_OPTIONS:
      return "SET_OPTIONS";
    case CDROM_CLEAR_OPTIONS:
      return "CLEAR_OPTIONS";
    case CDROMREADAUDIO:
      return "READAUDIO";
    case CDROM_SELECT_SPEED:
      return "SELECT_SPEED";
    default:
      char name[32];
      std::snprintf(name, sizeof name, "REQUEST 0x%lx", request);
      return name;
  }
}

// The log line: the request, what the drive understood, and how it ended.
// Plays say "ok" outright; other requests only say when they failed or
// answered a value.
std::string log_line(unsigned long request, const drive_answer &result) {
  std::string line = request_name(request);
  if (!result.detail.empty()) line += " " + result.detail;
  if (result.error != 0) return line + " " + error_name(result.error);
  if (result.value != 0) return line + " = " + std::to_string(result.value);
  return request == CDROMPLAYMSF ? line + " ok" : line;
}

}  // namespace
}  // namespace sim

namespace platform {

int drive_open() {
  const sim::drive_command command;
  sim::drive_lock lock;
  int error = 0;
  int fd = -1;
  sim::auto_close_tray(lock.state());
  if (lock.state().disc.kind == sim::emulated_disc::disc_kind::empty) {
    error = ENOMEDIUM;
  } else {
    fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd == -1) error = errno;
  }
  if (error != 0) {
    sim::log_drive_line("OPEN " + sim::error_name(error));
    errno = error;
    return -1;
  }
  sim::opened_media()[fd] = lock.state().media;
  if (lock.state().options & CDO_LOCK) lock.state().door_locked = true;
  sim::log_drive_line("OPEN");
  return fd;
}

int drive_request(int fd, unsigned long request, void *argument) {
  const sim::drive_command command;
  sim::drive_lock lock;
  sim::drive_answer result;
  const auto opened = sim::opened_media().find(fd);
  if (fcntl(fd, F_GETFD) == -1) {
    result.error = EBADF;
  } else if (opened == sim::opened_media().end()) {
    result.error = ENOTTY;  // some other file
  } else if (sim::data_only() && sim::unknown_to_data_only_drive(request)) {
    result.error = EOPNOTSUPP;
  } else if (opened->second != lock.state().media) {
    result.error = ENOMEDIUM;  // the disc it was opened for is gone
  } else {
    if (request == CDROMREADAUDIO && argument != nullptr) {
      sim::take_read_time(lock, *static_cast<const cdrom_read_audio *>(argument));
    }
    // A test may have taken the disc out while the read took its time.
    if (opened->second != lock.state().media) {
      result.error = ENOMEDIUM;
    } else {
      result = sim::answer(lock.state(), request, argument, lock.now());
    }
  }
  sim::log_drive_line(sim::log_line(request, result));
  if (result.error != 0) {
    errno = result.error;
    return -1;
  }
  return result.value;
}

int drive_close(int fd) {
  const sim::drive_command command;
  sim::drive_lock lock;
  sim::opened_media().erase(fd);
  const int result = close(fd);
  const int error = errno;
  sim::log_drive_line(result == 0 ? "CLOSE" : "CLOSE " + sim::error_name(error));
  errno = error;
  return result;
}

}  // namespace platform
