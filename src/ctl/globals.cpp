// The program-wide shared variables, with their start values.
#include "audio/cd.h"
#include "ctl/ctl.h"

// Constructed during static initialisation: seeds the random generator and
// opens the drive if a disc is in it.
cd audio;

int pipe_keyboard[2] = {-1, -1};

std::atomic<int> player_status{-1};
pid_t mpg_pid = 0;
pid_t mpg_pid_p = 0;

unsigned int cur_interpret = 1, cur_album = 1, cur_title = 1;
unsigned int cur_interpret_ = 1, cur_album_ = 1, cur_title_ = 1;

std::atomic<int> close_input{input_none_yet};
unsigned char *buffer[ring_slots] = {};
int *frame_size[ring_slots] = {};
sem_t *readS = nullptr, *writeS = nullptr, *pauseS = nullptr, *openS = nullptr;
std::FILE *write_f = nullptr;
int pipe_data[2] = {-1, -1};

char *file_name = nullptr;
char *lcd_l1 = nullptr;
char *lcd_l2 = nullptr;
fs_entry **root_fs = nullptr;
