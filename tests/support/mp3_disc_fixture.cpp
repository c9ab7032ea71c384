// The MP3 disc fixture: generated discs mounted through the emulated drive.
#include "support/mp3_disc_fixture.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <sstream>

#include "lcd/lcd.h"
#include "platform/disc_mount.h"
#include "platform/platform.h"

void mp3_disc_fixture::SetUp() {
  machine_fixture::SetUp();
  NR_files = 0;
}

void mp3_disc_fixture::TearDown() {
  position_.root_fs = nullptr;
  root_node_ = {};
  machine_fixture::TearDown();
}

std::string mp3_disc_fixture::make_disc(const std::vector<std::string> &entries,
                                        const mkdisc::title_options &titles,
                                        const std::string &name) {
  mkdisc::layout_options layout;
  layout.entries = entries;
  return make_disc(layout, titles, name);
}

std::string mp3_disc_fixture::make_disc(const mkdisc::layout_options &layout,
                                        const mkdisc::title_options &titles,
                                        const std::string &name) {
  std::string error;
  const mkdisc::disc_plan plan = mkdisc::plan_disc(layout, titles.frames, error);
  const std::string disc = path(name);
  EXPECT_TRUE(error.empty() && mkdisc::write_disc(disc, plan, titles, 1, error)) << error;
  return disc;
}

void mp3_disc_fixture::mount(const std::string &disc) {
  load_discs({data_disc(disc)});  // a machine reset: the display starts off
  lcd_init(lcd_port);
  ASSERT_EQ(platform::mount_filesystem(platform::drive_device(), platform::cdrom_mount_point(),
                                       "iso9660", disc_mount_flags),
            0);
}

fs_entry &mp3_disc_fixture::scan() {
  root_node_.dir = open_entry(platform::cdrom_mount_point(), &root_node_.entrys, 1);
  root_node_.name = platform::cdrom_mount_point();
  position_.root_fs = &root_node_;
  return root_node_;
}

std::string mp3_disc_fixture::mount_point() const { return platform::cdrom_mount_point(); }

std::vector<std::string> mp3_disc_fixture::names(const fs_entry &folder) {
  std::vector<std::string> result;
  for (int i = 0; i < folder.entrys; ++i) result.push_back(folder.dir[i]->name);
  return result;
}

std::string mp3_disc_fixture::mpeg_bytes(unsigned char b2) {
  std::string bytes(417, '\0');
  bytes[0] = '\xFF';
  bytes[1] = '\xFB';
  bytes[2] = static_cast<char>(b2);
  return bytes;
}

std::vector<std::string> lines_starting(const std::string &output, const std::string &prefix) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

void lose_permission_override() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  syscall(SYS_capget, &header, data);
  data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
  syscall(SYS_capset, &header, data);
}
