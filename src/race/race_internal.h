// Race-module internals shared by its files and tests.
#pragma once

struct Rider;

// The off-course rule is in force (more than one rider, long enough after the drop).
bool off_course_active();
bool out_of_contention(const Rider* rider);
// Called once when the official results have just been computed.
void race_results_became_final();
// The online false-start check of the local rider standing at frame[3]; holds it while due.
void false_start_step(Rider* rider, const float frame[3]);
// The hot-lap lap time of a slot: checkpoint first_lap_count - 1 to the end of that lap with
// every checkpoint between recorded; 0 otherwise.
int hot_lap_time(int slot);
