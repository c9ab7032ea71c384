// Fuzz target for the reader: any bytes as a title file. Each pass must end
// the title or leave in the slot a whole frame exactly as the file holds it,
// never more than a slot's bytes; the reader must never seek before the
// start of the file, and never read past its end (the title is served from
// the fuzzer's own buffer, so AddressSanitizer sees every byte read).
// Built with clang's libFuzzer (DISCBOX_FUZZ), run by scripts/fuzz.sh.
#include <stdio.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mp3/frame_reader.h"
#include "mp3/frame_ring.h"
#include "mp3/mpeg_header.h"

namespace {

struct title_input {
  const std::uint8_t *data;
  std::size_t size;
  off64_t position;
};

ssize_t read_title(void *cookie, char *into, std::size_t count) {
  auto *title = static_cast<title_input *>(cookie);
  if (title->position >= static_cast<off64_t>(title->size)) return 0;
  const std::size_t left = title->size - static_cast<std::size_t>(title->position);
  if (count > left) count = left;
  std::memcpy(into, title->data + title->position, count);
  title->position += static_cast<off64_t>(count);
  return static_cast<ssize_t>(count);
}

int seek_title(void *cookie, off64_t *offset, int whence) {
  auto *title = static_cast<title_input *>(cookie);
  const off64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? title->position
                                            : static_cast<off64_t>(title->size);
  const off64_t target = base + *offset;
  if (target < 0) __builtin_trap();  // a seek before the start of the title
  title->position = *offset = target;
  return 0;
}

// Playing, with a forward and a rewind now and then; the input's first byte
// shifts the pattern.
int status_for(std::size_t pass, const std::uint8_t *data, std::size_t size) {
  static constexpr int pattern[8] = {status_playing, status_playing, status_forward,
                                     status_playing, status_rewind,  status_playing,
                                     status_playing, status_playing};
  return pattern[(pass + (size > 0 ? data[0] : 0)) % 8];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // The reader's console lines would only slow the fuzzer down.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  title_input title{data, size, 0};
  std::FILE *input = fopencookie(&title, "r", {read_title, nullptr, seek_title, nullptr});
  frame_reader reader;
  if (!reader_take_title(reader, input, "fuzz")) {
    reader_close(reader);
    return 0;
  }
  auto slot = std::make_unique<std::uint8_t[]>(slot_bytes);
  int length = 0;
  // Rewinds may replay a title without end; every other pass moves on.
  const std::size_t passes = size + 64;
  for (std::size_t pass = 0; pass < passes; ++pass) {
    reader_prepare_pass(reader, status_for(pass, data, size));
    if (reader_read_frames(reader, slot.get(), &length) == frame_outcome::end_of_title) break;
    if (!mpeg_frame_length_usable(static_cast<unsigned int>(length))) __builtin_trap();
    // The length its own header gives, whatever the MPEG version and layer.
    if (static_cast<unsigned int>(length) != mpeg_frame_size(slot[1], slot[2])) __builtin_trap();
    const long end = std::ftell(reader.input_f.get());
    if (end < length || static_cast<std::size_t>(end) > size) __builtin_trap();
    if (std::memcmp(slot.get(), data + end - length, static_cast<std::size_t>(length)) != 0) {
      __builtin_trap();  // the slot does not hold the frame as the file has it
    }
  }
  reader_close(reader);
  return 0;
}
