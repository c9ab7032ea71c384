// discbox: the player on the real machine. No options, no configuration.
#include "ctl/ctl.h"

int main() { control_main(); }
