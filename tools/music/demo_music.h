// The demo discs' music: short pieces, one per title or track, each a soft
// drone on its own key note with a pentatonic tune above it. A piece is a
// function of the sample's index alone, so that the emulated drive can make
// any sector of a track at any time, and mkdisc whole titles.
#pragma once

#include <cstdint>

namespace demo_music {

inline constexpr int sample_rate = 44100;

// The key note of piece `piece` (1, 2, ...): semitones up from C3 over three
// octaves, so that neighbouring pieces, and the pieces of a 35-title disc,
// differ in pitch. The drone on it is the loudest pitch of the piece.
double key_hz(unsigned int piece);

// Sample `n` (from 0, at sample_rate) of piece `piece`, between -1 and 1.
double sample(unsigned int piece, std::int64_t n);

}  // namespace demo_music
