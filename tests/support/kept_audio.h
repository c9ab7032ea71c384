// What the PCM player stand-in (pcm-sink) kept of digital CD playback, read
// as runs of disc sectors (see tools/pcm-sectors): "1:0-149", "silence 1",
// ..., "sectors N" last.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using sector_lines = std::vector<std::string>;

sector_lines kept_sectors(const std::string &stream_file);
// The runs without the closing "sectors N" line, nor a sector that the
// stream, still being written, ends inside.
sector_lines kept_runs(const std::string &stream_file);

// Waits until the kept runs satisfy `done`; returns the runs seen last.
sector_lines wait_for_runs(const std::string &stream_file,
                           const std::function<bool(const sector_lines &)> &done,
                           std::chrono::milliseconds timeout = std::chrono::seconds(30));

// Whether `runs` hold a run of `track` that reaches at least `sector`.
bool reached(const sector_lines &runs, int track, int sector);
