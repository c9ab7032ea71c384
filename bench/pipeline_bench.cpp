// The cost of the frame pipeline against the decoder's, measured in the
// same run on the same title of real encoder-made audio (synthesised music,
// lame at 128 kbit/s):
//  - reference: `mpg123 -q -t FILE`, the decoder reading the title itself
//    (decode only, no sound), CPU per frame;
//  - the reader and writer threads feeding a frame-sink that takes the
//    stream at a player's real-time pace, CPU per frame; the goal is at most
//    10% of the reference;
//  - the same threads feeding `mpg123 -q -t -` as fast as it decodes;
//  - throughput into an unpaced frame-sink against `cat FILE`;
//  - two threads passing a token back and forth through two semaphores and
//    doing nothing else: the two hand-offs that taking turns costs each
//    frame, CPU per round trip.
// The pipeline runs as in the MP3 mode: same ring, threads, frame pipe and
// stream, title selected through the library. CPU is user+system time, so
// that a loaded machine skews it little. Usage: pipeline_bench [SECONDS]
// (length of the title, 60 by default).
#include <fcntl.h>
#include <semaphore.h>

#include <cstdlib>
#include <mutex>
#include <thread>

#include "emu/machine.h"
#include "mp3/library.h"
#include "mp3/library_position.h"
#include "mp3/pipeline.h"
#include "mp3/selection.h"
#include "playback_support.h"

namespace {

constexpr int runs = 3;
unsigned int title_frames = 0;
fs_entry library_root;

struct pipeline_run {
  double wall_seconds = 0;
  double pipeline_cpu = 0;  // reader and writer threads
  double consumer_cpu = 0;  // the decoder or sink behind the pipe
};

void prepare_player(const std::string &disc) {
  sim::machine_config().cdrom_mount_point = disc;
  sim::reset_machine();
  library_root.dir = open_entry(disc.c_str(), &library_root.entrys, 1);
  library_root.name = disc.c_str();
}

double cpu_seconds(clockid_t clock) {
  timespec used{};
  clock_gettime(clock, &used);
  return used.tv_sec + used.tv_nsec / 1e9;
}

// CPU of every thread but this one: the reader's and the writer's.
double pipeline_cpu_seconds() {
  return cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
}

// Plays title 1 once through the pipeline into `consumer`.
pipeline_run run_pipeline(const std::vector<std::string> &consumer) {
  library_position position;
  position.root_fs = &library_root;
  frame_pipeline pipeline(position);
  {
    const std::lock_guard<std::mutex> hold(position.position_lock);
    open_file(position, 1, 1, 1);
  }
  if (!pipeline.open_pipe()) std::abort();
  pipeline.init_semaphores();
  if (!pipeline.open_stream()) std::abort();
  const pid_t decoder = bench::spawn(consumer, pipeline.take_read_end().get());

  pipeline_run run;
  const double cpu_before = pipeline_cpu_seconds();
  const std::int64_t start = bench::now_nanoseconds();
  if (!pipeline.start_threads(nullptr)) std::abort();
  pipeline.post_read();
  for (;;) {  // until the reader has moved on to title 2
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::lock_guard<std::mutex> hold(position.position_lock);
    if (position.cur_title != 1) break;
  }
  pipeline.stop();
  pipeline.stop_reader();
  pipeline.stop_writer();
  run.pipeline_cpu = pipeline_cpu_seconds() - cpu_before;
  pipeline.close_pipe();
  run.consumer_cpu = bench::wait_cpu_seconds(decoder);
  run.wall_seconds = (bench::now_nanoseconds() - start) / 1e9;
  return run;
}

// `cat FILE | frame-sink --no-pace`: wall time.
double cat_into_sink(const std::string &title) {
  int frames[2];
  if (pipe2(frames, O_CLOEXEC) != 0) std::abort();
  const std::int64_t start = bench::now_nanoseconds();
  const pid_t cat = bench::spawn({"cat", title}, -1, frames[1]);
  const pid_t sink = bench::spawn({bench::frame_sink(), "--no-pace"}, frames[0]);
  close(frames[0]);
  close(frames[1]);
  bench::wait_cpu_seconds(cat);
  bench::wait_cpu_seconds(sink);
  return (bench::now_nanoseconds() - start) / 1e9;
}

sem_t token_there, token_back;
constexpr int round_trips = 20000;

void *return_token(void *) {
  for (int i = 0; i < round_trips; ++i) {
    sem_wait(&token_there);
    sem_post(&token_back);
  }
  return nullptr;
}

// CPU of both threads per round trip, in microseconds.
double semaphore_round_trip() {
  sem_init(&token_there, 0, 0);
  sem_init(&token_back, 0, 0);
  timespec before{}, after{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  pthread_t partner;
  if (pthread_create(&partner, nullptr, return_token, nullptr) != 0) std::abort();
  for (int i = 0; i < round_trips; ++i) {
    sem_post(&token_there);
    sem_wait(&token_back);
  }
  pthread_join(partner, nullptr);
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  sem_destroy(&token_there);
  sem_destroy(&token_back);
  const double seconds =
      static_cast<double>(after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
  return seconds / round_trips * 1e6;
}

double median_per_frame(const std::vector<double> &seconds) {
  return bench::median(seconds) / title_frames * 1e6;
}

}  // namespace

int main(int argc, char **argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  if (seconds <= 0) return 2;
  const std::string disc = std::filesystem::temp_directory_path() /
                           ("discbox-pipeline-bench-" + std::to_string(getpid()));
  const std::string title = disc + "/A/B/t1.mp3";
  if (!bench::encode_music(title, seconds, 220) ||
      !bench::encode_music(disc + "/A/B/t2.mp3", 1, 330)) {
    std::fprintf(stderr, "sox or lame failed: scripts/install-deps.sh installs them\n");
    return 1;
  }
  title_frames = bench::count_frames(title);
  // The player's console lines would drown the report.
  FILE *report = fdopen(dup(STDOUT_FILENO), "w");
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  prepare_player(disc);

  std::fprintf(report, "title: %u frames (%d s of lame-encoded music at 128 kbit/s)\n\n",
               title_frames, seconds);
  if (!bench::on_path("mpg123")) {
    std::fprintf(report, "mpg123 not found (scripts/install-deps.sh test installs it)\n");
    std::filesystem::remove_all(disc);
    return 1;
  }
  std::vector<double> decoder_alone, fed_pipeline, decoder_fed;
  for (int i = 0; i < 2 * runs - 1; ++i) {
    decoder_alone.push_back(
        bench::wait_cpu_seconds(bench::spawn({"mpg123", "-q", "-t", title}, -1)));
  }
  const pipeline_run paced = run_pipeline({bench::frame_sink()});
  for (int i = 0; i < runs; ++i) {
    const pipeline_run run = run_pipeline({"mpg123", "-q", "-t", "-"});
    fed_pipeline.push_back(run.pipeline_cpu);
    decoder_fed.push_back(run.consumer_cpu);
  }
  const double reference = median_per_frame(decoder_alone);
  const double own = paced.pipeline_cpu / title_frames * 1e6;
  std::fprintf(report, "CPU per frame (user+sys)\n");
  std::fprintf(report, "  mpg123 -q -t FILE (reference decoder)   %7.2f us\n", reference);
  std::fprintf(report, "  pipeline threads, real-time pace        %7.2f us\n", own);
  std::fprintf(report, "  pipeline threads, into mpg123 -t -      %7.2f us\n",
               median_per_frame(fed_pipeline));
  std::fprintf(report, "  mpg123 -q -t - fed by the pipeline      %7.2f us\n",
               median_per_frame(decoder_fed));
  std::fprintf(report,
               "  pipeline / reference decoder            %7.1f %%  (goal: at most 10 %%)\n",
               own / reference * 100);
  const double round_trip = semaphore_round_trip();
  std::fprintf(report,
               "  semaphore round trip, two threads       %7.2f us  (%.1f %% of the decoder)\n",
               round_trip, round_trip / reference * 100);
  // A decoder left waiting for frames plays late: the paced run then lasts
  // longer than the title.
  std::fprintf(report, "  real-time run: %.2f s for a title of %.2f s\n\n", paced.wall_seconds,
               title_frames * 1152 / 44100.0);
  std::vector<double> pipeline_wall, cat_wall;
  for (int i = 0; i < runs; ++i) {
    pipeline_wall.push_back(run_pipeline({bench::frame_sink(), "--no-pace"}).wall_seconds);
    cat_wall.push_back(cat_into_sink(title));
  }
  const double pipeline_rate = title_frames / bench::median(pipeline_wall);
  const double cat_rate = title_frames / bench::median(cat_wall);
  std::fprintf(report, "Throughput into frame-sink --no-pace\n");
  std::fprintf(report, "  cat FILE (reference)   %10.0f frames/s\n", cat_rate);
  std::fprintf(report,
               "  pipeline               %10.0f frames/s  (%.1f x real time, %.2f of cat)\n",
               pipeline_rate, pipeline_rate / (44100.0 / 1152), pipeline_rate / cat_rate);
  std::filesystem::remove_all(disc);
  return 0;
}
