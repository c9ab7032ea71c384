// Parsing and documenting mkdisc's options. Numbers are checked here, so
// that a typo gives a clear message instead of an odd disc.
#include "mkdisc/options.h"

#include <cstdlib>
#include <fstream>
#include <iostream>

namespace mkdisc {

const char help_text[] = R"(Usage: mkdisc [OPTION]... FOLDER
Writes a test MP3 disc into FOLDER (new or empty): folders artist/album/title
of MPEG audio files (MPEG-1 Layer III at 44100 Hz unless told otherwise)
whose frames decode as silence.

Layout:
  --artists N          artist folders (default 3)
  --albums N[,N...]    album folders in each artist folder (default 2); a
                       list gives artist 1, 2, ... their own count, the last
                       count holding for the artists after it
  --titles N           title files in each album folder (default 5)
  --entry ENTRY        one entry of an explicit layout, instead of the
                       generated one; may be repeated (see Entries)
  --list FILE          entries one a line from FILE ("-": standard input)
  --plain-names        artist01/album01/title01.mp3 instead of made-up names
  --seed N             seed for names, junk bytes and varied lengths (default 1)
  --vary               frames per title between half and all of --frames

Titles:
  --frames N           frames per title (default 8)
  --mpeg VERSION       1 (default), 2 or 2.5
  --layer N            1, 2 or 3 (default); MPEG-2.5 has only Layer III
  --rate HZ            sampling rate (default 44100): MPEG-1 44100 48000
                       32000, MPEG-2 22050 24000 16000, MPEG-2.5 11025
                       12000 8000
  --bitrate KBPS       a bitrate of the version's and layer's table
                       (default 128); MPEG-1 Layer III: 32 40 48 56 64 80
                       96 112 128 160 192 224 256 320
  --padding MODE       none (default) or alternating (every second frame
                       one byte longer)
  --junk AT:BYTES      BYTES random bytes after frame AT (0: before the first
                       frame); may be repeated
  --zeros AT:BYTES     the same with zero bytes
  --partial-tail BYTES end each title with the first BYTES of one more frame
  --tag                end each title with a 128-byte "TAG" block
  --id3v2[=PADDING]    start each title with an ID3v2.3 tag holding its names,
                       followed by PADDING zero bytes (default 0)
  --id3v2-footer       an ID3v2.4 tag with a footer instead (no padding)
  --stamp              end each frame with "S", the title's number (1, 2, ...
                       in the order titles are written) and the frame's index
                       in two bytes, so that frame-runs can tell which frames
                       a decoder received
  --music              titles of music instead of silence, each a short piece
                       of its own (the N-th title's key note N-1 semitones
                       above C3, three octaves round), encoded by lame (which
                       must be installed); MPEG-1 Layer III at 44100 Hz, the
                       junk and partial-tail options do not apply

Other entries:
  --non-titles         put into every album folder a text file, a file of
                       3 bytes and a file starting FF FB 00 (free format)
  --player-folders     put "!player" and "!PLAYER" folders, each holding a
                       title, into FOLDER and every artist folder

Entries (--entry, --list) are paths relative to FOLDER, without "..":
  PATH                 a title file; its folders are made as needed
  PATH/                an empty folder
  text:PATH            a text file
  short:PATH           a file of 3 bytes
  free:PATH            a file starting FF FB 00

  --help               show this text
)";

namespace {

bool parse_number(const std::string &text, unsigned int &value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
  if (parsed > 1000000000ul) return false;
  value = static_cast<unsigned int>(parsed);
  return true;
}

bool parse_counts(const std::string &text, std::vector<unsigned int> &counts) {
  counts.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    unsigned int count = 0;
    if (!parse_number(text.substr(start, comma - start), count)) return false;
    counts.push_back(count);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

bool parse_insertion(const std::string &text, bool zeros, title_options &title) {
  const std::size_t colon = text.find(':');
  insertion gap;
  gap.zeros = zeros;
  if (colon == std::string::npos || !parse_number(text.substr(0, colon), gap.after_frame) ||
      !parse_number(text.substr(colon + 1), gap.bytes)) {
    return false;
  }
  title.insertions.push_back(gap);
  return true;
}

bool read_list(const std::string &file, layout_options &layout) {
  std::ifstream stream;
  if (file != "-") {
    stream.open(file);
    if (!stream) return false;
  }
  std::istream &in = file == "-" ? std::cin : stream;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) layout.entries.push_back(line);
  }
  return true;
}

// One option with its value (if it takes one); false when it is unknown or
// its value is bad.
bool apply(const std::string &option, const std::string &value, command_line &c) {
  layout_options &l = c.layout;
  title_options &t = c.title;
  if (option == "--artists") return parse_number(value, l.artists);
  if (option == "--albums") return parse_counts(value, l.albums);
  if (option == "--titles") return parse_number(value, l.titles);
  if (option == "--entry") return l.entries.push_back(value), !value.empty();
  if (option == "--list") return read_list(value, l);
  if (option == "--seed") return parse_number(value, l.seed);
  if (option == "--frames") return parse_number(value, t.frames);
  if (option == "--bitrate") return parse_number(value, t.bitrate);
  if (option == "--layer") return parse_number(value, t.layer);
  if (option == "--rate") return parse_number(value, t.sample_rate);
  if (option == "--mpeg") {
    if (value == "1") return t.version = mpeg_version::mpeg_1, true;
    if (value == "2") return t.version = mpeg_version::mpeg_2, true;
    if (value == "2.5") return t.version = mpeg_version::mpeg_2_5, true;
    return false;
  }
  if (option == "--junk") return parse_insertion(value, false, t);
  if (option == "--zeros") return parse_insertion(value, true, t);
  if (option == "--partial-tail") return parse_number(value, t.partial_tail);
  if (option == "--id3v2")
    return t.id3v2 = true, value.empty() || parse_number(value, t.id3v2_padding);
  if (option == "--padding") {
    if (value == "none") return t.padding = padding_pattern::none, true;
    if (value == "alternating") return t.padding = padding_pattern::alternating, true;
    return false;
  }
  return false;
}

bool is_flag(const std::string &option, command_line &c) {
  if (option == "--plain-names") return c.layout.human_names = false, true;
  if (option == "--vary") return c.layout.vary_frames = true, true;
  if (option == "--tag") return c.title.tag = true, true;
  if (option == "--music") return c.title.music = true, true;
  if (option == "--stamp") return c.title.stamp = 1, true;
  if (option == "--id3v2-footer") return c.title.id3v2 = c.title.id3v2_footer = true, true;
  if (option == "--non-titles") return c.layout.non_titles = true, true;
  if (option == "--player-folders") return c.layout.player_folders = true, true;
  if (option == "--help") return c.help = true, true;
  if (option == "--id3v2") return c.title.id3v2 = true, true;
  return false;
}

}  // namespace

bool parse_command_line(int argc, char **argv, command_line &command, std::string &error) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    if (option.compare(0, 2, "--") != 0) {
      if (!command.folder.empty()) return error = "more than one FOLDER: " + option, false;
      command.folder = option;
      continue;
    }
    if (is_flag(option, command)) continue;
    std::string value;
    if (const std::size_t equals = option.find('='); equals != std::string::npos) {
      value = option.substr(equals + 1);
      option.resize(equals);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return error = option + " needs a value", false;
    }
    if (!apply(option, value, command)) return error = "bad option: " + option + " " + value, false;
  }
  if (!command.help && command.folder.empty()) return error = "no FOLDER given", false;
  // Checked once all are known: the valid bitrates and rates depend on the
  // version and the layer, whatever their order on the command line.
  if (std::string problem; !is_valid_format(command.title, problem)) return error = problem, false;
  if (command.title.frames == 0 && command.title.partial_tail == 0 &&
      command.title.insertions.empty()) {
    return error = "--frames 0 makes empty titles", false;
  }
  const title_options &t = command.title;
  if (t.music && (t.version != mpeg_version::mpeg_1 || t.layer != 3 || t.sample_rate != 44100 ||
                  t.frames == 0)) {
    return error = "--music makes MPEG-1 Layer III titles at 44100 Hz of one frame or more", false;
  }
  return true;
}

}  // namespace mkdisc
