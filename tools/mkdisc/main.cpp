// mkdisc: writes a test MP3 disc into a folder (see --help). Used by the
// tests, the benchmarks and the simulator's demo disc.
#include <cstdio>

#include "mkdisc/options.h"

int main(int argc, char **argv) {
  mkdisc::command_line command;
  std::string error;
  if (!mkdisc::parse_command_line(argc, argv, command, error)) {
    std::fprintf(stderr, "mkdisc: %s\nTry 'mkdisc --help'.\n", error.c_str());
    return 2;
  }
  if (command.help) {
    std::fputs(mkdisc::help_text, stdout);
    return 0;
  }
  const mkdisc::disc_plan plan = mkdisc::plan_disc(command.layout, command.title.frames, error);
  if (!error.empty() ||
      !mkdisc::write_disc(command.folder, plan, command.title, command.layout.seed, error)) {
    std::fprintf(stderr, "mkdisc: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
