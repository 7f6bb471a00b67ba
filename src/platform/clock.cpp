// The millisecond clock (monotonic) and the sleep that lands on a target time.
#include "platform/clock.h"

#include <sched.h>
#include <time.h>

#include <atomic>

namespace {

uint64_t monotonic_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

std::atomic<VelkClockFn> clock_source{monotonic_ms};

}  // namespace

void velk_set_clock_source(VelkClockFn fn) { clock_source.store(fn ? fn : monotonic_ms); }

uint64_t velk_time_ms() { return clock_source.load()(); }

void velk_time(long* seconds, long* microseconds) {
  uint64_t ms = velk_time_ms();
  if (seconds) *seconds = static_cast<long>(ms / 1000);
  if (microseconds) *microseconds = static_cast<long>(ms % 1000) * 1000;
}

void velk_sleep(long seconds, long microseconds) {
  if (seconds < 0 || microseconds < 0) return;
  uint64_t wait_ms = static_cast<uint64_t>(seconds) * 1000u + static_cast<uint64_t>(microseconds) / 1000u;
  uint64_t target = velk_time_ms() + wait_ms;
  // The clock's resolution is a millisecond: sleep short of the target, then yield onto it.
  if (wait_ms > 1) {
    uint64_t ms = wait_ms - 1;
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
  while (velk_time_ms() < target) sched_yield();
}
