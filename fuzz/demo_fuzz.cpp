// Fuzz target for demo files: loading, playing with read-ahead, seeking back and sampling.
// CI builds and runs it through scripts/fuzz.sh. By hand, from the repository root:
//   S="src/resources/stream.cpp src/resources/data.cpp src/core/memory.cpp src/core/console.cpp
//      src/core/options.cpp src/core/digest.cpp src/core/session.cpp src/platform/log.cpp
//      src/platform/clock.cpp"
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc -DdDOUBLE \
//     fuzz/demo_fuzz.cpp src/demo/demo.cpp src/demo/demo_file.cpp src/demo/state_history.cpp \
//     src/demo/state_record.cpp $S -lz -lpng -lnettle -o demo_fuzz
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "demo/demo.h"

// Playback never packs riders; the recorder's packer stays out of the target.
void pack_state(const Rider*, StateRecord* out) { *out = StateRecord{}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string path = "/tmp/kv_demo_fuzz_" + std::to_string(getpid()) + ".kvdemo";
  if (size < 1) return 0;
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return 0;
  fwrite(data + 1, 1, size - 1, f);
  fclose(f);
  bool hot_lap = (data[0] & 1) != 0;
  clear_history();
  if (demo_load(path.c_str(), hot_lap, nullptr)) {
    const DemoRiderDesc* d;
    int index;
    while (demo_next_rider(&d, &index)) demo_assign_slot(index, index % max_riders);
    int tick = hot_lap ? 38400 : 0;
    for (int step = 0; step < 64; ++step) {
      demo_play_tick(&tick);
      tick += 16;
      if (step == 40) {
        demo_seek_to(tick / 2);
        clear_history();
        tick /= 2;
      }
      HistorySample s;
      for (int slot = 0; slot < 4; ++slot) history_sample(slot, tick, false, &s);
    }
    demo_stop_playback();
  }
  return 0;
}
