#include "sector_runs.h"

#include <cctype>
#include <cstddef>

namespace {

constexpr std::size_t sector_bytes = 2352;
constexpr std::size_t stamp_bytes = 10;

bool digits(std::string_view text) {
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool stamp_at(std::string_view stream, std::size_t offset) {
  if (offset + stamp_bytes > stream.size()) return false;
  const std::string_view stamp = stream.substr(offset, stamp_bytes);
  return stamp[0] == 'T' && stamp[3] == 'S' && digits(stamp.substr(1, 2)) &&
         digits(stamp.substr(4, 6));
}

// How far past `offset` the next stamp within a sector's length begins;
// sector_bytes when there is none.
std::size_t next_stamp(std::string_view stream, std::size_t offset) {
  for (std::size_t at = stream.find('T', offset + 1);
       at != std::string_view::npos && at < offset + sector_bytes; at = stream.find('T', at + 1)) {
    if (stamp_at(stream, at)) return at - offset;
  }
  return sector_bytes;
}

bool silent(std::string_view sector) { return sector.find_first_not_of('\0') == sector.npos; }

struct run {
  enum class kind { none, track, silence, unstamped } what = kind::none;
  int track = 0;
  int first = 0;
  int last = 0;
  int count = 0;
};

void flush(run &current, std::vector<std::string> &lines) {
  switch (current.what) {
    case run::kind::track:
      lines.push_back(std::to_string(current.track) + ":" + std::to_string(current.first) + "-" +
                      std::to_string(current.last));
      break;
    case run::kind::silence:
      lines.push_back("silence " + std::to_string(current.count));
      break;
    case run::kind::unstamped:
      lines.push_back("unstamped " + std::to_string(current.count));
      break;
    case run::kind::none:
      break;
  }
  current = run{};
}

}  // namespace

std::vector<std::string> sector_runs(std::string_view stream) {
  std::vector<std::string> lines;
  run current;
  std::size_t offset = 0;
  int sectors = 0;
  while (offset + sector_bytes <= stream.size()) {
    const std::string_view sector = stream.substr(offset, sector_bytes);
    // A stamp inside the sector means the one here was cut short.
    const std::size_t cut = stamp_at(stream, offset) ? next_stamp(stream, offset) : sector_bytes;
    if (cut < sector_bytes) {
      flush(current, lines);
      lines.push_back("junk " + std::to_string(cut));
      offset += cut;
      continue;
    }
    run next;
    if (stamp_at(stream, offset)) {
      next.what = run::kind::track;
      next.track = std::stoi(std::string(sector.substr(1, 2)));
      next.first = next.last = std::stoi(std::string(sector.substr(4, 6)));
    } else if (silent(sector)) {
      next.what = run::kind::silence;
    } else {
      const std::size_t skip = next_stamp(stream, offset);
      if (skip < sector_bytes) {
        flush(current, lines);
        lines.push_back("junk " + std::to_string(skip));
        offset += skip;
        continue;
      }
      next.what = run::kind::unstamped;
    }
    const bool continues = current.what == next.what &&
                           (next.what != run::kind::track ||
                            (next.track == current.track && next.first == current.last + 1));
    if (continues) {
      current.last = next.last;
      ++current.count;
    } else {
      flush(current, lines);
      current = next;
      current.count = 1;
    }
    ++sectors;
    offset += sector_bytes;
  }
  flush(current, lines);
  if (offset < stream.size()) lines.push_back("partial " + std::to_string(stream.size() - offset));
  lines.push_back("sectors " + std::to_string(sectors));
  return lines;
}
