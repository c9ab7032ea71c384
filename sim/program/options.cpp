// The simulator's command line: the machine's options, its discs, and the
// defaults (demo discs, the bundled decoder and PCM player) found beside it.
#include "program/options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "ctl/rom_setting.h"
#include "util/unique_handle.h"

namespace sim {

namespace {

constexpr char usage[] =
    "usage: discbox-sim [--decoder PATH] [--display-log FILE] [--patterns-log FILE]\n"
    "                   [--drive-log FILE] [--run-for SECONDS] [--swap-delay SECONDS]\n"
    "                   [--floppy DIR]\n"
    "                   [--data-only-drive] [--no-analog-audio] [--pcm-output PATH]\n"
    "                   [--parport claimable|held|forbidden|absent]\n"
    "                   [--drive-stall MS/SECONDS]\n"
    "                   [--drive-scratch TRACK:FROM-TO/MS ...] [--sound]\n"
    "                   [--lcd-rom A00|A02] [DISC ...]\n"
    "\n"
    "Runs the discbox player on an emulated machine: a 2x40 display, a CD drive\n"
    "and a floppy drive. Keys come from standard input, the player's console\n"
    "lines go to standard output. On a terminal the display is drawn at the top,\n"
    "as a module with its character ROM shows it, and Ctrl-C ends the simulation.\n"
    "\n"
    "DISC is one of\n"
    "  FOLDER              an MP3 data disc whose root is FOLDER\n"
    "  audio:S1,S2,...     an audio CD whose tracks last S1, S2, ... seconds\n"
    "  blank               a disc that neither plays nor mounts\n"
    "  empty               no disc: the tray stays empty for one swap delay\n"
    "The drive holds the first disc at start; each eject takes the disc out and\n"
    "puts the next one in after the swap delay. Without DISC: the demo discs.\n"
    "\n"
    "  --decoder PATH      the decoder program (default: the bundled frame-sink)\n"
    "  --display-log FILE  append |line 1|line 2| whenever the display changes\n"
    "  --patterns-log FILE append the eight drawn character patterns whenever\n"
    "                      they changed before the display does\n"
    "  --drive-log FILE    append one line per request the drive receives\n"
    "  --run-for SECONDS   end the simulation, every process included, after this\n"
    "  --swap-delay SECONDS  from an eject to the next disc (default 2)\n"
    "  --floppy DIR        put a floppy holding DIR into the floppy drive\n"
    "  --data-only-drive   a drive that neither plays audio nor reports audio\n"
    "                      status, and ejects only once its door is unlocked\n"
    "  --no-analog-audio   a drive without analog audio output: it refuses to play\n"
    "                      audio CDs, which are then read and played digitally\n"
    "  --pcm-output PATH   the PCM player for digital playback (default: the\n"
    "                      bundled pcm-sink; PCM_SINK_OUTPUT=FILE keeps the audio)\n"
    "  --parport STATE     the kernel's /dev/parport0 for the display's port:\n"
    "                      claimable (default), held by another driver, there\n"
    "                      but forbidden to the player, or absent\n"
    "  --drive-stall MS/SECONDS  the first audio read after every SECONDS seconds\n"
    "                      takes MS milliseconds longer (a scratch, a re-spin)\n"
    "  --drive-scratch TRACK:FROM-TO/MS  the sectors of TRACK from FROM to TO\n"
    "                      seconds into it never read; a read touching them takes\n"
    "                      MS milliseconds, then fails (more than one allowed)\n"
    "  --sound             play out loud on the PC's sound output (ALSA's default\n"
    "                      device, or SOUND_DEVICE): MP3 titles through mpg123,\n"
    "                      digitally read CDs through aplay, and the drive's own\n"
    "                      analog output while it plays an audio CD\n"
    "  --lcd-rom A00|A02   the display module's character ROM, which the player\n"
    "                      is told as LCD_ROM (default: the ROM that LCD_ROM\n"
    "                      names, else the build's)\n";

int fail(const std::string &problem) {
  std::fprintf(stderr, "discbox-sim: %s\n\n%s", problem.c_str(), usage);
  return 2;
}

bool is_folder(const std::string &path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool parse_parport(std::string_view text, machine_configuration::parport_state &parport) {
  using parport_state = machine_configuration::parport_state;
  for (auto [name, state] : {std::pair{"claimable", parport_state::claimable},
                             {"held", parport_state::held},
                             {"forbidden", parport_state::forbidden},
                             {"absent", parport_state::absent}}) {
    if (text == name) {
      parport = state;
      return true;
    }
  }
  return false;
}

bool parse_seconds(const char *text, double &seconds) {
  char *end = nullptr;
  errno = 0;
  seconds = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(seconds) && seconds >= 0 &&
         seconds <= 1e7;
}

// "MS/SECONDS": a stall of 1 ms to 10 minutes every 0.1 s to a day.
bool parse_stall(const std::string &text, machine_configuration &machine) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  const std::string milliseconds = text.substr(0, slash);
  char *end = nullptr;
  errno = 0;
  const long stall = std::strtol(milliseconds.c_str(), &end, 10);
  if (errno != 0 || end == milliseconds.c_str() || *end != '\0' || stall < 1 || stall > 600000) {
    return false;
  }
  double every = 0;
  if (!parse_seconds(text.c_str() + slash + 1, every) || every < 0.1 || every > 86400) return false;
  machine.stall_milliseconds = static_cast<int>(stall);
  machine.stall_every_seconds = every;
  return true;
}

// "TRACK:FROM-TO/MS": track 1 to 99, FROM before TO (seconds, up to 74
// minutes), each failing read 0 ms to 10 minutes.
bool parse_scratch(const std::string &text, machine_configuration &machine) {
  machine_configuration::scratch scratch;
  char *end = nullptr;
  errno = 0;
  const long track = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != ':' || track < 1 || track > 99) return false;
  const std::size_t dash = text.find('-', static_cast<std::size_t>(end - text.c_str()));
  const std::size_t slash = text.find('/', dash == std::string::npos ? 0 : dash);
  if (dash == std::string::npos || slash == std::string::npos) return false;
  const std::string from = text.substr(static_cast<std::size_t>(end - text.c_str()) + 1,
                                       dash - static_cast<std::size_t>(end - text.c_str()) - 1);
  const std::string to = text.substr(dash + 1, slash - dash - 1);
  if (!parse_seconds(from.c_str(), scratch.from_seconds) ||
      !parse_seconds(to.c_str(), scratch.to_seconds) ||
      scratch.from_seconds >= scratch.to_seconds || scratch.to_seconds > 74 * 60) {
    return false;
  }
  const std::string milliseconds = text.substr(slash + 1);
  errno = 0;
  const long wait = std::strtol(milliseconds.c_str(), &end, 10);
  if (errno != 0 || end == milliseconds.c_str() || *end != '\0' || wait < 0 || wait > 600000) {
    return false;
  }
  scratch.track = static_cast<int>(track);
  scratch.milliseconds = static_cast<int>(wait);
  machine.scratches.push_back(scratch);
  return true;
}

// "audio:S1,S2,...": 1 to 99 tracks of 1 second to 74 minutes each.
bool parse_audio_disc(std::string_view argument, emulated_disc &disc) {
  disc = emulated_disc{emulated_disc::disc_kind::audio, {}, {}};
  std::string lengths(argument.substr(std::strlen("audio:")));
  const char *cursor = lengths.c_str();
  while (*cursor != '\0') {
    char *end = nullptr;
    errno = 0;
    long seconds = std::strtol(cursor, &end, 10);
    if (errno != 0 || end == cursor || seconds < 1 || seconds > 74 * 60) return false;
    disc.track_seconds.push_back(static_cast<int>(seconds));
    if (*end == ',')
      ++end;
    else if (*end != '\0')
      return false;
    cursor = end;
  }
  return !disc.track_seconds.empty() && disc.track_seconds.size() <= 99;
}

std::string folder_of_this_program() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  path[length] = '\0';
  std::string text(path);
  return text.substr(0, text.rfind('/'));
}

// The simulator runs from the build tree, where its tools and the demo MP3
// disc lie in folders beside it, or installed, where the tools share its
// folder and the demo discs lie in the data folder.
std::string data_folder() { return folder_of_this_program() + "/" DISCBOX_SIM_DATA_FROM_BIN; }

// The demo discs: a short audio CD, then the demo MP3 disc.
void add_demo_discs(machine_configuration &machine) {
  machine.discs.push_back(emulated_disc{emulated_disc::disc_kind::audio, {12, 9, 15}, {}});
  for (const std::string &folder : {folder_of_this_program(), data_folder()}) {
    const util::unique_malloc<char> mp3_demo(realpath((folder + "/demo/mp3disc").c_str(), nullptr));
    if (mp3_demo && is_folder(mp3_demo.get())) {
      machine.discs.push_back(emulated_disc{emulated_disc::disc_kind::data, {}, mp3_demo.get()});
      return;
    }
  }
}

std::string default_pcm_player() {
  const std::string here = folder_of_this_program();
  for (const std::string &pcm_sink : {here + "/tools/pcm-sink/pcm-sink", here + "/pcm-sink"}) {
    if (access(pcm_sink.c_str(), X_OK) == 0) return pcm_sink;
  }
  return "/usr/bin/aplay";
}

glass_rom glass_of(const lcd_rom::character_rom &rom) {
  return &rom == &lcd_rom::a02 ? glass_rom::a02 : glass_rom::a00;
}

// Without --lcd-rom the module is the one the player will take.
void set_module_rom(sim_options &options) {
  const lcd_rom::character_rom *rom = options.lcd_rom != nullptr
                                          ? lcd_rom::named(options.lcd_rom)
                                          : rom_named_by_setting(std::getenv(rom_setting_name));
  options.machine.lcd_rom = glass_of(rom != nullptr ? *rom : lcd_rom::built_in());
}

std::string default_decoder() {
  const std::string here = folder_of_this_program();
  for (const std::string &frame_sink :
       {here + "/tools/frame-sink/frame-sink", here + "/frame-sink"}) {
    if (access(frame_sink.c_str(), X_OK) == 0) return frame_sink;
  }
  return "/bin/mpg123";
}

}  // namespace

int parse_options(int argc, char **argv, sim_options &options) {
  machine_configuration &machine = options.machine;
  machine.decoder = default_decoder();
  machine.pcm_player = default_pcm_player();
  // The box as the README sets it up: the port's kernel driver is loaded.
  machine.parport = machine_configuration::parport_state::claimable;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    bool has_value = i + 1 < argc;
    auto value = [&]() { return std::string(argv[++i]); };
    if (argument == "--help" || argument == "-h") {
      std::fputs(usage, stdout);
      return 0;
    } else if (argument == "--decoder" && has_value) {
      machine.decoder = value();
    } else if (argument == "--display-log" && has_value) {
      machine.display_log = value();
    } else if (argument == "--patterns-log" && has_value) {
      machine.patterns_log = value();
    } else if (argument == "--data-only-drive") {
      machine.data_only_drive = true;
    } else if (argument == "--no-analog-audio") {
      machine.no_analog_audio = true;
    } else if (argument == "--pcm-output" && has_value) {
      machine.pcm_player = value();
    } else if (argument == "--parport" && has_value) {
      if (!parse_parport(argv[++i], machine.parport)) {
        return fail("not a state of /dev/parport0: " + std::string(argv[i]));
      }
    } else if (argument == "--drive-stall" && has_value) {
      if (!parse_stall(value(), machine)) return fail("bad drive stall: " + std::string(argv[i]));
    } else if (argument == "--drive-scratch" && has_value) {
      if (!parse_scratch(value(), machine)) {
        return fail("bad drive scratch: " + std::string(argv[i]));
      }
    } else if (argument == "--drive-log" && has_value) {
      machine.drive_log = value();
    } else if (argument == "--floppy" && has_value) {
      machine.floppy_folder = value();
      if (!is_folder(machine.floppy_folder)) return fail("no folder " + machine.floppy_folder);
    } else if ((argument == "--run-for" || argument == "--swap-delay") && has_value) {
      double seconds = 0;
      if (!parse_seconds(argv[++i], seconds)) {
        return fail("not a number of seconds: " + std::string(argv[i]));
      }
      if (argument == "--run-for")
        options.run_for_seconds = seconds;
      else
        machine.swap_delay_seconds = seconds;
    } else if (argument == "--sound") {
      options.sound = true;
    } else if (argument == "--lcd-rom" && has_value) {
      const lcd_rom::character_rom *rom = lcd_rom::named(argv[++i]);
      if (rom == nullptr) return fail("not a character ROM (A00 or A02): " + std::string(argv[i]));
      options.lcd_rom = rom->name;
    } else if (argument.starts_with("--")) {
      return fail("unknown option or missing value: " + std::string(argument));
    } else if (argument == "blank") {
      machine.discs.push_back(emulated_disc{emulated_disc::disc_kind::blank, {}, {}});
    } else if (argument == "empty") {
      machine.discs.push_back(emulated_disc{emulated_disc::disc_kind::empty, {}, {}});
    } else if (argument.starts_with("audio:")) {
      emulated_disc disc;
      if (!parse_audio_disc(argument, disc))
        return fail("bad audio disc: " + std::string(argument));
      machine.discs.push_back(disc);
    } else if (is_folder(std::string(argument))) {
      // The mount becomes a link to the folder: it must not depend on the
      // working directory.
      const util::unique_malloc<char> absolute(realpath(argv[i], nullptr));
      if (!absolute) return fail("not a disc (no such folder): " + std::string(argument));
      machine.discs.push_back(emulated_disc{emulated_disc::disc_kind::data, {}, absolute.get()});
    } else {
      return fail("not a disc (no such folder): " + std::string(argument));
    }
  }
  if (machine.discs.empty()) add_demo_discs(machine);
  set_module_rom(options);
  return -1;
}

}  // namespace sim
