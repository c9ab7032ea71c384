// Digital CD playback on a drive that stalls: for stalls of 0.5, 1, 2 and 4
// seconds every 10 seconds (and none, the reference measured in the same
// run), 60 seconds of playing with pcm-sink as a real-time sound card
// (150 ms buffer, as the player asks), then keys:
//
// - underruns: how often and how long the card ran dry while nothing but
//   the drive stalled; every stall not covered is heard as silence;
// - key-to-silence: from pause or next until the old audio has stopped
//   sounding (pcm-sink's times say when each byte played), and until the
//   new track sounds, also for a next typed while the drive stalls;
// - resume-to-sound: from resume until the card plays again.
//
// Each figure is also given as a ratio: silence against the stall time, and
// the slowest key against the 300 ms a key may take.
//
// Then scratches of 0.5, 2 and 5 seconds, 15 s into the first track, whose
// every read takes the drive 0.2, 1 or 3 s to fail: the silence heard
// beyond the scratch's own length (sectors lost after it and the card
// running dry), the time from the scratch's first sector sounding to the
// music after it (the scratch's length when nothing more is lost), and
// pause and next pressed while a read over the scratch is failing.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/cd.h"
#include "emu/drive.h"
#include "emu/machine.h"
#include "playback_support.h"

namespace {

using namespace std::chrono_literals;

constexpr auto play_time = 60s;
constexpr int stall_every_seconds = 10;
constexpr int presses = 3;
constexpr double bound_ms = 300;

struct played_line {
  std::int64_t time;
  std::uint64_t received, played;
};

struct underrun_line {
  std::int64_t start, length;
};

struct folder_files {
  std::string times, kept, underruns;
};

std::vector<played_line> played_log(const std::string &times) {
  std::vector<played_line> log;
  std::istringstream in(bench::slurp(times));
  for (played_line l; in >> l.time >> l.received >> l.played;) log.push_back(l);
  return log;
}

std::vector<underrun_line> underrun_log(const std::string &path) {
  std::vector<underrun_line> log;
  std::istringstream in(bench::slurp(path));
  for (std::string word; in >> word;) {
    underrun_line u{};
    std::uint64_t offset = 0;
    if (word == "underrun" && in >> u.start >> u.length >> offset) log.push_back(u);
  }
  return log;
}

// When the byte at `offset` had been played (0: not yet).
std::int64_t played_at(const std::vector<played_line> &log, std::uint64_t offset) {
  for (const played_line &l : log) {
    if (l.played >= offset) return l.time;
  }
  return 0;
}

// When the card ran dry first after `from` (0: it did not).
std::int64_t dry_after(const std::vector<underrun_line> &log, std::int64_t from) {
  for (const underrun_line &u : log) {
    if (u.start >= from) return u.start;
  }
  return 0;
}

double ms(std::int64_t nanoseconds) { return nanoseconds / 1e6; }

// The slowest of `values`; -1 when none was measured.
double worst(const std::vector<double> &values) {
  return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
}

struct next_result {
  double silence = -1;    // ms until the old track stopped sounding
  double new_sound = -1;  // ms until the new track sounded
};

// Next, and when the old audio stopped and the new track's first sector
// played.
next_result press_next(cd &drive, const folder_files &files) {
  // As the audio mode's key does: ask where the stream is, then step on.
  const std::int64_t pressed = bench::now_nanoseconds();
  drive.read_position();
  const int target = drive.current() + 1;
  drive.next();
  // The new track comes once the drive delivers again.
  std::this_thread::sleep_for(500ms);
  while (sim::drive_view().stalling || sim::drive_view().scratching) {
    std::this_thread::sleep_for(5ms);
  }
  std::this_thread::sleep_for(1500ms);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "T%02dS000000", target);
  const std::string stream = bench::slurp(files.kept);
  const std::size_t at = stream.rfind(stamp);
  next_result result;
  if (at == std::string::npos) return result;
  const std::int64_t sounded = played_at(played_log(files.times), at);
  if (sounded == 0) return result;
  std::int64_t silent = sounded;
  const std::int64_t dry = dry_after(underrun_log(files.underruns), pressed);
  if (dry != 0 && dry < silent) silent = dry;
  result.silence = ms(silent - pressed);
  result.new_sound = ms(sounded - pressed);
  return result;
}

struct row {
  double stall_seconds = 0;
  std::size_t kept_bytes = 0;  // what pcm-sink took while playing; none: nothing measured
  int underruns = 0;
  double silent_ms = 0;
  std::vector<double> pause_ms, resume_ms, next_ms, next_new_ms;
  next_result in_stall;
};

row measure(double stall_seconds, const folder_files &files) {
  row r;
  r.stall_seconds = stall_seconds;
  for (const std::string &file : {files.times, files.kept, files.underruns}) {
    std::filesystem::remove(file);
  }
  sim::machine_configuration &config = sim::machine_config();
  config.stall_milliseconds = static_cast<int>(stall_seconds * 1000);
  config.stall_every_seconds = stall_seconds > 0 ? stall_every_seconds : 0;
  sim::reset_machine();
  cd drive;
  drive.random(0);
  const std::int64_t started = bench::now_nanoseconds();
  drive.play(1, drive.tracks());
  std::this_thread::sleep_for(play_time);
  std::error_code missing;
  r.kept_bytes = std::filesystem::file_size(files.kept, missing);
  if (missing) r.kept_bytes = 0;
  for (const underrun_line &u : underrun_log(files.underruns)) {
    if (u.start < started) continue;
    ++r.underruns;
    r.silent_ms += ms(u.length);
  }

  // The card runs dry after pause; the underrun is logged once resume has
  // ended it.
  for (int i = 0; i < presses; ++i) {
    const std::int64_t pressed = bench::now_nanoseconds();
    drive.pause();
    std::this_thread::sleep_for(1000ms);
    const std::int64_t resumed = bench::now_nanoseconds();
    drive.resume();
    std::this_thread::sleep_for(1000ms);
    for (const underrun_line &u : underrun_log(files.underruns)) {
      if (u.start < pressed || u.start > resumed) continue;
      r.pause_ms.push_back(ms(u.start - pressed));
      r.resume_ms.push_back(ms(u.start + u.length - resumed));
      break;
    }
  }
  for (int i = 0; i < presses; ++i) {
    const next_result next = press_next(drive, files);
    if (next.silence >= 0) r.next_ms.push_back(next.silence);
    if (next.new_sound >= 0) r.next_new_ms.push_back(next.new_sound);
  }
  if (stall_seconds > 0) {
    const std::int64_t limit = bench::now_nanoseconds() + 2LL * stall_every_seconds * 1000000000;
    while (!sim::drive_view().stalling && bench::now_nanoseconds() < limit) {
      std::this_thread::sleep_for(5ms);
    }
    if (sim::drive_view().stalling) r.in_stall = press_next(drive, files);
  }
  return r;
}

constexpr int scratch_at_seconds = 15;
constexpr auto scratch_patience = 60s;  // a run that takes longer is cut off

struct scratch_row {
  double seconds = 0, failing_seconds = 0;
  double beyond_ms = -1;  // silence heard beyond the scratch's length
  double after_ms = -1;   // from the scratch sounding to the music after it
  double pause_ms = -1, next_ms = -1, next_new_ms = -1;
};

// The first sector from `from` on in the kept stream of the first track
// that holds music (a stamp, not silence); -1: none yet.
long first_music_from(const std::string &stream, long from) {
  constexpr long sector = 2352;
  for (long at = from; (at + 1) * sector <= static_cast<long>(stream.size()); ++at) {
    if (stream.compare(static_cast<std::size_t>(at * sector), 4, "T01S") == 0) return at;
  }
  return -1;
}

void wait_for_scratching(std::chrono::seconds patience) {
  const std::int64_t limit = bench::now_nanoseconds() + patience.count() * 1000000000LL;
  while (!sim::drive_view().scratching && bench::now_nanoseconds() < limit) {
    std::this_thread::sleep_for(2ms);
  }
}

scratch_row measure_scratch(double seconds, double failing_seconds, const folder_files &files) {
  scratch_row r{seconds, failing_seconds};
  const long first = scratch_at_seconds * 75;
  const long end = first + std::lround(seconds * 75);
  sim::machine_configuration &config = sim::machine_config();
  config.stall_milliseconds = 0;
  config.stall_every_seconds = 0;
  config.scratches = {{1, static_cast<double>(scratch_at_seconds), scratch_at_seconds + seconds,
                       static_cast<int>(failing_seconds * 1000)}};
  for (int pass = 0; pass < 2; ++pass) {
    for (const std::string &file : {files.times, files.kept, files.underruns}) {
      std::filesystem::remove(file);
    }
    sim::reset_machine();
    cd drive;
    drive.random(0);
    drive.play(1, drive.tracks());
    if (pass == 0) {
      // The music after the scratch, once it sounded.
      const std::int64_t limit =
          bench::now_nanoseconds() +
          (scratch_at_seconds * 1s + scratch_patience).count() * 1000000000LL;
      long music = -1;
      std::int64_t sounded = 0;
      while (bench::now_nanoseconds() < limit) {
        std::this_thread::sleep_for(200ms);
        music = first_music_from(bench::slurp(files.kept), end);
        if (music < 0) continue;
        sounded = played_at(played_log(files.times), static_cast<std::uint64_t>(music) * 2352 + 1);
        if (sounded != 0) break;
      }
      const std::int64_t began = played_at(played_log(files.times), first * 2352 + 1);
      if (sounded != 0 && began != 0) {
        r.after_ms = ms(sounded - began);
        r.beyond_ms = r.after_ms - seconds * 1000;
      }
      continue;
    }
    // Keys while a read over the scratch fails.
    wait_for_scratching(scratch_at_seconds * 1s);
    if (!sim::drive_view().scratching) break;
    const std::int64_t pressed = bench::now_nanoseconds();
    drive.pause();
    std::this_thread::sleep_for(1000ms);
    // The sink logs the underrun once resume has ended it.
    drive.resume();
    std::this_thread::sleep_for(300ms);
    const std::int64_t dry = dry_after(underrun_log(files.underruns), pressed);
    if (dry != 0) r.pause_ms = ms(dry - pressed);
    wait_for_scratching(5s);
    if (!sim::drive_view().scratching) break;
    const next_result next = press_next(drive, files);
    r.next_ms = next.silence;
    r.next_new_ms = next.new_sound;
  }
  config.scratches.clear();
  return r;
}

}  // namespace

// --scratches: the scratch rows alone.
int main(int argc, char **argv) {
  const bool scratches_only = argc > 1 && std::string(argv[1]) == "--scratches";
  const std::string folder = bench::folder_for_started_programs("discbox-digital-bench");
  if (folder.empty()) return 1;
  const folder_files files{folder + "/times", folder + "/kept.pcm", folder + "/underruns"};
  setenv("PCM_SINK_TIMES", files.times.c_str(), 1);
  setenv("PCM_SINK_OUTPUT", files.kept.c_str(), 1);
  setenv("PCM_SINK_UNDERRUNS", files.underruns.c_str(), 1);
  sim::machine_configuration &config = sim::machine_config();
  config.no_analog_audio = true;
  config.pcm_player = std::string(DISCBOX_BINARY_DIR) + "/tools/pcm-sink/pcm-sink";
  config.cdrom_mount_point = folder + "/cdrom";
  config.floppy_mount_point = folder + "/floppy";
  config.discs = {
      sim::emulated_disc{sim::emulated_disc::disc_kind::audio, std::vector<int>(20, 30), {}}};

  std::vector<row> rows;
  for (double stall : {0.0, 0.5, 1.0, 2.0, 4.0}) {
    if (scratches_only) break;
    rows.push_back(measure(stall, files));
    // No underrun is no proof when the card heard nothing at all.
    if (rows.back().kept_bytes == 0) {
      std::fprintf(stderr, "pcm-sink kept no audio in %s: nothing was measured\n", folder.c_str());
      std::filesystem::remove_all(folder);
      return 1;
    }
  }

  std::printf(
      "digital playback, %lld s with a stall every %d s, then %d presses each; sink at "
      "real-time pace\n",
      static_cast<long long>(play_time.count()), stall_every_seconds, presses);
  std::printf(
      "stall  underruns  silent ms  (/stall time)  pause  resume  next  next->new  "
      "next in stall->silent/new  (slowest key / %.0f ms)\n",
      bound_ms);
  for (const row &r : rows) {
    const double stalled_ms = r.stall_seconds * 1000 * (play_time.count() / stall_every_seconds);
    const double slowest = std::max({worst(r.pause_ms), worst(r.next_ms), r.in_stall.silence});
    std::printf(
        "%4.1fs  %9d  %9.0f  (%11.2f)  %5.0f  %6.0f  %4.0f  %9.0f  %12.0f / %5.0f  (%.2f)\n",
        r.stall_seconds, r.underruns, r.silent_ms, stalled_ms > 0 ? r.silent_ms / stalled_ms : 0,
        worst(r.pause_ms), worst(r.resume_ms), worst(r.next_ms), worst(r.next_new_ms),
        r.in_stall.silence, r.in_stall.new_sound, slowest / bound_ms);
  }
  std::printf("(key columns: the slowest of the presses, in ms; -1: not measured)\n");

  std::printf(
      "\nscratches %d s into the first track, each read over one failing after the time "
      "given\n",
      scratch_at_seconds);
  std::printf(
      "scratch  failing read  silence beyond ms  to music after ms  pause  next  next->new\n");
  for (double seconds : {0.5, 2.0, 5.0}) {
    for (double failing : {0.2, 1.0, 3.0}) {
      const scratch_row r = measure_scratch(seconds, failing, files);
      std::printf("%6.1fs  %11.1fs  %17.0f  %17.0f  %5.0f  %4.0f  %9.0f\n", r.seconds,
                  r.failing_seconds, r.beyond_ms, r.after_ms, r.pause_ms, r.next_ms, r.next_new_ms);
      std::fflush(stdout);
    }
  }
  std::printf("(-1: not measured; the music after a scratch waited for at most %lld s)\n",
              static_cast<long long>(scratch_patience.count()));
  std::filesystem::remove_all(folder);
  return 0;
}
