// Reading a title frame by frame. A title is taken as a plain run of MPEG
// frames; each frame is first read with the length of the frame before it
// (one read per frame while the bitrate stays the same) and read again with
// its own length when its header says otherwise. Damaged data is skipped by
// moving one byte at a time until a frame start of usable length shows up.
#include "mp3/frame_reader.h"

#include <algorithm>
#include <cstring>

#include "console/console_text.h"
#include "mp3/frame_ring.h"
#include "mp3/mpeg_header.h"

namespace {

constexpr char text_cannot_open[] = "UNABLE TO OPEN FILE 1 !!!\n EXITING :-((((((((((\n";
constexpr char text_too_short[] = "unable to open%s\n";
constexpr char text_open[] = "Open %s\n";
constexpr char text_no_first_frame[] = "UNABLE TO OPEN FILE 2 !!!\n EXITING :-((((((((((\n";
constexpr char text_wrong_status[] = "***ERROR***wrong play_status, readfunction !%i \n";
constexpr char text_lost_header[] = "lost header... searching\n";
constexpr char text_found[] = "found!!!!!!!!!!!!!!!!!!!!!!!!!!\n";
constexpr char text_bytes_read[] = "%i/%i bytes red\n";
constexpr char text_wrong_frame_size[] = "WRONG FRAME SIZE, WHILE READING %i HEADER:%i\n";
constexpr char text_skipped[] = "bytes %ld to %ld of the title unreadable, skipped\n";
constexpr char text_skipped_rest[] = "bytes %ld to the end of the title unreadable\n";

constexpr char tag_block_start[] = "TAG";  // the ID3v1 block at the end of a file
constexpr int frames_per_jump = 30;
constexpr int search_limit = 2048;   // one-byte steps before a search gives up
constexpr int search_failed = 2050;  // err_count once a search gave up

// A disc is read in sectors of this size; a scratch spoils whole ones.
constexpr long sector_bytes = 2048;
// The most scratches one frame read steps over before the title is given
// up: a disc that bad is not worth the time.
constexpr int skips_per_read = 8;
// A frame start is looked for this far past a scratch.
constexpr int resync_window = 2 * static_cast<int>(sector_bytes) + 2 * slot_bytes;

bool usable(int length) { return mpeg_frame_length_usable(static_cast<unsigned int>(length)); }

int frame_length_in(const std::uint8_t *slot) {
  return static_cast<int>(mpeg_frame_size(slot[1], slot[2]));
}

// A frame start as the stream test sees it in `got` bytes just read, whose
// header also gives a length a slot can take and that holds the header
// itself. Free format, bitrate index 15 or a reserved field inside a title is
// damage: taken at its word it would read nothing, or more than a slot.
bool holds_frame_start(const std::uint8_t *slot, int got) {
  constexpr std::uint8_t free_format = 0x00;  // bitrate index 0: no length known
  if (got < static_cast<int>(mpeg_header_bytes) || !mpeg_frame_valid(slot)) return false;
  if ((slot[2] >> 4) == free_format) return false;
  const int length = frame_length_in(slot);
  return length >= static_cast<int>(mpeg_header_bytes) && usable(length);
}

enum class probe { readable, unreadable, past_end };

// Whether the byte at `offset` reads. The stream's error is cleared, so that
// it tells the next read's fate alone.
probe probe_byte(std::FILE *input, long offset) {
  std::clearerr(input);
  if (std::fseek(input, offset, SEEK_SET) != 0) return probe::unreadable;
  if (std::fgetc(input) != EOF) return probe::readable;
  const bool failed = std::ferror(input) != 0;
  std::clearerr(input);
  return failed ? probe::unreadable : probe::past_end;
}

// The first sector boundary from which the title reads again, after the
// sector holding `bad`: steps ahead, each twice the one before, until a
// sector reads, then halves the gap back to the last bad one, so that a
// scratch of n sectors costs about 2 log2 n failing reads, not n (each may
// take the drive seconds). -1: nothing after it reads.
long first_readable_after(std::FILE *input, long bad) {
  long last_bad = bad / sector_bytes;
  long good = -1;
  bool good_is_end = false;  // the bound found lies past the end of the title
  for (long step = 1; good < 0; step *= 2) {
    const probe p = probe_byte(input, (last_bad + step) * sector_bytes);
    if (p == probe::unreadable) {
      last_bad += step;
    } else {
      good = last_bad + step;
      good_is_end = p == probe::past_end;
    }
  }
  while (good - last_bad > 1) {
    const long middle = last_bad + (good - last_bad) / 2;
    const probe p = probe_byte(input, middle * sector_bytes);
    if (p == probe::unreadable) {
      last_bad = middle;
    } else {
      good = middle;
      good_is_end = p == probe::past_end;
    }
  }
  return good_is_end ? -1 : good * sector_bytes;
}

// The first frame start at or after `from` by the header rule, confirmed by
// the frame after it where the window holds that one: past a scratch the
// data is whole again but the frames' boundaries are unknown. -1: none.
long next_frame_start(std::FILE *input, long from) {
  std::uint8_t window[resync_window];
  std::clearerr(input);
  if (std::fseek(input, from, SEEK_SET) != 0) return -1;
  const int got = static_cast<int>(std::fread(window, 1, sizeof window, input));
  std::clearerr(input);
  for (int at = 0; at < got; ++at) {
    if (!holds_frame_start(window + at, got - at)) continue;
    const int next = at + frame_length_in(window + at);
    if (next + static_cast<int>(mpeg_header_bytes) > got ||
        holds_frame_start(window + next, got - next)) {
      return from + at;
    }
  }
  return -1;
}

// After a read that failed at `bad`: moves the stream to the first frame
// start after the unreadable part, with one console line for it. False
// when the title holds nothing playable after it.
bool skip_unreadable(std::FILE *input, long bad) {
  const long readable = first_readable_after(input, bad);
  const long resumed = readable < 0 ? -1 : next_frame_start(input, readable);
  if (readable < 0)
    std::printf(text_skipped_rest, bad);
  else
    std::printf(text_skipped, bad, readable - 1);
  if (resumed < 0) return false;
  std::fseek(input, resumed, SEEK_SET);
  return true;
}

// Reads one frame of `length` bytes into the slot; never more than the slot
// holds, whatever the length. A read that fails (a scratch) goes on at the
// first frame after the unreadable part; a title nothing more of which
// reads gives a short read, as at its end.
int read_slot(frame_reader &reader, std::uint8_t *slot, int length) {
  if (!usable(length)) return 0;
  std::FILE *input = reader.input_f.get();
  for (int skips = 0;; ++skips) {
    const long at = std::ftell(input);
    const size_t got = std::fread(slot, 1, static_cast<size_t>(length), input);
    if (got == static_cast<size_t>(length) || !std::ferror(input)) return static_cast<int>(got);
    if (at < 0 || skips == skips_per_read || !skip_unreadable(input, at + static_cast<long>(got))) {
      std::clearerr(input);
      return 0;
    }
  }
}

void remember_frame_start(frame_reader &reader, long start) {
  frame_history &h = reader.history;
  h.newest = h.newest == frame_history::capacity - 1 ? 0 : h.newest + 1;
  h.starts[h.newest] = start;
  if (h.count < frame_history::capacity) ++h.count;
  ++reader.frames_read;
}

// Forgets the newest `frames` starts; returns the oldest of them.
long forget_frame_starts(frame_reader &reader, int frames) {
  frame_history &h = reader.history;
  long start = reader.first_frame;
  for (int i = 0; i < frames; ++i) {
    start = h.starts[h.newest];
    h.newest = h.newest == 0 ? frame_history::capacity - 1 : h.newest - 1;
    --h.count;
  }
  reader.frames_read -= frames;
  return start;
}

void rewind_frames(frame_reader &reader) {
  long target = reader.first_frame;
  if (reader.frames_read <= frames_per_jump || reader.history.count == 0) {
    reader.frames_read = 0;
    reader.history.count = 0;
  } else {
    // After more rewinds in a row than the history holds, the frames before
    // the oldest start it still knows are unknown: go back that far.
    target = forget_frame_starts(reader, std::min(frames_per_jump, reader.history.count));
  }
  std::fseek(reader.input_f.get(), target, SEEK_SET);
}

// Reads the four header bytes of the first frame, after a leading ID3v2 tag
// as the library scan skips it, and notes where that frame starts.
bool read_first_header(frame_reader &reader) {
  std::uint8_t start[id3v2_header_length];
  const size_t got = std::fread(start, 1, sizeof start, reader.input_f.get());
  reader.first_frame = 0;
  if (got == sizeof start) {
    if (const unsigned int tag = id3v2_tag_length(start)) {
      reader.first_frame = tag;
      std::fseek(reader.input_f.get(), reader.first_frame, SEEK_SET);
      return std::fread(reader.header, 1, 4, reader.input_f.get()) == 4;
    }
  }
  std::memcpy(reader.header, start, sizeof reader.header);
  return got >= 4;
}

}  // namespace

void reader_close(frame_reader &reader) { reader.input_f.reset(); }

bool reader_open(frame_reader &reader, const char *path) {
  reader_close(reader);
  // Close-on-exec: the decoder must never hold a file of the disc open.
  std::FILE *input = std::fopen(path, "re");
  if (input == nullptr) {
    std::fputs(text_cannot_open, stdout);
    return false;
  }
  return reader_take_title(reader, input, path);
}

bool reader_take_title(frame_reader &reader, std::FILE *input, const char *path) {
  reader_close(reader);
  reader.input_f.reset(input);
  // Each title has a search budget and a history of its own.
  reader.err_count = 0;
  reader.frames_read = 0;
  reader.history.count = 0;
  unsigned int length = 0;
  if (read_first_header(reader)) {
    std::printf(text_open, console_escape(path).c_str());
    std::fseek(reader.input_f.get(), reader.first_frame, SEEK_SET);
    length = mpeg_header_size(reader.header);
  } else {
    std::printf(text_too_short, console_escape(path).c_str());
  }
  if (!mpeg_frame_length_usable(length)) {
    std::fputs(text_no_first_frame, stdout);
    return false;
  }
  reader.frame_size_l = static_cast<int>(length);
  return true;
}

void reader_prepare_pass(frame_reader &reader, int status) {
  switch (status) {
    case status_forward:
      reader.numbers = frames_per_jump;
      break;
    case status_rewind:
      rewind_frames(reader);
      break;
    case status_playing:
      reader.numbers = 1;
      break;
    default:
      std::printf(text_wrong_status, status);
  }
}

frame_outcome reader_read_frames(frame_reader &reader, std::uint8_t *slot, int *length_cell) {
  for (int i = 1; i <= reader.numbers; ++i) {
    int got = read_slot(reader, slot, reader.frame_size_l);
    reader.buffer_size = got;
    bool searched = false;
    // Fewer bytes than a header at the end of the file (or after a length
    // too short to hold one) start no frame and leave nothing to search.
    const bool header_read = got >= static_cast<int>(mpeg_header_bytes);
    // The tag block at the end is no frame, but no damage to search past.
    const bool tag_block = header_read && std::memcmp(slot, tag_block_start, 3) == 0;
    while (header_read && !tag_block && !holds_frame_start(slot, got)) {
      std::fputs(text_lost_header, stdout);
      searched = true;
      ++reader.err_count;
      std::fseek(reader.input_f.get(), 1 - got, SEEK_CUR);
      got = read_slot(reader, slot, reader.frame_size_l);
      reader.buffer_size = got;
      if (got != reader.frame_size_l || reader.err_count > search_limit) {
        reader.err_count = search_failed;
        break;
      }
    }
    if (searched) std::fputs(text_found, stdout);

    if (header_read && !tag_block) {
      reader.header[0] = slot[2];
      reader.frame_size_l = frame_length_in(slot);
    }
    bool whole = header_read && !tag_block;
    if (whole && got != reader.frame_size_l) {
      // Read with the previous frame's length: read this one again, whole.
      whole = usable(reader.frame_size_l);
      if (whole) {
        std::fseek(reader.input_f.get(), -got, SEEK_CUR);
        got = read_slot(reader, slot, reader.frame_size_l);
        reader.buffer_size = got;
        whole = got == reader.frame_size_l;
      }
    }
    if (!whole || reader.err_count == search_failed) {
      std::printf(text_bytes_read, got, reader.frame_size_l);
      reader.err_count = 0;
      return frame_outcome::end_of_title;
    }
    remember_frame_start(reader, std::ftell(reader.input_f.get()) - got);
    *length_cell = reader.frame_size_l;
  }
  return frame_outcome::accepted;
}

void reader_warn_frame_size(const frame_reader &reader) {
  if (!usable(reader.frame_size_l)) {
    std::printf(text_wrong_frame_size, reader.frame_size_l, static_cast<int>(reader.header[0]));
  }
}
