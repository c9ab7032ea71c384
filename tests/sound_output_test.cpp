// discbox-sim --sound and the decoder wrapper, heard through ALSA devices a
// test sets up: one that records what the programs play into a file, at a
// sound card's pace (pcm-sink behind ALSA's file plugin), and one that does
// not work. The recording is told apart by its strongest pitch per stretch,
// the key note of each demo piece.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "demo_music.h"
#include "support/processes.h"
#include "support/sim_process.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int stretch_samples = demo_music::sample_rate / 10;
constexpr double silence_rms = 300;

// The key note (of the demo pieces' 36) that is strongest in each stretch of
// 16-bit samples; 0 for a silent stretch. `step` takes one channel.
std::vector<int> stretch_keys(const std::vector<std::int16_t> &samples, std::size_t step) {
  std::vector<int> keys;
  const std::size_t stretch = stretch_samples * step;
  for (std::size_t start = 0; start + stretch <= samples.size(); start += stretch) {
    double energy = 0;
    for (std::size_t i = start; i < start + stretch; i += step) energy += samples[i] * samples[i];
    if (std::sqrt(energy / stretch_samples) < silence_rms) {
      keys.push_back(0);
      continue;
    }
    int best = 0;
    double best_power = -1;
    for (unsigned int piece = 1; piece <= 36; ++piece) {
      // Goertzel's filter at the key note's frequency.
      const double coefficient =
          2 * std::cos(2 * std::numbers::pi * demo_music::key_hz(piece) / demo_music::sample_rate);
      double q1 = 0, q2 = 0;
      for (std::size_t i = start; i < start + stretch; i += step) {
        const double q0 = coefficient * q1 - q2 + samples[i];
        q2 = q1;
        q1 = q0;
      }
      const double power = q1 * q1 + q2 * q2 - coefficient * q1 * q2;
      if (power > best_power) best_power = power, best = static_cast<int>(piece);
    }
    keys.push_back(best);
  }
  return keys;
}

std::vector<std::int16_t> samples_in(const std::string &bytes) {
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                           static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
  }
  return samples;
}

std::string file_text(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// A title's own key, heard as Debian's mpg123 decodes the file by itself
// (mono, as the demo titles are): the key most of its stretches have.
int title_key(const std::string &path) {
  std::FILE *decoded = popen(("mpg123 -q -s '" + path + "'").c_str(), "r");
  std::string bytes;
  char buffer[65536];
  for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, decoded)) > 0;)
    bytes.append(buffer, count);
  pclose(decoded);
  const std::vector<int> keys = stretch_keys(samples_in(bytes), 1);
  int best = 0;
  for (int key : keys) {
    if (key != 0 &&
        std::count(keys.begin(), keys.end(), key) > std::count(keys.begin(), keys.end(), best))
      best = key;
  }
  return best;
}

std::vector<fs::path> sorted_entries(const fs::path &folder) {
  std::vector<fs::path> entries(fs::directory_iterator(folder), {});
  std::sort(entries.begin(), entries.end());
  return entries;
}

// Where `key` first comes, from `from` on; npos when it never does.
std::size_t find_key(const std::vector<int> &keys, int key, std::size_t from = 0) {
  const auto found = std::find(keys.begin() + std::min(from, keys.size()), keys.end(), key);
  return found == keys.end() ? std::string::npos : static_cast<std::size_t>(found - keys.begin());
}

class SoundOutput : public ::testing::Test {
 protected:
  void SetUp() override { open_to_started_programs(folder_.path()); }

  // An ALSA configuration whose default device is `device`.
  std::string alsa_configuration(const std::string &device) {
    const std::string path = folder_.file("asound.conf");
    std::ofstream(path) << "pcm.!default " << device << "\n";
    return path;
  }

  // The default device takes CD audio into pcm-sink, which keeps it in the
  // recording; the plug device turns whatever a program plays into that.
  // ALSA starts pcm-sink inside the decoder, which runs as another user when
  // the test runs as root: a copy in the open folder is one that user can
  // execute, wherever the build tree lies.
  std::string recording_configuration() {
    const std::string sink = folder_.file("pcm-sink");
    fs::copy_file(built_program("tools/pcm-sink/pcm-sink"), sink);
    return alsa_configuration(
        "{ type plug slave { pcm { type file slave.pcm { type null } file \"|exec " + sink +
        "\" format raw } format S16_LE rate 44100 channels 2 } }");
  }

  std::string recording() const { return folder_.file("recording.raw"); }

  // The keys of the recording's stretches once one of them, from stretch
  // `from` on, is `key` (any other than `key` when `other`), or a minute
  // has passed.
  std::vector<int> heard_until(int key, std::size_t from = 0, bool other = false) const {
    std::vector<int> keys;
    const auto heard = [&] {
      for (std::size_t i = from; i < keys.size(); ++i) {
        if (keys[i] != 0 && (keys[i] == key) != other) return true;
      }
      return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!heard() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(100ms);
      keys = stretch_keys(samples_in(file_text(recording())), 2);
    }
    return keys;
  }

  // True once the recording has not grown for half a second, false when it
  // still grows after ten.
  bool recording_stops() const {
    std::size_t size = file_text(recording()).size();
    auto since = std::chrono::steady_clock::now();
    const auto deadline = since + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
      if (const std::size_t now = file_text(recording()).size(); now != size) {
        size = now;
        since = std::chrono::steady_clock::now();
      } else if (std::chrono::steady_clock::now() - since >= 500ms) {
        return true;
      }
    }
    return false;
  }

  // The player's decoder runs as another user when the test runs as root.
  void make_recording() const {
    std::ofstream(recording()).flush();
    chmod(recording().c_str(), 0666);
  }

  temporary_folder folder_;
};

TEST_F(SoundOutput, DemoMp3DiscIsHeardWithEachTitlesOwnPitchAndNextAlbumTakesEffect) {
  const fs::path demo = built_program("demo/mp3disc");
  const fs::path artist = sorted_entries(demo).at(0);
  const std::vector<fs::path> albums = sorted_entries(artist);
  const std::vector<fs::path> first_album = sorted_entries(albums.at(0));
  const int first = title_key(first_album.at(0));
  const int second = title_key(first_album.at(1));
  // The reader never leaves an album by itself: this one comes only by W.
  const int next_album = title_key(sorted_entries(albums.at(1)).at(0));
  ASSERT_TRUE(first != 0 && second != 0 && next_album != 0);
  ASSERT_NE(first, second);
  make_recording();
  // pcm-sink plays eight times faster than a sound card, so that the
  // decoder's 2 MB buffer (twelve seconds) plays out in a second and a half.
  sim_process sim({"--sound", demo.string()},
                  {"ALSA_CONFIG_PATH=" + recording_configuration(),
                   "PCM_SINK_OUTPUT=" + recording(), "PCM_SINK_SPEED=8", "SOUND_DEVICE="});
  size_t at = sim.wait_for("now\n");
  ASSERT_NE(at, std::string::npos) << sim.output() << sim.errors();
  sim.type("mn");
  ASSERT_NE(sim.wait_for(" start\n", at), std::string::npos) << sim.output();
  // The player goes on to the album's second title by itself; the next
  // album is heard once what the decoder's buffer holds has played.
  heard_until(second);
  sim.type("w");
  ASSERT_NE(sim.wait_for(" next album\n", at), std::string::npos) << sim.output();
  const std::vector<int> keys = heard_until(next_album);
  std::string heard;
  for (int key : keys) heard += std::to_string(key) + " ";
  const std::size_t first_at =
      std::find_if(keys.begin(), keys.end(), [](int key) { return key != 0; }) - keys.begin();
  ASSERT_LT(first_at, keys.size()) << "the recording is silence";
  EXPECT_EQ(keys[first_at], first) << heard;
  const std::size_t second_at = find_key(keys, second, first_at);
  EXPECT_NE(second_at, std::string::npos) << heard;
  EXPECT_NE(find_key(keys, next_album, second_at), std::string::npos) << heard;
  EXPECT_EQ(sim.errors().find("no working sound output"), std::string::npos) << sim.errors();
}

// The drive plays the audio CD itself: what its analog output carries is
// heard while it plays, the next track's music after next, nothing while
// it is paused, and the track again on resume.
TEST_F(SoundOutput, DrivesAnalogOutputFollowsNextPauseAndResume) {
  make_recording();
  sim_process sim({"--sound", "audio:30,30"}, {"ALSA_CONFIG_PATH=" + recording_configuration(),
                                               "PCM_SINK_OUTPUT=" + recording(), "SOUND_DEVICE="});
  size_t at = sim.wait_for("init1\n");
  ASSERT_NE(at, std::string::npos) << sim.output() << sim.errors();
  std::vector<int> keys = heard_until(0, 0, true);
  const auto first_heard = std::find_if(keys.begin(), keys.end(), [](int key) { return key != 0; });
  ASSERT_NE(first_heard, keys.end()) << "the recording is silence";
  const int first_track = *first_heard;

  sim.type("e");
  at = sim.wait_for(" next\n", at);
  ASSERT_NE(at, std::string::npos) << sim.output();
  keys = heard_until(first_track, 0, true);
  const auto next_heard = std::find_if(keys.begin(), keys.end(),
                                       [&](int key) { return key != 0 && key != first_track; });
  ASSERT_NE(next_heard, keys.end()) << "the next track is not heard";
  const int second_track = *next_heard;

  sim.type("b");
  EXPECT_TRUE(recording_stops()) << "the drive is paused, yet the output goes on";
  const std::size_t paused_at = stretch_keys(samples_in(file_text(recording())), 2).size();
  sim.type("b");
  keys = heard_until(second_track, paused_at);
  EXPECT_NE(find_key(keys, second_track, paused_at), std::string::npos)
      << "the track is not heard again on resume";
}

TEST_F(SoundOutput, WithoutAWorkingOutputOneLineSaysSoAndNothingSpins) {
  const std::string configuration = alsa_configuration("{ type hw card 99 }");
  const fs::path demo = built_program("demo/mp3disc");
  {
    sim_process sim({"--sound", demo.string()},
                    {"ALSA_CONFIG_PATH=" + configuration, "SOUND_DEVICE="});
    size_t at = sim.wait_for("now\n");
    ASSERT_NE(at, std::string::npos) << sim.output() << sim.errors();
    sim.type("mn");
    ASSERT_NE(sim.wait_for(" start\n", at), std::string::npos) << sim.output();
    const std::string errors = sim.errors();
    const std::string line = "discbox-sim: no working sound output (";
    EXPECT_NE(errors.find(line), std::string::npos) << errors;
    EXPECT_EQ(errors.find(line), errors.rfind(line)) << errors;
    EXPECT_EQ(sim.count("died unexpected"), 0u) << sim.output();
  }

  // The decoder wrapper alone, as the box starts it, on that output: mpg123
  // must end by itself rather than fall through to a module that spins.
  const fs::path title = sorted_entries(sorted_entries(sorted_entries(demo).at(0)).at(0)).at(0);
  const pid_t decoder = fork();
  if (decoder == 0) {
    const std::string variable = "ALSA_CONFIG_PATH=" + configuration;
    const std::string program = built_program("tools/decoder/mpg123");
    std::FILE *input = std::fopen(title.c_str(), "rb");
    if (input == nullptr) _exit(126);
    dup2(fileno(input), STDIN_FILENO);
    putenv(const_cast<char *>(variable.c_str()));
    execl(program.c_str(), program.c_str(), "-", "-b", "2048", static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(decoder, 0);
  int status = 0;
  rusage used{};
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  pid_t ended = 0;
  while ((ended = wait4(decoder, &status, WNOHANG, &used)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  if (ended == 0) {
    kill(decoder, SIGKILL);
    wait4(decoder, &status, 0, &used);
  }
  EXPECT_EQ(ended, decoder) << "the decoder did not end without a sound output";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  EXPECT_NE(WEXITSTATUS(status), 127) << "the wrapper did not start mpg123";
  const double cpu_seconds =
      static_cast<double>(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
      static_cast<double>(used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
  EXPECT_LT(cpu_seconds, 1.0);
}

}  // namespace
