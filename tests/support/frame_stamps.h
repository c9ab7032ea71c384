// Frames that say who they are. The disc generator writes identical silent
// frames; stamping each title's frames with the title's number and the
// frame's index lets a test read, from the bytes a decoder received, which
// frames came in which order.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "mkdisc/title_audio.h"

struct frame_id {
  int title = 0;  // as stamped; 0: a frame without a stamp
  int index = 0;  // 0 for a title's first frame
  bool operator==(const frame_id &other) const = default;
};

inline void PrintTo(const frame_id &frame, std::ostream *out) {
  *out << frame.title << ":" << frame.index;
}

// Stamps every whole frame of the title file at `path`, after a leading
// ID3v2 tag, over junk between frames, up to a "TAG" block. Returns the
// number of frames stamped.
int stamp_title(const std::string &path, int title);

// The stamps of the frames in a received stream, in order. Bytes that start
// no frame make the result end with a frame_id of title -1; the start of a
// frame cut short at the end of the stream is left out.
std::vector<frame_id> received_frames(const std::string &stream);

// The frames of `title` numbered `first` to `last`, in order.
std::vector<frame_id> frame_run(int title, int first, int last);

// Writes a disc of disc-generator entries ("A/B/t1.mp3", "A/B/empty/") into
// `folder` and stamps its titles, numbered 1, 2, ... in the entries' order.
void write_stamped_disc(const std::string &folder, const std::vector<std::string> &entries,
                        const mkdisc::title_options &titles);

// The whole contents of a file ("" when it does not exist).
std::string file_contents(const std::string &path);
