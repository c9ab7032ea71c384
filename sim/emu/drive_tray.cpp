// The emulated drive's tray: which disc is in it, the swap to the next disc
// of the machine's list some time after each eject, and what tests see of it.
// Between the eject and the swap the tray stands open with the ejected disc
// in it, where a blocking open that closes the tray finds it again.
//
// Nobody sits at the tray, so a swap is due rather than done: every entry
// into the drive (drive_lock) first puts in whatever discs the emulated clock
// says have gone in since the last look.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "emu/drive.h"
#include "emu/drive_state.h"
#include "util/unique_fd.h"
#include "util/unique_handle.h"

namespace sim {

namespace {

struct shared_drive_memory {
  process_mutex mutex;
  process_condition changed;  // a stall was cut short
  process_mutex commands;     // the command channel (drive_command)
  drive_state state;
};

shared_drive_memory &shared_drive() {
  static shared_drive_memory *drive = make_shared_object<shared_drive_memory>();
  return *drive;
}

// The sectors of one folder's own entries; its subfolders go to `folders`.
std::uintmax_t entry_sectors(int folder, std::vector<std::string> &folders) {
  constexpr std::uintmax_t sector_bytes = 2048;
  // The listing takes a descriptor of its own, so that the walk keeps
  // `folder` for fstatat and openat.
  util::unique_fd copy(fcntl(folder, F_DUPFD_CLOEXEC, 0));
  if (!copy) return 0;
  const util::unique_dir listing(fdopendir(copy.get()));
  if (!listing) return 0;
  copy.release();  // the listing closes it now
  std::uintmax_t sectors = 0;
  while (const dirent *entry = readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status;
    const bool known = fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0;
    sectors += known && S_ISREG(status.st_mode) ? 1 + status.st_size / sector_bytes : 1;
    if (known && S_ISDIR(status.st_mode)) folders.emplace_back(name);
  }
  return sectors;
}

// An ISO 9660 tree takes its system area and descriptors, a sector per
// directory and each file rounded up to whole sectors; a data track lasts
// at least four seconds and at most a full disc.
//
// A disc is untrusted input for the emulator too: the walk holds one folder
// open at a time (it climbs back through ".."), keeps only the names of the
// subfolders still to visit, follows no link, and ends once the track is
// full, so a tree thousands of folders deep costs neither descriptors nor
// memory that grow with its paths.
int data_track_frames(const std::filesystem::path &root) {
  constexpr std::uintmax_t longest = 80 * 60 * frames_per_second;
  std::uintmax_t sectors = 32;
  util::unique_fd folder(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Per level from the root down: the subfolders not visited yet.
  std::vector<std::vector<std::string>> to_visit;
  if (folder) {
    to_visit.emplace_back();
    sectors += entry_sectors(folder.get(), to_visit.back());
  }
  while (folder && sectors < longest) {
    std::vector<std::string> &level = to_visit.back();
    if (level.empty()) {
      to_visit.pop_back();
      if (to_visit.empty()) break;
      folder.reset(openat(folder.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      continue;
    }
    const std::string name = std::move(level.back());
    level.pop_back();
    util::unique_fd child(
        openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!child) continue;
    folder = std::move(child);
    to_visit.emplace_back();
    sectors += entry_sectors(folder.get(), to_visit.back());
  }
  return static_cast<int>(std::clamp<std::uintmax_t>(sectors, 4 * frames_per_second, longest));
}

void schedule_next_disc(drive_state &state, std::int64_t from) {
  if (state.sequence + 1 >= static_cast<int>(machine_config().discs.size())) return;
  state.swap_pending = true;
  state.swap_at = from + std::llround(machine_config().swap_delay_seconds * 1e9);
}

// An entry of kind empty leaves the tray empty for one delay, then the next
// disc goes in; so several swaps may be due at one look.
void settle_tray(drive_state &state, std::int64_t now) {
  const auto &discs = machine_config().discs;
  while (state.swap_pending && now >= state.swap_at) {
    state.swap_pending = false;
    const int next = state.sequence + 1;
    if (next >= static_cast<int>(discs.size())) break;
    state.sequence = next;
    load_disc(state, discs[next], next);
    if (discs[next].kind == emulated_disc::disc_kind::empty)
      schedule_next_disc(state, state.swap_at);
  }
}

void reset_audio(drive_state &state) {
  state.audio = audio_state::idle;
  state.play_start = 0;
  state.play_end = 0;
  state.position = state.disc.tracks > 0 ? state.disc.track_start[0] : 0;
}

// The machine's scratches on this disc's tracks, cut to the track they lie
// on: every disc in the drive carries them, as --drive-stall's stalls hit
// every audio CD.
void add_scratches(loaded_disc &disc) {
  for (const machine_configuration::scratch &s : machine_config().scratches) {
    if (s.track < 1 || s.track > disc.tracks || disc.scratch_count == max_scratches) continue;
    const int start = disc.track_start[s.track - 1];
    const int end = disc.track_start[s.track];
    scratch_range &range = disc.scratches[disc.scratch_count];
    range.first = std::clamp(
        start + static_cast<int>(std::floor(s.from_seconds * frames_per_second)), start, end);
    range.end = std::clamp(start + static_cast<int>(std::ceil(s.to_seconds * frames_per_second)),
                           start, end);
    range.milliseconds = s.milliseconds;
    if (range.first < range.end) ++disc.scratch_count;
  }
}

}  // namespace

drive_lock::drive_lock() : state_(shared_drive().state) {
  shared_drive().mutex.lock();
  now_ = now_nanoseconds();
  settle_tray(state_, now_);
  settle_audio(state_, now_);
}

drive_lock::~drive_lock() { shared_drive().mutex.unlock(); }

void drive_lock::wait_until(std::int64_t deadline) {
  shared_drive().changed.wait_until(shared_drive().mutex, deadline);
  now_ = now_nanoseconds();
  settle_tray(state_, now_);
  settle_audio(state_, now_);
}

void drive_lock::notify_all() { shared_drive().changed.notify_all(); }

drive_command::drive_command() { shared_drive().commands.lock(); }

drive_command::~drive_command() { shared_drive().commands.unlock(); }

void unload_disc(drive_state &state) {
  if (state.disc.kind != emulated_disc::disc_kind::empty) ++state.media;
  state.disc = loaded_disc{};
  reset_audio(state);
}

void load_disc(drive_state &state, const emulated_disc &disc, int index) {
  unload_disc(state);
  state.tray_open = false;
  state.tray = loaded_disc{};
  if (disc.kind == emulated_disc::disc_kind::empty) return;
  ++state.media;
  loaded_disc &loaded = state.disc;
  loaded.kind = disc.kind;
  loaded.index = index;
  int frame = first_track_frame;
  if (disc.kind == emulated_disc::disc_kind::audio) {
    const int count = std::min<int>(disc.track_seconds.size(), max_disc_tracks);
    for (int i = 0; i < count; ++i) {
      loaded.track_start[i] = frame;
      frame += std::max(disc.track_seconds[i], 0) * frames_per_second;
    }
    loaded.tracks = count;
    for (const auto &[track, sector] : disc.unreadable_sectors) {
      if (track < 1 || track > count || loaded.unreadable_count == max_unreadable_sectors) continue;
      loaded.unreadable[loaded.unreadable_count++] = loaded.track_start[track - 1] + sector;
    }
  } else if (disc.kind == emulated_disc::disc_kind::data) {
    const std::filesystem::path folder = std::filesystem::absolute(disc.folder);
    folder.string().copy(loaded.folder, sizeof loaded.folder - 1);
    loaded.track_start[0] = frame;
    frame += data_track_frames(folder);
    loaded.tracks = 1;
  }
  loaded.track_start[loaded.tracks] = frame;
  add_scratches(loaded);
  reset_audio(state);
  start_stall_clock(state);
}

int eject_disc(drive_state &state, std::int64_t now) {
  // A mounted file system keeps the device in use; the driver refuses then.
  if (state.mounted) return EBUSY;
  const loaded_disc ejected = state.disc;
  unload_disc(state);
  state.tray_open = true;
  state.tray = ejected;
  state.door_locked = false;
  ++state.ejects;
  schedule_next_disc(state, now);
  return 0;
}

void auto_close_tray(drive_state &state) {
  if (!state.tray_open || (state.options & CDO_AUTO_CLOSE) == 0) return;
  log_drive_line("TRAY closed");
  state.tray_open = false;
  // The disc is back before the person could take it: no swap follows.
  state.swap_pending = false;
  if (state.tray.kind == emulated_disc::disc_kind::empty) return;
  ++state.media;
  state.disc = state.tray;
  state.tray = loaded_disc{};
  reset_audio(state);
  start_stall_clock(state);
}

void reset_drive_emulator() {
  drive_lock lock;
  drive_state &state = lock.state();
  const std::uint64_t media = state.media;
  state = drive_state{};
  // Descriptors opened before the reset must not fit the new disc.
  state.media = media + 1;
  const auto &discs = machine_config().discs;
  if (discs.empty()) return;
  state.sequence = 0;
  load_disc(state, discs[0], 0);
  if (discs[0].kind == emulated_disc::disc_kind::empty) schedule_next_disc(state, lock.now());
}

drive_snapshot drive_view() {
  drive_lock lock;
  const drive_state &state = lock.state();
  drive_snapshot view;
  view.disc_present = state.disc.kind != emulated_disc::disc_kind::empty;
  view.kind = state.disc.kind;
  view.disc_index = view.disc_present ? state.disc.index : -1;
  view.playing = state.audio == audio_state::playing;
  view.paused = state.audio == audio_state::paused;
  view.play_start_frame = state.play_start;
  view.play_end_frame = state.play_end;
  view.ejects = state.ejects;
  view.tray_open = state.tray_open;
  view.mounted = state.mounted;
  view.tracks = state.disc.tracks;
  view.stalling = state.stalling;
  view.scratching = state.scratching;
  view.read_end_frame = state.read_end;
  view.selected_speed = state.selected_speed;
  const int head = head_position(state, lock.now());
  view.track = track_at(state.disc, head);
  if (view.track > 0) view.track_frame = std::max(head - state.disc.track_start[view.track - 1], 0);
  return view;
}

void drive_insert(const emulated_disc &disc) {
  drive_lock lock;
  lock.state().swap_pending = false;
  load_disc(lock.state(), disc, -1);
}

void drive_stall_next_read(int milliseconds) {
  drive_lock lock;
  lock.state().asked_stall_milliseconds = milliseconds;
}

void drive_end_stall() {
  drive_lock lock;
  lock.state().asked_stall_milliseconds = 0;
  if (!lock.state().stalling) return;
  lock.state().stall_cut = true;
  lock.notify_all();
}

void drive_remove() {
  drive_lock lock;
  lock.state().swap_pending = false;
  unload_disc(lock.state());
  lock.state().tray_open = false;
  lock.state().tray = loaded_disc{};
}

int drive_claim_mount(std::string &folder) {
  drive_lock lock;
  drive_state &state = lock.state();
  // Mounting opens the device as well.
  auto_close_tray(state);
  if (state.disc.kind == emulated_disc::disc_kind::empty) return ENOMEDIUM;
  if (state.disc.kind != emulated_disc::disc_kind::data) return EINVAL;
  if (state.mounted) return EBUSY;
  state.mounted = true;
  folder = state.disc.folder;
  return 0;
}

void drive_release_mount() {
  drive_lock lock;
  lock.state().mounted = false;
}

}  // namespace sim
