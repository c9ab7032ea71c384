// The library scan on generated discs, node by node: which files and
// folders are kept, the "!player" rule, the album-level console line, the
// progress text, and the hostile discs that must not crash the scan or lead
// it off the disc.
#include "mp3/library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ctl/ctl.h"
#include "emu/display.h"
#include "mkdisc/title_audio.h"
#include "support/mp3_disc_fixture.h"

namespace {

using Names = std::vector<std::string>;

class LibraryTest : public Mp3DiscFixture {
 protected:
  // Scans with the console captured.
  fs_entry &scan_quietly() {
    testing::internal::CaptureStdout();
    fs_entry &root = scan();
    console_ = testing::internal::GetCapturedStdout();
    return root;
  }
  std::string console_;
};

// Every folder's array ends right after its kept children; titles have none.
void expect_well_formed(const fs_entry &node) {
  if (node.dir == nullptr) {
    EXPECT_EQ(node.entrys, -1) << node.name;
    return;
  }
  ASSERT_GE(node.entrys, 0) << node.name;
  EXPECT_EQ(node.dir[node.entrys], nullptr) << node.name;
  for (int i = 0; i < node.entrys; ++i) expect_well_formed(*node.dir[i]);
}

TEST_F(LibraryTest, GeneratedDiscKeepsFoldersAndTitlesOnly) {
  mkdisc::layout_options layout;
  layout.artists = 2;
  layout.titles = 3;
  layout.human_names = false;
  layout.non_titles = true;
  layout.player_folders = true;
  mount(make_disc(layout, {}));
  const fs_entry &root = scan_quietly();

  expect_well_formed(root);
  ASSERT_EQ(names(root), (Names{"artist01", "artist02"}));
  for (const fs_entry *artist : {root.dir[0], root.dir[1]}) {
    ASSERT_EQ(names(*artist), (Names{"album01", "album02"}));
    for (const fs_entry *album : {artist->dir[0], artist->dir[1]}) {
      EXPECT_EQ(names(*album), (Names{"title01.mp3", "title02.mp3", "title03.mp3"}));
    }
  }
  EXPECT_EQ(NR_files, 12u);
  EXPECT_EQ(lines_starting(console_, "B0x").size(), 4u);
  EXPECT_EQ(lines_starting(console_, "LCD2:").back(), "LCD2:scan CD content... 12 titles");
  EXPECT_EQ(sim::display_view().line2.substr(0, 29), "scan CD content... 12 titles ");
}

TEST_F(LibraryTest, EdgesOfTheKeepRule) {
  const std::string disc =
      make_disc({"x.mp3", "!player", "!Player/in.mp3", "P/!player/hidden.mp3",
                 "P/!PLAYER/hidden.mp3", "P/Q/", "A/y.mp3", "A/B/", "E/", "text:T/notes.txt",
                 "F/ok.mp3", "free:F/free.mp3", "short:F/three.mp3"});
  write_file("disc/F/padded.mp3", mpeg_bytes(0x02));  // length 1: usable
  write_file("disc/F/text.mp3", "ID3 is not a tag without its header\n");
  mount(disc);
  const fs_entry &root = scan_quietly();

  expect_well_formed(root);
  ASSERT_EQ(names(root), (Names{"!Player", "!player", "A", "E", "F", "P", "T", "x.mp3"}));
  EXPECT_EQ(names(*root.dir[0]), Names{"in.mp3"});
  EXPECT_EQ(root.dir[1]->entrys, -1);  // a file named like the hidden folders is a title
  EXPECT_EQ(names(*root.dir[2]), (Names{"B", "y.mp3"}));
  EXPECT_EQ(root.dir[2]->dir[0]->entrys, 0);
  EXPECT_EQ(root.dir[3]->entrys, 0);
  EXPECT_EQ(names(*root.dir[4]), (Names{"ok.mp3", "padded.mp3"}));
  EXPECT_EQ(names(*root.dir[5]), Names{"Q"});
  EXPECT_EQ(root.dir[6]->entrys, 0);
  EXPECT_EQ(root.dir[7]->entrys, -1);
  EXPECT_EQ(NR_files, 6u);
  EXPECT_EQ(lines_starting(console_, "B0x").size(), 0u);
}

TEST_F(LibraryTest, AlbumLineOnlyForAlbumsOfThreeOrMore) {
  mount(make_disc({"A/B3/1.mp3", "A/B3/2.mp3", "A/B3/3.mp3", "A/B2/1.mp3", "A/B2/2.mp3", "C/1.mp3",
                   "C/2.mp3", "C/3.mp3", "D/E/F/1.mp3", "D/E/F/2.mp3", "D/E/F/3.mp3"}));
  const fs_entry &root = scan_quietly();

  const fs_entry &b3 = *root.dir[0]->dir[1];
  ASSERT_STREQ(b3.name, "B3");
  char expected[64];
  std::snprintf(expected, sizeof expected, "B%p", static_cast<void *>(b3.dir[0]->name));
  EXPECT_EQ(lines_starting(console_, "B0x"), Names{expected});
}

TEST_F(LibraryTest, TitlesAfterAnId3v2TagAreKept) {
  const std::string disc = make_disc({"A/B/plain.mp3"});
  mkdisc::title_options tagged;
  tagged.id3v2 = true;
  tagged.id3v2_padding = 300;
  auto bytes = [](const mkdisc::title_options &options) {
    const std::vector<std::uint8_t> file = mkdisc::title_bytes(options, {"t", "a", "b"}, 1);
    return std::string(file.begin(), file.end());
  };
  write_file("disc/A/B/v3.mp3", bytes(tagged));
  tagged.id3v2_footer = true;
  write_file("disc/A/B/v4 footer.mp3", bytes(tagged));
  const std::string frames = bytes({});
  write_file("disc/A/B/size not syncsafe.mp3", std::string("ID3\3\0\0\0\0\x80\0", 10) + frames);
  write_file("disc/A/B/tag then text.mp3", std::string("ID3\3\0\0\0\0\0\0", 10) + "text" + frames);
  write_file("disc/A/B/tag past the end.mp3", std::string("ID3\3\0\0\0\0\x7F\0", 10) + frames);
  mount(disc);
  const fs_entry &root = scan_quietly();

  EXPECT_EQ(names(*root.dir[0]->dir[0]), (Names{"plain.mp3", "v3.mp3", "v4 footer.mp3"}));
}

TEST_F(LibraryTest, LinksNeverLeadOffTheDiscOrBackUp) {
  const std::string disc = make_disc({"A/B/x.mp3"});
  const std::string elsewhere = make_disc({"y.mp3"}, {}, "elsewhere");
  for (const auto &[link, target] :
       std::vector<std::pair<std::string, std::string>>{{"root", "/"},
                                                        {"outside", elsewhere},
                                                        {"dangling", "nowhere"},
                                                        {"A/self", "."},
                                                        {"A/top", ".."},
                                                        {"A/B/up", ".."},
                                                        {"A/C", "B"},
                                                        {"A/B/link.mp3", "x.mp3"}}) {
    ASSERT_EQ(symlink(target.c_str(), (disc + "/" + link).c_str()), 0) << link;
  }
  mount(disc);
  const fs_entry &root = scan_quietly();

  expect_well_formed(root);
  ASSERT_EQ(names(root), Names{"A"});
  ASSERT_EQ(names(*root.dir[0]), (Names{"B", "C"}));
  EXPECT_EQ(names(*root.dir[0]->dir[0]), (Names{"link.mp3", "x.mp3"}));
  EXPECT_EQ(names(*root.dir[0]->dir[1]), (Names{"link.mp3", "x.mp3"}));
  EXPECT_EQ(NR_files, 4u);
  const std::string mp = mount_point();
  EXPECT_EQ(lines_starting(console_, "link leads off the disc"),
            (Names{"link leads off the disc, skipped: " + mp + "/dangling",
                   "link leads off the disc, skipped: " + mp + "/outside",
                   "link leads off the disc, skipped: " + mp + "/root"}));
  EXPECT_EQ(lines_starting(console_, "folder already on the path"),
            (Names{"folder already on the path, skipped: " + mp + "/A/B/up",
                   "folder already on the path, skipped: " + mp + "/A/C/up",
                   "folder already on the path, skipped: " + mp + "/A/self",
                   "folder already on the path, skipped: " + mp + "/A/top"}));
}

TEST_F(LibraryTest, PathsTooLongForTheBufferAreSkipped) {
  const std::string long_name(250, 'n');
  const std::string deep = "A/" + long_name + "/" + long_name + "/" + long_name;
  mount(make_disc({deep + "/x.mp3", deep + "/" + long_name + ".mp3"}));
  const fs_entry &root = scan_quietly();

  const fs_entry *folder = root.dir[0];
  for (int level = 0; level < 3; ++level) folder = folder->dir[0];
  EXPECT_EQ(names(*folder), Names{"x.mp3"});
  EXPECT_EQ(lines_starting(console_, "path too long, skipped: ").size(), 1u);
}

// The next two take away root's override of file permissions, so they run
// in a child of their own (a death test) and report through its end.
TEST_F(LibraryTest, FolderThatCannotBeListedCountsAsEmpty) {
  const std::string disc = make_disc({"A/B/x.mp3", "A/C/y.mp3"});
  mount(disc);
  ASSERT_EQ(chmod((disc + "/A/C").c_str(), 0), 0);
  EXPECT_EXIT(
      {
        lose_permission_override();
        dup2(2, 1);
        const fs_entry &root = scan();
        const fs_entry &artist = *root.dir[0];
        const bool kept_empty = artist.entrys == 2 && artist.dir[1]->entrys == 0;
        std::fflush(stdout);
        std::_Exit(kept_empty && NR_files == 1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "unable to list folder [^\n]*/A/C\n");
  chmod((disc + "/A/C").c_str(), 0755);
}

TEST_F(LibraryTest, EntryWithoutStatusEndsTheScanNamingTheFolderStart) {
  const std::string disc = make_disc({"A/B/x.mp3", "A/C/y.mp3"});
  mount(disc);
  ASSERT_EQ(chmod((disc + "/A").c_str(), 0444), 0);  // listable, but no entry can be looked at
  EXPECT_EXIT(
      {
        lose_permission_override();
        dup2(2, 1);
        scan();
      },
      testing::ExitedWithCode(255), "open_entry_2 error4\n/\nexiting :-\\(\n");
  chmod((disc + "/A").c_str(), 0755);
}

}  // namespace
