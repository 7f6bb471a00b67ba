// The program: start-up in its fixed order, the main loop, and shutdown in reverse.
#pragma once

struct Frontend;

extern bool cpu_has_mmx;  // cleared by "--nommx"

// install_frontend fills the window/GL/sound entries when the game runs with a display; null
// (or --headless) runs without any. Returns the process exit status.
int game_main(int argc, char** argv, bool (*install_frontend)(Frontend* f));

// One pass of the tick loop: runs whole ticks while sim_time is below target_time. now_wall is
// the wall time (s) used to compute each tick's due time. Returns the number of ticks run.
int game_run_ticks(double now_wall);
