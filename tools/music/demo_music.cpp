// The drone carries most of the power, so that a listener, and a test that
// looks for the strongest pitch, hears the key; the tune an octave and more
// above it makes each piece its own. Notes start from silence and decay, so
// that no note, and no title that starts anywhere, begins with a click.
#include "demo_music.h"

#include <cmath>
#include <iterator>
#include <numbers>

namespace demo_music {

namespace {

constexpr double drone_level = 0.42;
constexpr double tune_level = 0.2;
constexpr int note_samples = sample_rate / 4;  // four notes a second
constexpr int attack_samples = sample_rate / 100;
constexpr int notes_in_tune = 16;
// The major pentatonic scale, in semitones above the octave over the key.
constexpr int scale[] = {12, 14, 16, 19, 21, 24};

std::uint32_t mix(std::uint32_t value) {
  value ^= value >> 16;
  value *= 0x7feb352dU;
  value ^= value >> 15;
  value *= 0x846ca68bU;
  value ^= value >> 16;
  return value;
}

double wave(double hz, std::int64_t n) {
  return std::sin(2 * std::numbers::pi * hz * static_cast<double>(n) / sample_rate);
}

// The tune repeats every notes_in_tune notes; each piece has its own.
double tune(unsigned int piece, std::int64_t n) {
  const std::int64_t note = n / note_samples;
  const std::int64_t into = n % note_samples;
  const std::uint32_t pick = mix(piece * 977U + static_cast<std::uint32_t>(note % notes_in_tune));
  if (pick % 5 == 0) return 0;  // a rest now and then
  const int step = scale[pick % std::size(scale)];
  const double hz = key_hz(piece) * std::exp2(step / 12.0);
  const double attack = into < attack_samples ? static_cast<double>(into) / attack_samples : 1.0;
  const double decay = std::exp(-3.0 * static_cast<double>(into) / note_samples);
  // Ends near silence, so the next note starts without a step.
  const double release = static_cast<double>(note_samples - into) / note_samples;
  return attack * decay * release * wave(hz, into);
}

}  // namespace

double key_hz(unsigned int piece) { return 130.8128 * std::exp2(((piece - 1) % 36) / 12.0); }

double sample(unsigned int piece, std::int64_t n) {
  const double drone = wave(key_hz(piece), n) + 0.15 * wave(2 * key_hz(piece), n);
  return drone_level * drone / 1.15 + tune_level * tune(piece, n);
}

}  // namespace demo_music
