// Turns the layout options into the list of folders and files of a disc:
// either the generated artists / albums / titles, or an explicit list.
#include "mkdisc/disc_plan.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "mkdisc/names.h"

namespace mkdisc {

namespace {

std::string numbered(const char *word, unsigned int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%02u", word, n);
  return text;
}

unsigned int frames_of_title(const layout_options &layout, unsigned int frames,
                             std::mt19937 &random) {
  if (!layout.vary_frames || frames < 2) return frames;
  return frames / 2 + random() % (frames - frames / 2 + 1);
}

void add_title(disc_plan &plan, const std::string &path, const title_names &names,
               unsigned int frames) {
  plan.files.push_back({path, file_kind::title, names, frames});
}

// The extras a layout can ask for inside one folder `at` ("" is the top).
void add_extras(disc_plan &plan, const layout_options &layout, const std::string &at,
                bool album_level, unsigned int frames) {
  const std::string prefix = at.empty() ? "" : at + "/";
  if (layout.non_titles && album_level) {
    plan.files.push_back({prefix + "liner notes.txt", file_kind::text, {}, 0});
    plan.files.push_back({prefix + "short.mp3", file_kind::short_file, {}, 0});
    plan.files.push_back({prefix + "free format.mp3", file_kind::free_format, {}, 0});
  }
  if (layout.player_folders && !album_level) {
    for (const char *hidden : {"!player", "!PLAYER"}) {
      add_title(plan, prefix + hidden + "/player data.mp3", {"player data", "", ""}, frames);
    }
  }
}

void plan_generated(disc_plan &plan, const layout_options &layout, unsigned int frames) {
  name_maker names(layout.seed);
  std::mt19937 random(layout.seed);
  std::set<std::string> artists;
  add_extras(plan, layout, "", false, frames);
  for (unsigned int a = 1; a <= layout.artists; ++a) {
    const std::string artist =
        layout.human_names ? name_maker::unique(names.artist(), artists) : numbered("artist", a);
    plan.folders.push_back(artist);
    add_extras(plan, layout, artist, false, frames);
    std::set<std::string> albums;
    const unsigned int album_count =
        layout.albums.empty() ? 0
                              : layout.albums[std::min<std::size_t>(a, layout.albums.size()) - 1];
    for (unsigned int b = 1; b <= album_count; ++b) {
      const std::string album =
          layout.human_names ? name_maker::unique(names.album(), albums) : numbered("album", b);
      const std::string folder = artist + "/" + album;
      plan.folders.push_back(folder);
      add_extras(plan, layout, folder, true, frames);
      for (unsigned int t = 1; t <= layout.titles; ++t) {
        const std::string title =
            layout.human_names ? numbered("", t) + " " + names.title() : numbered("title", t);
        add_title(plan, folder + "/" + title + ".mp3", {title, artist, album},
                  frames_of_title(layout, frames, random));
      }
    }
  }
}

bool plan_entry(disc_plan &plan, const std::string &entry, unsigned int frames) {
  static const std::pair<const char *, file_kind> kinds[] = {{"text:", file_kind::text},
                                                             {"short:", file_kind::short_file},
                                                             {"free:", file_kind::free_format}};
  if (entry.empty() || entry[0] == '/' || entry.find("..") != std::string::npos) return false;
  for (const auto &[prefix, kind] : kinds) {
    const std::string tag(prefix);
    if (entry.compare(0, tag.size(), tag) == 0) {
      if (entry.size() == tag.size()) return false;
      plan.files.push_back({entry.substr(tag.size()), kind, {}, 0});
      return true;
    }
  }
  if (entry.back() == '/') {
    plan.folders.push_back(entry.substr(0, entry.size() - 1));
    return true;
  }
  const std::size_t slash = entry.rfind('/');
  const std::string name = entry.substr(slash == std::string::npos ? 0 : slash + 1);
  add_title(plan, entry, {name, "", ""}, frames);
  return true;
}

}  // namespace

disc_plan plan_disc(const layout_options &layout, unsigned int frames, std::string &error) {
  disc_plan plan;
  if (layout.entries.empty()) {
    plan_generated(plan, layout, frames);
    return plan;
  }
  for (const std::string &entry : layout.entries) {
    if (!plan_entry(plan, entry, frames)) {
      error = "bad entry \"" + entry + "\": a relative path without \"..\" is expected";
      return {};
    }
  }
  return plan;
}

}  // namespace mkdisc
