// pcm-sectors: prints which disc sectors a kept stream of raw CD audio
// holds (see sector_runs.h for the lines). Usage: pcm-sectors STREAM
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "sector_runs.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pcm-sectors STREAM\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "pcm-sectors: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::string stream{std::istreambuf_iterator<char>(in), {}};
  for (const std::string &line : sector_runs(stream)) std::printf("%s\n", line.c_str());
  return 0;
}
