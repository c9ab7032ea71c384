// The drive controller's one instance, which the control loop and the
// audio-CD mode share.
#include "audio/cd.h"

// Constructed during static initialisation: seeds the random generator and
// opens the drive if a disc is in it.
cd audio;
