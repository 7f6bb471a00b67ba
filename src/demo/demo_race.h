// The demo module plugged into the race: its hooks, seeking, and the headless entry points.
#pragma once

// Fills the demo and history entries of race_hooks (once, before the first race start).
void demo_install_race_hooks();
// The demo the next race start plays when one is asked for; null: the command line's file,
// else "@demos/default.kvdemo" (hot-lap ghosts use their own file).
extern const char* demo_selected_name;
// Rewind (negative) or skip while a demo plays: only when nothing is recorded and every
// occupied slot is replayed.
void demo_seek(double seconds);
// True while a demo is being played back.
bool demo_is_playing();
// Program exit: the last records go out and the recording is closed into place.
void demo_shutdown();
