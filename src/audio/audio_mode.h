// The audio-CD mode: the drive plays the whole disc; keys step between
// tracks, pause, resume, stop and restart; X leaves the mode.
#pragma once

// Runs until the user leaves the mode; always returns 0.
int main_audio();
