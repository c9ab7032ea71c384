// Title selection through its whole table: accepted positions with their
// path and display lines, every refusal, the artist wraps at both ends, the
// odd ends of a library, and two threads selecting at once.
#include "mp3/selection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "emu/display.h"
#include "mp3/library_position.h"
#include "support/glass_text.h"
#include "support/mp3_disc_fixture.h"

namespace {

struct title_position {
  unsigned int interp, alb, titl;
  bool operator==(const title_position &) const = default;
};

class SelectionTest : public mp3_disc_fixture {
 protected:
  // Selects with the console captured; returns what was printed.
  std::string select(unsigned int interp, unsigned int alb, unsigned int titl) {
    position_.close_input = 0;
    testing::internal::CaptureStdout();
    open_file(position_, interp, alb, titl);
    return testing::internal::GetCapturedStdout();
  }
  title_position position() const {
    return {position_.cur_interpret, position_.cur_album, position_.cur_title};
  }
  title_position pending() const {
    return {position_.cur_interpret_, position_.cur_album_, position_.cur_title_};
  }
  static std::string line(const std::string &text) {
    std::string padded = text.substr(0, sim::display_columns);
    padded.resize(sim::display_columns, ' ');
    return padded;
  }
  void mount_and_scan(const std::vector<std::string> &entries, const std::string &name = "disc") {
    mount(make_disc(entries, {}, name));
    testing::internal::CaptureStdout();
    scan();
    testing::internal::GetCapturedStdout();
  }
};

// Artists A and C; A's albums are B (x.mp3, y.mp3 and a folder zz), E
// (empty) and a title file a.mp3; C holds album D with w.mp3.
const std::vector<std::string> disc = {"A/B/x.mp3", "A/B/y.mp3", "A/B/zz/",
                                       "A/E/",      "A/a.mp3",   "C/D/w.mp3"};

TEST_F(SelectionTest, AcceptedPositionBecomesPathDisplayAndOpenRequest) {
  mount_and_scan(disc);
  const std::string out = select(1, 1, 2);
  const std::string file = mount_point() + "/A/B/y.mp3";
  EXPECT_EQ(out, "Ainterp1album1title2\nFILENAME: " + file + "\nBinterp1album1title2\n");
  EXPECT_STREQ(position_.file_name, file.c_str());
  EXPECT_EQ(position(), (title_position{1, 1, 2}));
  EXPECT_EQ(pending(), (title_position{1, 1, 2}));
  EXPECT_EQ(position_.close_input, 1);
  EXPECT_EQ(sim::display_view().line1, line("A -- B"));
  EXPECT_EQ(sim::display_view().line2, line("y.mp3"));
}

TEST_F(SelectionTest, ArtistWrapsAtBothEnds) {
  mount_and_scan(disc);
  EXPECT_EQ(select(3, 1, 2), "Ainterp3album1title2\ninterp groesser\nFILENAME: " + mount_point() +
                                 "/A/B/y.mp3\nBinterp1album1title2\n");
  EXPECT_EQ(position(), (title_position{1, 1, 2}));
  EXPECT_EQ(select(0, 1, 1), "Ainterp0album1title1\ninterp kleiner 1\nFILENAME: " + mount_point() +
                                 "/C/D/w.mp3\nBinterp2album1title1\n");
  EXPECT_EQ(position(), (title_position{2, 1, 1}));
  EXPECT_EQ(sim::display_view().line1, line("C -- D"));
  EXPECT_EQ(sim::display_view().line2, line("w.mp3"));
}

TEST_F(SelectionTest, RefusalsChangeNothingButTheOpenRequest) {
  mount_and_scan(disc);
  select(1, 1, 1);
  const std::string selected = position_.file_name;
  const sim::display_snapshot shown = sim::display_view();
  const struct {
    title_position asked;
    const char *console;
  } refusals[] = {
      {{1, 1, 4}, "titl groesser\n"},
      {{1, 1, 0}, "titl kleiner 1\n"},
      {{1, 4, 1}, "alb groesser\n"},
      {{1, 0, 1}, "alb kleiner 1\n"},
      {{1, 2, 1}, "titl groesser\n"},  // an empty album
      {{1, 3, 1}, ""},                 // a title file in the album place
      {{1, 3, 0}, ""},
  };
  for (const auto &refusal : refusals) {
    const title_position &a = refusal.asked;
    const std::string asked = "Ainterp" + std::to_string(a.interp) + "album" +
                              std::to_string(a.alb) + "title" + std::to_string(a.titl) + "\n";
    EXPECT_EQ(select(a.interp, a.alb, a.titl), asked + refusal.console);
    EXPECT_EQ(position_.close_input, 1);
    EXPECT_EQ(position(), (title_position{1, 1, 1}));
    EXPECT_EQ(pending(), (title_position{1, 1, 1}));
    EXPECT_EQ(position_.file_name, selected);
    EXPECT_EQ(sim::display_view().line1, shown.line1);
    EXPECT_EQ(sim::display_view().line2, shown.line2);
  }
}

TEST_F(SelectionTest, FolderInTheTitlePlaceIsSelectedButNotShown) {
  mount_and_scan(disc);
  select(1, 1, 1);
  const sim::display_snapshot shown = sim::display_view();
  EXPECT_EQ(select(1, 1, 3), "Ainterp1album1title3\nFILENAME: " + mount_point() + "/A/B/zz\n");
  EXPECT_EQ(position(), (title_position{1, 1, 3}));
  EXPECT_EQ(sim::display_view().line1, shown.line1);
  EXPECT_EQ(sim::display_view().line2, shown.line2);
}

TEST_F(SelectionTest, OddLibraryEndsAreRefusedWithoutACrash) {
  const struct {
    std::vector<std::string> entries;
    title_position asked;
    const char *console;  // after the "Ainterp" line
  } cases[] = {
      {{"A/B/x.mp3", "Z.mp3"}, {0, 1, 1}, "interp kleiner 1\n"},              // last artist a title
      {{"A/B/x.mp3", "Z/"}, {0, 1, 1}, "interp kleiner 1\nalb kleiner 1\n"},  // no albums
      {{"A/B/x.mp3", "Z/Y/"}, {0, 1, 1}, "interp kleiner 1\ntitl kleiner 1\n"},
      {{"A/B/x.mp3", "Z/y.mp3"}, {0, 1, 1}, "interp kleiner 1\n"},  // last album a title
      {{"0.mp3", "A/B/x.mp3"}, {3, 1, 1}, "interp groesser\n"},     // first artist a title
      {{"text:notes.txt"}, {1, 1, 1}, "interp groesser\n"},         // an empty library
      {{"text:notes.txt"}, {0, 1, 1}, "interp groesser\n"},
  };
  int n = 0;
  for (const auto &c : cases) {
    mount_and_scan(c.entries, "disc" + std::to_string(++n));
    position_.cur_interpret = position_.cur_album = position_.cur_title = 7;
    const std::string out = select(c.asked.interp, c.asked.alb, c.asked.titl);
    const std::string asked = "Ainterp" + std::to_string(c.asked.interp) + "album1title1\n";
    EXPECT_EQ(out, asked + c.console) << n;
    EXPECT_EQ(position(), (title_position{7, 7, 7})) << n;
    EXPECT_EQ(position_.close_input, 1) << n;
  }
}

// The line texts hold the display's bytes: one line of 40 cells each.
TEST_F(SelectionTest, LongNamesAreCutToOneLine) {
  const std::string artist(200, 'a'), album(200, 'b'), title(196, 't');
  mount_and_scan({artist + "/" + album + "/" + title + ".mp3"});
  select(1, 1, 1);
  EXPECT_EQ(std::string(position_.file_name),
            mount_point() + "/" + artist + "/" + album + "/" + title + ".mp3");
  EXPECT_EQ(std::string(position_.lcd_l1), artist.substr(0, sim::display_columns));
  EXPECT_EQ(std::string(position_.lcd_l2), title.substr(0, sim::display_columns));
  EXPECT_EQ(sim::display_view().line1, line(artist));
}

// Names as burned today: the display reads them as written, the drawn
// letters' patterns go in after the clear and before the lines, and the
// console keeps the names' own bytes.
TEST_F(SelectionTest, NamesShowAsWrittenWithTheirPatternsLoadedFirst) {
  mount_and_scan({"Mötley Crüe/Ärger in Åre/06 Back\\Slash~Tilde.mp3"});
  sim::clear_port_writes();
  const std::string out = select(1, 1, 1);
  EXPECT_NE(out.find("FILENAME: " + mount_point() +
                     "/Mötley Crüe/Ärger in Åre/06 Back\\Slash~Tilde.mp3\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(sim::display_view().line1, glass_line("Mötley Crüe -- Ärger in Åre"));
  EXPECT_EQ(sim::display_view().line2, glass_line("06 Back\\Slash~Tilde.mp3"));

  // The instruction bytes in order: each is followed by the control value
  // that clocks it into the instruction register.
  std::vector<unsigned char> instructions;
  const std::vector<sim::logged_write> writes = sim::port_writes();
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
    if (writes[i].port == 888 && writes[i + 1].value == 0xC9)
      instructions.push_back(writes[i].value);
  }
  EXPECT_EQ(instructions, (std::vector<unsigned char>{0x01, 0x40, 0x48, 0x50, 0x58, 0x80, 0xC0}));
  EXPECT_EQ(sim::display_busy_violations(), 0u);
}

TEST_F(SelectionTest, LibraryWithoutRootArrayEndsTheProcess) {
  static fs_entry bare_root{0, nullptr, nullptr};
  EXPECT_EXIT(
      {
        dup2(2, 1);
        position_.root_fs = &bare_root;
        open_file(position_, 1, 1, 1);
      },
      testing::ExitedWithCode(255), "^ wild error open_file !!!! exiting....\n$");
}

TEST_F(SelectionTest, KeyLoopAndReaderNeverSelectAtTheSameTime) {
  mount_and_scan(disc);
  testing::internal::CaptureStdout();
  auto keep_selecting = [this](unsigned int titl) {
    for (int i = 0; i < 10; ++i) open_file(position_, 1, 1, titl);
  };
  std::thread reader(keep_selecting, 1);
  keep_selecting(2);
  reader.join();
  testing::internal::GetCapturedStdout();
  const std::string expected =
      mount_point() + (position_.cur_title == 1 ? "/A/B/x.mp3" : "/A/B/y.mp3");
  EXPECT_EQ(std::string(position_.file_name), expected);
  EXPECT_EQ(std::string(position_.lcd_l2), position_.cur_title == 1 ? "x.mp3" : "y.mp3");
}

// A title's name may carry terminal queries: the console line shows them as
// escapes, the display a "?" for each control character.
TEST_F(SelectionTest, ControlBytesInTheNameReachNeitherDisplayNorConsole) {
  const std::string name =
      "q\x1b[6n\x9b"
      "5n\nx.mp3";
  mount_and_scan({"A\x1b[2J/B/" + name});
  const std::string out = select(1, 1, 1);
  const std::string file = mount_point() + "/A\\x1b[2J/B/q\\x1b[6n\\x9b5n\\x0ax.mp3";
  EXPECT_EQ(out, "Ainterp1album1title1\nFILENAME: " + file + "\nBinterp1album1title1\n");
  EXPECT_EQ(std::string(position_.file_name), mount_point() + "/A\x1b[2J/B/" + name);
  EXPECT_EQ(sim::display_view().line1, line("A?[2J -- B"));
  EXPECT_EQ(sim::display_view().line2, line("q?[6n?5n?x.mp3"));
}

}  // namespace
