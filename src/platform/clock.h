// VELK millisecond clock and sleep. One clock stamps log lines, input events and tick due times.
#pragma once
#include <cstdint>

// The millisecond clock split into whole seconds and microseconds (a multiple of 1000).
void velk_time(long* seconds, long* microseconds);
uint64_t velk_time_ms();
// Sleeps the whole milliseconds less one, then yields until the clock has passed the target.
void velk_sleep(long seconds, long microseconds);

// The window layer may install its own millisecond clock (the one that stamps its events).
using VelkClockFn = uint64_t (*)();
void velk_set_clock_source(VelkClockFn fn);
