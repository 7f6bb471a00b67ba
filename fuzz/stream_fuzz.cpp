// Fuzz target: arbitrary bytes as an archive, a gzip file and scanner input.
// Build: clang++ -std=c++20 -g -fsanitize=fuzzer,address,undefined -Isrc fuzz/stream_fuzz.cpp
//        with the kelvane_sim sources and their libraries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "resources/data.h"
#include "resources/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string dir = [] {
    char templ[] = "/tmp/kelvane-fuzz-XXXXXX";
    std::string d = mkdtemp(templ);
    setenv("KV_HOME", d.c_str(), 1);
    setenv("XDG_DATA_HOME", (d + "/home").c_str(), 1);
    return d;
  }();
  for (const char* name : {"/a.saf", "/b.gz"}) {
    FILE* f = fopen((dir + name).c_str(), "wb");
    fwrite(data, 1, size, f);
    fclose(f);
  }
  data_reset_for_tests();
  for (const char* const* p = data_file_list(); *p; ++p) {
    Stream* s = stream_open((std::string("@") + *p).c_str(), "rb");
    if (!s) continue;
    char buf[64];
    int n;
    float x;
    while (stream_scanf(s, " %63s %d %f %[^\n]", buf, &n, &x, buf) > 0) {
    }
    stream_close(s);
  }
  Stream* s = stream_open((dir + "/b").c_str(), "rb");
  if (s) {
    char buf[512];
    while (stream_read(s, buf, sizeof buf) > 0) {
    }
    stream_close(s);
  }
  return 0;
}
