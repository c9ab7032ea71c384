// The cost of the frame pipeline, each figure against a reference measured
// in the same run on the same 10-minute 128 kbit/s title:
//  - CPU: the reader and writer threads feeding `mpg123 -q -t -` against
//    `mpg123 -q -t FILE` reading the title itself (decode only, no sound);
//    the goal is a pipeline that costs at most 10% of the decoder's CPU;
//  - throughput: the pipeline into an unpaced frame-sink against
//    `cat FILE | frame-sink --no-pace`.
// The pipeline runs as in the MP3 mode: same ring, same threads, same
// one-page pipe, title selected through the library.
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>

#include <cstdlib>
#include <mutex>
#include <thread>

#include "ctl/ctl.h"
#include "emu/machine.h"
#include "mp3/library.h"
#include "mp3/pipeline.h"
#include "mp3/selection.h"
#include "playback_support.h"

namespace {

constexpr unsigned int title_frames = 22969;  // 600 s of 1152-sample frames at 44100 Hz
constexpr int runs = 3;

struct pipeline_run {
  double wall_seconds = 0;
  double pipeline_cpu = 0;  // reader and writer threads
  double consumer_cpu = 0;  // the decoder or sink behind the pipe
};

void prepare_player(const std::string &disc) {
  sim::machine_config().cdrom_mount_point = disc;
  sim::reset_machine();
  file_name = static_cast<char *>(std::calloc(file_name_bytes, 1));
  lcd_l1 = static_cast<char *>(std::calloc(lcd_line_bytes, 1));
  lcd_l2 = static_cast<char *>(std::calloc(lcd_line_bytes, 1));
  for (int slot = 0; slot < ring_slots; ++slot) {
    buffer[slot] = static_cast<unsigned char *>(std::calloc(slot_bytes, 1));
    frame_size[slot] = static_cast<int *>(std::calloc(1, sizeof(int)));
  }
  static sem_t semaphores[3];
  readS = &semaphores[0];
  writeS = &semaphores[1];
  pauseS = &semaphores[2];
  static fs_entry root;
  static fs_entry *root_cell = &root;
  root.dir = open_entry(disc.c_str(), &root.entrys, 1);
  root.name = const_cast<char *>(disc.c_str());
  root_fs = &root_cell;
}

double thread_cpu_seconds(pthread_t thread) {
  clockid_t clock;
  timespec used{};
  if (pthread_getcpuclockid(thread, &clock) == 0) clock_gettime(clock, &used);
  return used.tv_sec + used.tv_nsec / 1e9;
}

// Plays title 1 once through the pipeline into `consumer`.
pipeline_run run_pipeline(const std::vector<std::string> &consumer) {
  for (sem_t *semaphore : {readS, writeS, pauseS}) sem_init(semaphore, 0, 0);
  for (int *cell : frame_size) *cell = 0;
  read_buffer = 0;
  write_buffer = -1;
  buffer_stat = 0;
  player_status = status_playing;
  {
    const std::lock_guard<std::mutex> hold(position_lock);
    open_file(1, 1, 1);
  }
  int frames[2];
  if (pipe2(frames, O_CLOEXEC) != 0) std::abort();
  fcntl(frames[1], F_SETPIPE_SZ, static_cast<int>(sysconf(_SC_PAGESIZE)));
  const pid_t decoder = bench::spawn(consumer, frames[0]);
  close(frames[0]);
  write_f = fdopen(frames[1], "w");

  pipeline_run run;
  const std::int64_t start = bench::now_nanoseconds();
  pthread_t reader, writer;
  if (!start_pipeline(reader, writer)) std::abort();
  sem_post(readS);
  for (;;) {  // until the reader has moved on to title 2
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::lock_guard<std::mutex> hold(position_lock);
    if (cur_title != 1) break;
  }
  player_status = status_stopped;
  run.pipeline_cpu = thread_cpu_seconds(reader) + thread_cpu_seconds(writer);
  stop_reader(reader);
  stop_writer(writer);
  std::fclose(write_f);
  run.consumer_cpu = bench::wait_cpu_seconds(decoder);
  run.wall_seconds = (bench::now_nanoseconds() - start) / 1e9;
  for (sem_t *semaphore : {readS, writeS, pauseS}) sem_destroy(semaphore);
  return run;
}

// The floor that strict alternation sets: two threads handing a turn to
// each other through two semaphores, once per frame, doing nothing else.
double hand_off_cpu_seconds() {
  sem_t turn[2];
  for (sem_t &semaphore : turn) sem_init(&semaphore, 0, 0);
  std::thread partner([&turn] {
    for (unsigned int i = 0; i < title_frames; ++i) {
      sem_wait(&turn[1]);
      sem_post(&turn[0]);
    }
  });
  const double cpu_before = [] {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return bench::cpu_seconds(usage);
  }();
  for (unsigned int i = 0; i < title_frames; ++i) {
    sem_post(&turn[1]);
    sem_wait(&turn[0]);
  }
  partner.join();
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  for (sem_t &semaphore : turn) sem_destroy(&semaphore);
  return bench::cpu_seconds(usage) - cpu_before;
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

}  // namespace

int main() {
  const std::string disc = std::filesystem::temp_directory_path() /
                           ("discbox-pipeline-bench-" + std::to_string(getpid()));
  const std::string title = disc + "/A/B/t1.mp3";
  bench::write_title(title, title_frames, 128);
  bench::write_title(disc + "/A/B/t2.mp3", 1, 128);
  // The player's console lines would drown the report.
  FILE *report = fdopen(dup(STDOUT_FILENO), "w");
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;
  prepare_player(disc);

  std::fprintf(report, "title: %u frames (600 s at 128 kbit/s), median of %d runs\n\n",
               title_frames, runs);
  if (bench::on_path("mpg123")) {
    std::vector<double> decoder_alone, pipeline, decoder_fed;
    for (int i = 0; i < runs; ++i) {
      decoder_alone.push_back(
          bench::wait_cpu_seconds(bench::spawn({"mpg123", "-q", "-t", title}, -1)));
      const pipeline_run run = run_pipeline({"mpg123", "-q", "-t", "-"});
      pipeline.push_back(run.pipeline_cpu);
      decoder_fed.push_back(run.consumer_cpu);
    }
    std::vector<double> hand_offs;
    for (int i = 0; i < runs; ++i) hand_offs.push_back(hand_off_cpu_seconds());
    const double reference = bench::median(decoder_alone), own = bench::median(pipeline);
    const double floor = bench::median(hand_offs);
    std::fprintf(report, "CPU (user+sys)\n");
    std::fprintf(report, "  mpg123 -q -t FILE (reference)     %8.3f s  (%.3f ms per s of audio)\n",
                 reference, reference / 600 * 1e3);
    std::fprintf(report, "  mpg123 -q -t - fed by the pipeline %7.3f s\n",
                 bench::median(decoder_fed));
    std::fprintf(report, "  pipeline threads                  %8.3f s  (%.2f us per frame)\n", own,
                 own / title_frames * 1e6);
    std::fprintf(report, "  of which the thread hand-offs     %8.3f s  (%.2f us per frame)\n",
                 floor, floor / title_frames * 1e6);
    std::fprintf(report, "  pipeline / reference decoder      %8.1f %%  (goal: at most 10 %%)\n\n",
                 own / reference * 100);
  } else {
    std::fprintf(report,
                 "CPU: mpg123 not found, skipped (scripts/install-deps.sh test installs it)\n\n");
  }

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
