// What a generated disc holds: the folders and files, by path relative to
// the disc's top folder, planned first and written afterwards, so that tests
// can make a disc in one call and know every name on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkdisc/title_audio.h"

namespace mkdisc {

enum class file_kind {
  title,        // frames as title_options says
  text,         // a short text file
  short_file,   // three bytes
  free_format,  // a frame start FF FB 00: free format, no length known
};

struct planned_file {
  std::string path;  // relative; its folders are made as needed
  file_kind kind = file_kind::title;
  title_names names;
  unsigned int frames = 0;  // title: the frames of this file
};

struct disc_plan {
  std::vector<std::string> folders;  // relative, made even when left empty
  std::vector<planned_file> files;
};

struct layout_options {
  unsigned int artists = 3;
  // Album folders per artist, for artists 1, 2, ...; the last count holds for
  // the artists after it.
  std::vector<unsigned int> albums{2};
  unsigned int titles = 5;  // per album
  // One entry a line replaces the generated layout: "PATH" a title,
  // "PATH/" an empty folder, "text:PATH", "short:PATH", "free:PATH".
  std::vector<std::string> entries;
  bool human_names = true;
  bool vary_frames = false;     // frames per title between half and all of them
  bool non_titles = false;      // a text, a 3-byte and a free-format file per album
  bool player_folders = false;  // "!player" and "!PLAYER" folders with a title each
  std::uint32_t seed = 1;
};

// Empty with `error` set when an entry is malformed.
disc_plan plan_disc(const layout_options &layout, unsigned int frames, std::string &error);

// Writes the plan below `folder`, which must not exist yet or be empty.
bool write_disc(const std::string &folder, const disc_plan &plan, const title_options &options,
                std::uint32_t seed, std::string &error);

}  // namespace mkdisc
