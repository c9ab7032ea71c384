// A title that carries music: a piece of the demo music, encoded by
// Debian's lame into MPEG-1 Layer III frames, in the tags of title_options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mkdisc/title_audio.h"

namespace mkdisc {

// The title's bytes: `options.frames` frames' worth of piece `piece`. False
// with `error` set when lame cannot be run or fails.
bool music_title_bytes(const title_options &options, const title_names &names, unsigned int piece,
                       std::vector<std::uint8_t> &bytes, std::string &error);

}  // namespace mkdisc
