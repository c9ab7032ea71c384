// The CD-ROM drive: table of contents, audio status, playback on the drive
// itself, random order without repeats, pause, stop, eject.
//
// A drive that refuses to play audio (no analog output) gets digital
// playback instead: the disc's sectors are read and played through the PCM
// player, and every operation and status query behaves as it does with a
// drive that plays by itself.
//
// Operations return 1 when they did their work and 0 when they refused or the
// drive request that decides them failed. The class talks to the drive only
// through the platform's drive_* calls (linux/cdrom.h requests).
#pragma once

#include <linux/cdrom.h>

#include "audio/digital_player.h"
#include "platform/platform.h"
#include "util/unique_fd.h"

class cd {
 public:
  int current_t;  // track reported current by the last successful status query

  cd();
  int read_status();
  int open();
  int close();
  int play(int start, int end);
  int play(int track);
  int random(int flag);
  int random();
  int stop();
  int pause();
  int resume();
  int eject();
  int set_volume(int vol);
  int next();
  int previous();
  int tracks();
  int current();
  int paused();
  int playing();
  int inside();
  int read_info();
  void tracks_clear();
  // A status query without the completion handling: refreshes current_t,
  // Paused and Playing, and starts nothing when the play has completed.
  int read_position();
  // The detection's test play of one track: as play(track). Digital
  // playback only reads the track ahead and sounds nothing until a play from
  // the same track follows (the audio mode's play of the whole disc), which
  // then plays on with what was read: the disc's first sectors sound once.
  int test_play(int track);

  static constexpr int max_tracks = 99;

 private:
  int new_cd();
  int next_random();
  int query_inside();
  int track_played(int n);
  void mark_track(int n);
  int number_of_tracks_played();
  void forget_disc();
  int query_status(bool handle_completion);
  void stop_drive();
  // Ends whatever plays: the stream, the quiet speed and the drive's play.
  void stop_playing();
  int start_play(int start, int end, bool sound);
  int play_digitally(int start, int end, bool sound);
  void quiet_drive();
  void full_speed();
  bool disc_still_there();
  int track_of_frame(int frame);

  // The open drive; closed through the seam, as it was opened.
  util::unique_descriptor<platform::drive_close> fd;
  int Paused;
  int Playing;
  int cd_inside;
  int ok;
  int tracks_num;
  int random_play;
  int tracks_played[max_tracks];
  cdrom_msf0 track[max_tracks + 2];
  unsigned char track_control[max_tracks + 2];  // each track's TOC control bits
  digital_player digital;                       // for drives that refuse to play audio
  // This disc's drive refused PLAY AUDIO: plays go to the digital player
  // straight away, without drive requests that would wait behind its reads.
  bool refuses_audio = false;
  bool speed_asked = false;    // the quiet speed was asked for since the last stop
  bool speed_lowered = false;  // and the drive took it
};

// The one drive controller, shared by the control loop and the audio-CD mode
// (defined in ctl/globals.cpp). The MP3 mode's process gets its own copy at
// the fork and never uses it.
extern cd audio;
