// Which sectors a stream of raw CD audio holds, by the stamps the emulated
// drive writes at the start of every audio sector: "T<tt>S<ssssss>", the
// track and the sector within the track. The stream is walked sector by
// sector (2352 bytes); the result reads, one line each:
//   T:A-B        sectors A to B of track T, in order, one line per run
//   silence N    N sectors of silence in a row (a sector that failed to read)
//   unstamped N  N sectors in a row without a stamp
//   junk N       N bytes skipped to the next stamp (a stream cut inside a sector)
//   partial N    the stream ends N bytes into a sector
//   sectors N    the whole sectors, last
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::vector<std::string> sector_runs(std::string_view stream);
