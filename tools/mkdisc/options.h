// mkdisc's command line: what disc to make and where.
#pragma once

#include <string>

#include "mkdisc/disc_plan.h"
#include "mkdisc/title_audio.h"

namespace mkdisc {

struct command_line {
  std::string folder;
  layout_options layout;
  title_options title;
  bool help = false;
};

extern const char help_text[];

// False with `error` set when the arguments do not make sense.
bool parse_command_line(int argc, char **argv, command_line &command, std::string &error);

}  // namespace mkdisc
