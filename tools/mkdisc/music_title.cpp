// The samples go to lame through a file and the frames come back through
// another, both in a private temporary folder: lame then reads and writes
// plain files, and nothing here waits on a pipe that a failed lame keeps.
#include "mkdisc/music_title.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "demo_music.h"

extern char **environ;

namespace mkdisc {

namespace {

namespace fs = std::filesystem;

constexpr unsigned int samples_per_frame = 1152;  // MPEG-1 Layer III
constexpr double level = 20000;
// Ten milliseconds in and out, so that a title starts and ends without a click.
constexpr double fade_samples = demo_music::sample_rate / 100.0;

std::vector<std::uint8_t> pcm_of(unsigned int piece, unsigned int frames) {
  const std::int64_t count = static_cast<std::int64_t>(frames) * samples_per_frame;
  std::vector<std::uint8_t> pcm;
  pcm.reserve(static_cast<std::size_t>(count) * 2);
  for (std::int64_t n = 0; n < count; ++n) {
    const double fade = std::min({1.0, static_cast<double>(n) / fade_samples,
                                  static_cast<double>(count - n) / fade_samples});
    const auto value =
        static_cast<std::int16_t>(std::lround(level * fade * demo_music::sample(piece, n)));
    pcm.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) & 0xFF));
    pcm.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(value) >> 8));
  }
  return pcm;
}

bool run_lame(const std::string &in, const std::string &out, unsigned int bitrate,
              std::string &error) {
  const std::string rate = std::to_string(bitrate);
  // Raw mono 16-bit samples at 44.1 kHz in; constant bitrate, 44.1 kHz out
  // whatever the bitrate, and no Xing/LAME tag frame.
  const char *argv[] = {"lame",      "--quiet",    "-r",
                        "-s",        "44.1",       "--bitwidth",
                        "16",        "--signed",   "--little-endian",
                        "-m",        "m",          "--cbr",
                        "-b",        rate.c_str(), "--resample",
                        "44.1",      "-t",         in.c_str(),
                        out.c_str(), nullptr};
  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, "lame", nullptr, nullptr, const_cast<char *const *>(argv), environ);
  if (spawned != 0) {
    error = std::string("cannot run lame (scripts/install-deps.sh installs it): ") +
            std::strerror(spawned);
    return false;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      error = std::string("lame: ") + std::strerror(errno);
      return false;
    }
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "lame failed on " + in;
    return false;
  }
  return true;
}

}  // namespace

bool music_title_bytes(const title_options &options, const title_names &names, unsigned int piece,
                       std::vector<std::uint8_t> &bytes, std::string &error) {
  char folder_template[] = "/tmp/mkdisc-music-XXXXXX";
  if (mkdtemp(folder_template) == nullptr) {
    error = std::string("temporary folder: ") + std::strerror(errno);
    return false;
  }
  const fs::path folder(folder_template);
  const std::string in = folder / "title.raw", out = folder / "title.mp3";
  bool done = false;
  {
    const std::vector<std::uint8_t> pcm = pcm_of(piece, options.frames);
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char *>(pcm.data()),
               static_cast<std::streamsize>(pcm.size()));
  }
  if (run_lame(in, out, options.bitrate, error)) {
    std::ifstream encoded(out, std::ios::binary);
    const std::vector<std::uint8_t> frames{std::istreambuf_iterator<char>(encoded), {}};
    bytes = tagged_title(frames, options, names);
    done = !frames.empty();
    if (!done) error = "lame wrote nothing for " + in;
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return done;
}

}  // namespace mkdisc
