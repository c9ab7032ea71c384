// port-replay: prints what the HD44780 on the parallel port showed, step by
// step, from qemu's trace of the port writes (see replay.h for the trace and
// the output), and closes with "busy violations N".
#include <fstream>
#include <iostream>
#include <string>

#include "port-replay/replay.h"

namespace {

constexpr char usage[] =
    "usage: port-replay [--lcd-rom A00|A02] TRACE   (\"-\": standard input)\n"
    "Replays qemu's parallel_ioport_write trace (taken with -msg timestamp=on)\n"
    "into an HD44780 on the player's cable and prints \"@@ step N\" at each\n"
    "step mark, \"|line 1|line 2|\" whenever the display changes (as the glass\n"
    "of a module with character ROM A00, or the one --lcd-rom names, shows it),\n"
    "\"!! busy LINE\" for a write that reached the controller while busy, then\n"
    "\"busy violations N\".\n";

int fail() {
  std::cerr << usage;
  return 2;
}

}  // namespace

int main(int argc, char **argv) {
  sim::glass_rom rom = sim::glass_rom::a00;
  int at = 1;
  if (argc == 4 && std::string(argv[1]) == "--lcd-rom") {
    const std::string name = argv[2];
    if (name != "A00" && name != "A02") return fail();
    rom = name == "A02" ? sim::glass_rom::a02 : sim::glass_rom::a00;
    at = 3;
  }
  if (argc != at + 1 || std::string(argv[at]) == "--help") return fail();
  std::ifstream file;
  const bool from_stdin = std::string(argv[at]) == "-";
  if (!from_stdin) {
    file.open(argv[at]);
    if (!file) {
      std::cerr << "port-replay: cannot read " << argv[at] << "\n";
      return 1;
    }
  }
  std::istream &in = from_stdin ? std::cin : file;
  port_replay::replay display(std::cout, rom);
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
