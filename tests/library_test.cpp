// The library scan on generated discs, node by node: which files and
// folders are kept, the "!player" rule, the album-level console line, the
// progress text, and the hostile discs that must not crash, flood or hang
// the scan or lead it off the disc.
#include "mp3/library.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "emu/display.h"
#include "mkdisc/title_audio.h"
#include "support/mp3_disc_fixture.h"

namespace {

using name_list = std::vector<std::string>;

class LibraryTest : public mp3_disc_fixture {
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
  ASSERT_EQ(names(root), (name_list{"artist01", "artist02"}));
  for (const fs_entry *artist : {root.dir[0].get(), root.dir[1].get()}) {
    ASSERT_EQ(names(*artist), (name_list{"album01", "album02"}));
    for (const fs_entry *album : {artist->dir[0].get(), artist->dir[1].get()}) {
      EXPECT_EQ(names(*album), (name_list{"title01.mp3", "title02.mp3", "title03.mp3"}));
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
  ASSERT_EQ(names(root), (name_list{"!Player", "!player", "A", "E", "F", "P", "T", "x.mp3"}));
  EXPECT_EQ(names(*root.dir[0]), name_list{"in.mp3"});
  EXPECT_EQ(root.dir[1]->entrys, -1);  // a file named like the hidden folders is a title
  EXPECT_EQ(names(*root.dir[2]), (name_list{"B", "y.mp3"}));
  EXPECT_EQ(root.dir[2]->dir[0]->entrys, 0);
  EXPECT_EQ(root.dir[3]->entrys, 0);
  EXPECT_EQ(names(*root.dir[4]), (name_list{"ok.mp3", "padded.mp3"}));
  EXPECT_EQ(names(*root.dir[5]), name_list{"Q"});
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
  std::snprintf(expected, sizeof expected, "B%p", static_cast<const void *>(b3.dir[0]->name));
  EXPECT_EQ(lines_starting(console_, "B0x"), name_list{expected});
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

  EXPECT_EQ(names(*root.dir[0]->dir[0]), (name_list{"plain.mp3", "v3.mp3", "v4 footer.mp3"}));
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
  ASSERT_EQ(names(root), name_list{"A"});
  ASSERT_EQ(names(*root.dir[0]), name_list{"B"});
  EXPECT_EQ(names(*root.dir[0]->dir[0]), (name_list{"link.mp3", "x.mp3"}));
  EXPECT_EQ(NR_files, 2u);
  const std::string mp = mount_point();
  EXPECT_EQ(lines_starting(console_, "link leads off the disc"),
            (name_list{"link leads off the disc, skipped: " + mp + "/dangling",
                       "link leads off the disc, skipped: " + mp + "/outside",
                       "link leads off the disc, skipped: " + mp + "/root"}));
  EXPECT_EQ(lines_starting(console_, "folder already on the path"),
            (name_list{"folder already on the path, skipped: " + mp + "/A/B/up",
                       "folder already on the path, skipped: " + mp + "/A/self",
                       "folder already on the path, skipped: " + mp + "/A/top"}));
  EXPECT_EQ(lines_starting(console_, "folder scanned already"),
            name_list{"folder scanned already, skipped: " + mp + "/A/C"});
}

// Twenty folders, each with two links to the next: 2^20 ways down to one
// title. Each real folder is scanned once, so the scan's work and its
// console lines follow the 21 folders, not the ways through them.
TEST_F(LibraryTest, WebOfLinksScansEachRealFolderOnce) {
  std::vector<std::string> entries;
  for (int level = 0; level < 20; ++level) entries.push_back("l" + std::to_string(level) + "/");
  entries.push_back("l20/t.mp3");
  const std::string disc = make_disc(entries);
  for (int level = 0; level < 20; ++level) {
    const std::string from = disc + "/l" + std::to_string(level) + "/";
    const std::string to = "../l" + std::to_string(level + 1);
    ASSERT_EQ(symlink(to.c_str(), (from + "a").c_str()), 0);
    ASSERT_EQ(symlink(to.c_str(), (from + "b").c_str()), 0);
  }
  mount(disc);
  const fs_entry &root = scan_quietly();

  expect_well_formed(root);
  EXPECT_EQ(NR_files, 1u);
  // Each folder is kept once, where the scan first met it: l0, then l0/a
  // (l1), and so on down the "a" links.
  const fs_entry *folder = &root;
  for (int level = 0; level <= 21; ++level) {
    ASSERT_EQ(folder->entrys, 1) << level;
    folder = folder->dir[0].get();
  }
  EXPECT_STREQ(folder->name, "t.mp3");
  EXPECT_EQ(lines_starting(console_, "folder scanned already").size(), 40u);  // each "b", l1..l20
  EXPECT_EQ(lines_starting(console_, "LCD2:").size(), 22u);                   // a line a folder
}

// Bounded descriptors, memory and time on a tree deeper than any path the
// player can hold: the scan stops at the path limit with one line.
TEST_F(LibraryTest, DeepTreeStopsAtThePathLimit) {
  const std::string disc = make_disc({"A/B/x.mp3"});
  int folder = open(disc.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; level < 1000 && folder >= 0; ++level) {
    ASSERT_EQ(mkdirat(folder, "d", 0755), 0);
    const int child = openat(folder, "d", O_RDONLY | O_DIRECTORY);
    close(folder);
    folder = child;
  }
  ASSERT_GE(folder, 0);
  close(folder);
  mount(disc);
  const fs_entry &root = scan_quietly();

  expect_well_formed(root);
  EXPECT_EQ(NR_files, 1u);
  EXPECT_EQ(lines_starting(console_, "path too long, skipped: ").size(), 1u);
}

// FIFOs and device nodes are passed over without being opened: opening a
// FIFO would wait for a writer forever.
TEST_F(LibraryTest, FifosAndDevicesArePassedOverUnopened) {
  const std::string disc = make_disc({"A/B/x.mp3"});
  ASSERT_EQ(mkfifo((disc + "/A/B/fifo.mp3").c_str(), 0644), 0);
  // A device node needs CAP_MKNOD, which some containers lack; the FIFO is
  // the case that would hang.
  mknod((disc + "/A/B/null.mp3").c_str(), S_IFCHR | 0644, makedev(1, 3));
  ASSERT_EQ(symlink("fifo.mp3", (disc + "/A/B/to fifo.mp3").c_str()), 0);
  mount(disc);
  const fs_entry &root = scan_quietly();

  EXPECT_EQ(names(*root.dir[0]->dir[0]), name_list{"x.mp3"});
  EXPECT_EQ(console_.find("_NO_FILE"), std::string::npos) << console_;
}

// Names are kept with their own bytes (the display shows them); whatever
// the scan prints of them carries no control byte.
TEST_F(LibraryTest, ControlBytesInNamesNeverReachTheConsole) {
  std::string every_control;
  for (int byte = 1; byte < 0x20; ++byte) {
    if (byte != '\n') every_control += static_cast<char>(byte);
  }
  every_control += "\x7f\xc2\x9b\x9b";
  const std::string disc = make_disc({"A/B/x.mp3"});
  for (const std::string &name : {every_control, std::string("q\x1b[6n\nnext")}) {
    ASSERT_EQ(mkdir((disc + "/A/" + name).c_str(), 0755), 0);
    ASSERT_EQ(symlink("/", (disc + "/A/" + name + "/off").c_str()), 0);
  }
  mount(disc);
  const fs_entry &root = scan_quietly();

  EXPECT_EQ(names(*root.dir[0]), (name_list{"\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0b\x0c\x0d\x0e"
                                            "\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a"
                                            "\x1b\x1c\x1d\x1e\x1f\x7f\xc2\x9b\x9b",
                                            "B", "q\x1b[6n\nnext"}));
  const name_list off = lines_starting(console_, "link leads off the disc");
  ASSERT_EQ(off.size(), 2u) << console_;
  EXPECT_EQ(off[0], "link leads off the disc, skipped: " + mount_point() +
                        "/A/\\x01\\x02\\x03\\x04\\x05\\x06\\x07\\x08\\x09\\x0b\\x0c\\x0d"
                        "\\x0e\\x0f\\x10\\x11\\x12\\x13\\x14\\x15\\x16\\x17\\x18\\x19"
                        "\\x1a\\x1b\\x1c\\x1d\\x1e\\x1f\\x7f\\xc2\\x9b\\x9b/off");
  EXPECT_EQ(off[1],
            "link leads off the disc, skipped: " + mount_point() + "/A/q\\x1b[6n\\x0anext/off");
  for (const char c : console_) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte == '\n' || (byte >= 0x20 && byte != 0x7f && byte < 0x80)) << int{byte};
  }
}

// At the ceiling the scan lists nothing more and keeps what it found: here
// the root's 3 names, artist01's 2 and album01's 5 make the 10 entries.
TEST_F(LibraryTest, CeilingStopsTheScanWithOneLineAndKeepsWhatWasFound) {
  mkdisc::layout_options layout;
  layout.artists = 3;
  layout.titles = 5;
  layout.human_names = false;
  mount(make_disc(layout, {}));
  scan_options options;
  options.entry_ceiling = 10;
  testing::internal::CaptureStdout();
  int artists = 0;
  fs_entry_children dir = open_entry(mount_point().c_str(), &artists, 1, options);
  console_ = testing::internal::GetCapturedStdout();
  fs_entry root{artists, std::move(dir), "root"};

  expect_well_formed(root);
  ASSERT_EQ(names(root), name_list{"artist01"});
  ASSERT_EQ(names(*root.dir[0]), (name_list{"album01", "album02"}));
  EXPECT_EQ(root.dir[0]->dir[0]->entrys, 5);
  EXPECT_EQ(root.dir[0]->dir[1]->entrys, 0);
  EXPECT_EQ(NR_files, 5u);
  EXPECT_EQ(lines_starting(console_, "scan stopped"),
            name_list{"scan stopped after 10 entries: the library keeps what was found"});
}

// The watch sees every folder and file the scan looks at, in scan order.
TEST_F(LibraryTest, WatchIsCalledForEveryEntryLookedAt) {
  mount(make_disc({"A/B/x.mp3", "A/B/y.mp3", "text:A/n.txt", "C/"}));
  int calls = 0;
  scan_options options;
  options.watch = [](void *context) { ++*static_cast<int *>(context); };
  options.context = &calls;
  testing::internal::CaptureStdout();
  int artists = 0;
  open_entry(mount_point().c_str(), &artists, 1, options);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(calls, 6);  // A, A/B, x, y, n.txt, C
}

TEST_F(LibraryTest, PathsTooLongForTheBufferAreSkipped) {
  const std::string long_name(250, 'n');
  const std::string deep = "A/" + long_name + "/" + long_name + "/" + long_name;
  mount(make_disc({deep + "/x.mp3", deep + "/" + long_name + ".mp3"}));
  const fs_entry &root = scan_quietly();

  const fs_entry *folder = root.dir[0].get();
  for (int level = 0; level < 3; ++level) folder = folder->dir[0].get();
  EXPECT_EQ(names(*folder), name_list{"x.mp3"});
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

// A status read that fails (as EIO does on a scratched disc) costs only
// that entry: the scan goes on with the rest of the disc.
TEST_F(LibraryTest, EntryWithoutStatusIsSkippedAndTheScanGoesOn) {
  const std::string disc = make_disc({"A/B/x.mp3", "A/C/y.mp3", "D/E/z.mp3"});
  mount(disc);
  ASSERT_EQ(chmod((disc + "/A").c_str(), 0444), 0);  // listable, but no entry can be looked at
  EXPECT_EXIT(
      {
        lose_permission_override();
        dup2(2, 1);
        const fs_entry &root = scan();
        const bool rest_kept = root.entrys == 2 && root.dir[0]->entrys == 0 &&
                               root.dir[1]->entrys == 1 && NR_files == 1;
        std::fflush(stdout);
        std::_Exit(rest_kept ? 0 : 1);
      },
      testing::ExitedWithCode(0),
      "entry cannot be read, skipped: [^\n]*/A/B\nentry cannot be read, skipped: [^\n]*/A/C\n");
  chmod((disc + "/A").c_str(), 0755);
}

}  // namespace
