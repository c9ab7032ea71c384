// How much the library scan costs over the least work its contract allows.
//
// A generated disc of 20,000 titles in 2,000 albums is scanned by the real
// scan and by a minimal reference walker compiled here (readdir, stat, open,
// read 4 bytes, close), alternately, on the same tree with a warm cache. The
// ratio of the medians is the figure; the goal is at most 1.3. The memory
// the scanned tree keeps is reported too.
//
// Usage: scan_bench [rounds]   (the disc goes to $TMPDIR or /tmp)
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "emu/machine.h"
#include "lcd/lcd.h"
#include "mkdisc/disc_plan.h"
#include "mp3/library.h"

namespace {

constexpr unsigned int artists = 200, albums_per_artist = 10, titles_per_album = 10;

// The reference: every entry stat'ed, every regular file opened and its
// first four bytes read. Returns the files whose first byte is 0xFF.
unsigned int reference_walk(std::string &path) {
  DIR *folder = opendir(path.c_str());
  if (folder == nullptr) return 0;
  unsigned int found = 0;
  const std::size_t length = path.size();
  while (const dirent *entry = readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    path.append("/").append(entry->d_name);
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
      if (S_ISDIR(status.st_mode)) {
        found += reference_walk(path);
      } else if (S_ISREG(status.st_mode)) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        unsigned char header[4] = {};
        if (fd >= 0) {
          if (read(fd, header, sizeof header) == 4 && header[0] == 0xFF) ++found;
          close(fd);
        }
      }
    }
    path.resize(length);
  }
  closedir(folder);
  return found;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string make_disc() {
  const char *temp = std::getenv("TMPDIR");
  std::string folder = std::string(temp && *temp ? temp : "/tmp") + "/scan-bench-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return {};
  mkdisc::layout_options layout;
  layout.artists = artists;
  layout.albums = {albums_per_artist};
  layout.titles = titles_per_album;
  layout.human_names = false;
  mkdisc::title_options titles;
  titles.frames = 2;
  std::string error;
  const mkdisc::disc_plan plan = mkdisc::plan_disc(layout, titles.frames, error);
  if (!mkdisc::write_disc(folder + "/disc", plan, titles, 1, error)) {
    std::fprintf(stderr, "scan_bench: %s\n", error.c_str());
    return {};
  }
  return folder;
}

// Runs `work` with the console going to /dev/null, as the scan's lines
// would otherwise dominate a terminal.
template <class Work>
double timed_quietly(Work work) {
  std::fflush(stdout);
  const int console = dup(1);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null, 1);
  const auto start = std::chrono::steady_clock::now();
  work();
  std::fflush(stdout);
  const double seconds = seconds_since(start);
  dup2(console, 1);
  close(console);
  close(null);
  return seconds;
}

}  // namespace

int main(int argc, char **argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  const std::string folder = make_disc();
  if (folder.empty()) return 1;
  const std::string disc = folder + "/disc";
  sim::machine_config().cdrom_mount_point = disc;
  sim::reset_machine();
  lcd_init(lcd_port);

  std::vector<double> scan_times, reference_times;
  std::size_t tree_bytes = 0;
  unsigned int titles = 0, reference_titles = 0;
  // Round -1 warms the cache; the order alternates so that neither walker
  // always finds the other's traces.
  for (int round = -1; round < rounds; ++round) {
    std::string path = disc;
    auto run_reference = [&] {
      return timed_quietly([&] { reference_titles = reference_walk(path); });
    };
    const double reference_first = round % 2 == 0 ? run_reference() : 0;
    NR_files = 0;
    int count = 0;
    fs_entry_children tree;
    const std::size_t before = mallinfo2().uordblks;
    const double scan = timed_quietly([&] { tree = open_entry(disc.c_str(), &count, 1); });
    tree_bytes = mallinfo2().uordblks - before;
    titles = NR_files;
    tree.reset();
    const double reference = round % 2 == 0 ? reference_first : run_reference();
    if (round < 0) continue;
    reference_times.push_back(reference);
    scan_times.push_back(scan);
  }

  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const double ratio = median(scan_times) / median(reference_times);
  std::printf("disc: %u titles in %u albums (reference walker found %u)\n", titles,
              artists * albums_per_artist, reference_titles);
  std::printf("scan %.1f ms, reference %.1f ms (medians of %d rounds)\n", median(scan_times) * 1e3,
              median(reference_times) * 1e3, rounds);
  std::printf("ratio scan / reference: %.2f (goal: at most 1.3)\n", ratio);
  std::printf("scanned tree: %zu bytes, %.1f bytes a title; peak resident set %ld KiB\n",
              tree_bytes, static_cast<double>(tree_bytes) / titles, usage.ru_maxrss);

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return titles == reference_titles ? 0 : 1;
}
