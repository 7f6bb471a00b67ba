// Fuzz target for racing-line files: load into a store sized by the first two bytes, prune,
// build the chains, save and load again. The race, bike and timing pieces the store calls
// are stood in for here so that only the store's own code is linked.
// Build from the repository root:
//   S="src/resources/stream.cpp src/resources/data.cpp src/core/memory.cpp src/core/console.cpp
//      src/core/options.cpp src/core/digest.cpp src/core/session.cpp src/platform/log.cpp
//      src/platform/clock.cpp"
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -DdDOUBLE \
//     fuzz/lines_fuzz.cpp src/robots/lines.cpp $S -lz -lpng -lnettle -o lines_fuzz
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bike/bike.h"
#include "bike/rider.h"
#include "race/race.h"
#include "race/race_hooks.h"
#include "robots/autopilot.h"
#include "robots/lines.h"
#include "track/timing_gates.h"
#include "track/track.h"

// Stand-ins for the modules the store talks to.
RaceState race;
RaceHooks race_hooks;
TimingGates timing;
void (*timing_racing_lines_create)(int, int) = nullptr;
const char* track_name = nullptr;
int crossing_tick(int, int) { return -1; }
int lap_end_checkpoint(int) { return 0; }
bool checkpoint_ends_lap(int) { return false; }
void set_personality(Rider*, const char*) {}
bool timing_present() { return false; }
int timing_checkpoint_entry(int) { return 0; }
void bike_body_position(const Rider*, int, float out[3]) { out[0] = out[1] = out[2] = 0; }
void bike_body_velocity(const Rider*, int, float out[3]) { out[0] = out[1] = out[2] = 0; }
void bike_body_rotation(const Rider*, int, float out[9]) {
  for (int i = 0; i < 9; ++i) out[i] = i % 4 == 0 ? 1.0f : 0.0f;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static std::string path = [] {
    char name[] = "/tmp/lines_fuzz_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data + 2, 1, size - 2, f);
  fclose(f);
  lines_create(data[0] % 40, data[1] % 40);
  if (lines_load_file(path.c_str())) {
    lines_prune();
    std::string again = path + ".out";
    if (lines_save_file(again.c_str())) lines_load_file(again.c_str());
    remove(again.c_str());
  }
  lines_destroy();
  return 0;
}
