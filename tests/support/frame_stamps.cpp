#include "support/frame_stamps.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "mkdisc/disc_plan.h"
#include "mp3/mpeg_header.h"

namespace {

constexpr char stamp_mark = 'S';
constexpr std::size_t stamp_bytes = 4;  // mark, title, index high, index low

std::size_t frame_at(const std::string &bytes, std::size_t offset) {
  if (offset + 4 > bytes.size()) return 0;
  const auto *header = reinterpret_cast<const std::uint8_t *>(bytes.data() + offset);
  const unsigned int length = mpeg_header_size(header);
  if (!mpeg_frame_length_usable(length) || length < stamp_bytes + 4) return 0;
  return offset + length <= bytes.size() ? length : 0;
}

}  // namespace

std::string file_contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

int stamp_title(const std::string &path, int title) {
  std::string bytes = file_contents(path);
  std::size_t offset = 0;
  if (bytes.size() >= id3v2_header_length) {
    offset = id3v2_tag_length(reinterpret_cast<const std::uint8_t *>(bytes.data()));
  }
  int index = 0;
  while (offset < bytes.size() && bytes.compare(offset, 3, "TAG") != 0) {
    const std::size_t length = frame_at(bytes, offset);
    if (length == 0) {  // junk between frames, or a frame cut short
      ++offset;
      continue;
    }
    char *stamp = bytes.data() + offset + length - stamp_bytes;
    stamp[0] = stamp_mark;
    stamp[1] = static_cast<char>(title);
    stamp[2] = static_cast<char>(index >> 8);
    stamp[3] = static_cast<char>(index & 0xFF);
    offset += length;
    ++index;
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  return index;
}

std::vector<frame_id> received_frames(const std::string &stream) {
  std::vector<frame_id> frames;
  std::size_t offset = 0;
  for (std::size_t length; (length = frame_at(stream, offset)) != 0; offset += length) {
    const auto *stamp =
        reinterpret_cast<const std::uint8_t *>(stream.data() + offset + length - stamp_bytes);
    if (stamp[0] != stamp_mark) {
      frames.push_back({0, 0});
    } else {
      frames.push_back({stamp[1], stamp[2] << 8 | stamp[3]});
    }
  }
  // A stream taken while frames still flow may end inside a frame.
  const bool partial_frame =
      offset + 4 <= stream.size()
          ? mpeg_frame_length_usable(
                mpeg_header_size(reinterpret_cast<const std::uint8_t *>(stream.data() + offset)))
          : stream.size() - offset < 4 && stream[offset] == '\xFF';
  if (offset != stream.size() && !partial_frame) frames.push_back({-1, 0});
  return frames;
}

std::vector<frame_id> frame_run(int title, int first, int last) {
  std::vector<frame_id> run;
  for (int index = first; index <= last; ++index) run.push_back({title, index});
  return run;
}

void write_stamped_disc(const std::string &folder, const std::vector<std::string> &entries,
                        const mkdisc::title_options &titles) {
  mkdisc::layout_options layout;
  layout.entries = entries;
  std::string error;
  const mkdisc::disc_plan plan = mkdisc::plan_disc(layout, titles.frames, error);
  ASSERT_TRUE(error.empty() && mkdisc::write_disc(folder, plan, titles, 1, error)) << error;
  int title = 0;
  for (const std::string &entry : entries) {
    if (entry.find(':') == std::string::npos && entry.back() != '/') {
      stamp_title(folder + "/" + entry, ++title);
    }
  }
}
