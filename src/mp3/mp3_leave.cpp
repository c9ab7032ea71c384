// Leaving the MP3 mode (key X): the session's parts end in the reverse of
// the order they were made, with the console lines of each step. The
// threads are ended before anything they use goes away: the writer's
// stream is closed only once the writer is gone (closing it under a writer
// blocked in a write would wait for that write), and the ring only once
// neither thread can touch it. The decoder is told at once that its end is
// no failure, and ends last, by SIGTERM or, a second later, by SIGKILL.
#include "mp3/mp3_leave.h"

#include <cstdio>
#include <cstdlib>

#include "mp3/print_screen.h"

namespace {

constexpr char text_leave[] = " leave mp3 modus\n ";
constexpr char text_kill[] = " KILL %i %i\n";
constexpr char text_step_1[] = "1\n";
constexpr char text_step_2[] = "2\n";
constexpr char text_step_3[] = "3\n";
constexpr char text_step_4[] = "4\n";
constexpr char text_step_5[] = "5\n";
constexpr char text_step_7[] = "7\n";

// The kill line names two processes; the first one is the controller, which
// is never signalled and always shows as 0.
constexpr int controller_pid = 0;

}  // namespace

void leave_mp3_mode(mp3_session &session) {
  print_screen(text_leave, "");
  session.pipeline.pause();
  session.keys.reset();
  std::fputs(text_step_1, stdout);
  // X during the scan comes before the threads and the decoder.
  const bool playing_parts_made = session.pipeline.threads_running();
  if (playing_parts_made) {
    session.decoder.stop_replacing();
    std::printf(text_kill, controller_pid, static_cast<int>(session.decoder.pid()));
    std::fputs(text_step_1, stdout);
    std::fputs(text_step_2, stdout);
    std::fputs(text_step_3, stdout);
    session.pipeline.stop_reader();
    std::fputs(text_step_4, stdout);
    session.pipeline.stop_writer();
    std::fputs(text_step_5, stdout);
  }
  session.pipeline.close_pipe();
  std::fputs(text_step_7, stdout);
  if (playing_parts_made) {
    session.decoder.signal_end();
    std::printf(text_kill, controller_pid, static_cast<int>(session.decoder.pid()));
    session.decoder.await_end();
  }
  // The ordinary exit, not end_mode_process: no other thread runs any more,
  // and the session's destructors free the ring, the position and the
  // library.
  std::exit(0);
}
