// Console and display texts used by more than one unit of the player. Texts
// used by one unit only are defined once in that unit.
#pragma once

inline constexpr char text_unknown_key[] = "unknown KEY\n";
inline constexpr char text_unable_to_create_pipe[] = "unable to create pipe\n";
