// port-replay: prints what the HD44780 on the parallel port showed, step by
// step, from qemu's trace of the port writes (see replay.h for the trace and
// the output), and closes with "busy violations N".
#include <fstream>
#include <iostream>
#include <string>

#include "port-replay/replay.h"

int main(int argc, char **argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::cerr
        << "usage: port-replay TRACE   (\"-\": standard input)\n"
           "Replays qemu's parallel_ioport_write trace (taken with -msg timestamp=on)\n"
           "into an HD44780 on the player's cable and prints \"@@ step N\" at each\n"
           "step mark, \"|line 1|line 2|\" whenever the display changes, \"!! busy LINE\"\n"
           "for a write that reached the controller while busy, then \"busy violations N\".\n";
    return 2;
  }
  std::ifstream file;
  const bool from_stdin = std::string(argv[1]) == "-";
  if (!from_stdin) {
    file.open(argv[1]);
    if (!file) {
      std::cerr << "port-replay: cannot read " << argv[1] << "\n";
      return 1;
    }
  }
  std::istream &in = from_stdin ? std::cin : file;
  port_replay::replay display(std::cout);
  long line_number = 0;
  for (std::string line; std::getline(in, line);) {
    ++line_number;
    port_replay::traced_write write;
    switch (port_replay::parse_trace_line(line, write)) {
      case port_replay::line_kind::write:
        display.feed(write, line_number);
        break;
      case port_replay::line_kind::untimed_write:
        std::cerr << "port-replay: line " << line_number
                  << " has no time stamp (trace with -msg timestamp=on)\n";
        return 1;
      case port_replay::line_kind::other:
        break;
    }
  }
  std::cout << "busy violations " << display.busy_violations() << "\n";
  return 0;
}
