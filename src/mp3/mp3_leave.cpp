// Leaving the MP3 mode (key X). The threads are ended before anything they
// use goes away: the writer's stream is closed only once the writer is gone
// (closing it under a writer blocked in a write would wait for that write),
// and the ring is freed only once neither thread can touch it. The decoder
// ends last, by SIGTERM or, a second later, by SIGKILL.
#include "mp3/mp3_leave.h"

#include <cstdio>
#include <cstdlib>

#include "ctl/ctl.h"
#include "mp3/decoder.h"
#include "mp3/display_lines.h"
#include "mp3/frame_pipe.h"
#include "mp3/pipeline.h"
#include "mp3/print_screen.h"
#include "mp3/ring.h"

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
  player_status = status_paused;
  session.keys.reset();
  std::fputs(text_step_1, stdout);
  if (session.pipeline_started) {
    stop_replacing_decoder();
    std::printf(text_kill, controller_pid, static_cast<int>(decoder_pid()));
    std::fputs(text_step_1, stdout);
    std::fputs(text_step_2, stdout);
    std::fputs(text_step_3, stdout);
    stop_reader(session.read_th);
    std::fputs(text_step_4, stdout);
    stop_writer(session.write_th);
    std::fputs(text_step_5, stdout);
  }
  close_frame_pipe();
  free_ring_semaphores();
  free_display_lines();
  free_ring();
  std::fputs(text_step_7, stdout);
  if (session.pipeline_started) {  // and so the decoder, started right after it
    signal_decoder_to_end();
    std::printf(text_kill, controller_pid, static_cast<int>(decoder_pid()));
    await_decoder_end();
  }
  // The ordinary exit, not end_mode_process: no other thread runs any more.
  std::exit(0);
}
