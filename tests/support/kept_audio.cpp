#include "support/kept_audio.h"

#include <fstream>
#include <iterator>
#include <thread>

#include "sector_runs.h"
#include "support/eventually.h"

sector_lines kept_sectors(const std::string &stream_file) {
  std::ifstream in(stream_file, std::ios::binary);
  const std::string stream{std::istreambuf_iterator<char>(in), {}};
  return sector_runs(stream);
}

sector_lines kept_runs(const std::string &stream_file) {
  sector_lines lines = kept_sectors(stream_file);
  lines.pop_back();
  // The sink may be writing a sector while the file is read: its start is
  // not yet a run.
  if (!lines.empty() && lines.back().starts_with("partial ")) lines.pop_back();
  return lines;
}

sector_lines wait_for_runs(const std::string &stream_file,
                           const std::function<bool(const sector_lines &)> &done,
                           std::chrono::milliseconds timeout) {
  sector_lines runs;
  eventually(
      [&] {
        runs = kept_runs(stream_file);
        return done(runs);
      },
      timeout);
  return runs;
}

bool reached(const sector_lines &runs, int track, int sector) {
  const std::string prefix = std::to_string(track) + ":";
  for (const std::string &run : runs) {
    if (run.rfind(prefix, 0) != 0) continue;
    const auto dash = run.find('-');
    if (dash != std::string::npos && std::stoi(run.substr(dash + 1)) >= sector) return true;
  }
  return false;
}
