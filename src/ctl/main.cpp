// discbox: the player on the real machine. No options: the display's ROM
// and the sound device come from the environment (LCD_ROM, SOUND_DEVICE).
#include "ctl/ctl.h"

int main() { control_main(); }
