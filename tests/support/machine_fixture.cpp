// The machine fixture: one fresh emulated machine and temporary folder a test.
#include "support/machine_fixture.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/processes.h"

void machine_fixture::SetUp() {
  const char *temp = std::getenv("TMPDIR");
  std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/discbox-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  folder_ = pattern;
  open_to_started_programs(folder_);
  sim::machine_configuration &config = sim::machine_config();
  config = sim::machine_configuration{};
  config.cdrom_mount_point = path("cdrom");
  config.floppy_mount_point = path("floppy");
  config.drive_log = path("drive.log");
  sim::reset_machine();
}

void machine_fixture::TearDown() {
  sim::machine_config() = sim::machine_configuration{};
  sim::reset_machine();  // takes down mounts while their folder still exists
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void machine_fixture::load_discs(std::vector<sim::emulated_disc> discs) {
  sim::machine_config().discs = std::move(discs);
  sim::reset_machine();
}

void machine_fixture::advance_seconds(double seconds) {
  sim::advance_clock(std::llround(seconds * 1e9));
}

std::string machine_fixture::write_file(const std::string &name, const std::string &contents) {
  const std::string file = path(name);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::ofstream(file, std::ios::binary) << contents;
  return file;
}

std::vector<std::string> machine_fixture::drive_log() const {
  std::vector<std::string> lines;
  std::ifstream log(sim::machine_config().drive_log);
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

int machine_fixture::open_descriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

sim::emulated_disc machine_fixture::audio_disc(std::vector<int> track_seconds) {
  sim::emulated_disc disc;
  disc.kind = sim::emulated_disc::disc_kind::audio;
  disc.track_seconds = std::move(track_seconds);
  return disc;
}

sim::emulated_disc machine_fixture::data_disc(const std::string &folder) {
  sim::emulated_disc disc;
  disc.kind = sim::emulated_disc::disc_kind::data;
  disc.folder = folder;
  return disc;
}

sim::emulated_disc machine_fixture::blank_disc() {
  sim::emulated_disc disc;
  disc.kind = sim::emulated_disc::disc_kind::blank;
  return disc;
}

sim::emulated_disc machine_fixture::no_disc() { return sim::emulated_disc{}; }
