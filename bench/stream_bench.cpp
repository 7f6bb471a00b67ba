// Speed of the stream layer: the text scanner and gzip inflation that every loader goes through.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "resources/stream.h"

namespace {

std::string temp_file(const std::string& suffix, const std::string& bytes) {
  char templ[] = "/tmp/kelvane-bench-XXXXXX";
  int fd = mkstemp(templ);
  if (fd >= 0) close(fd);
  std::string path = std::string(templ) + suffix;
  FILE* f = fopen(path.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  unlink(templ);
  return path;
}

std::string numbers_text(int lines) {
  std::string text;
  char buf[128];
  for (int i = 0; i < lines; ++i) {
    snprintf(buf, sizeof buf, "%d %f %f %f\n", i, i * 0.5, -i * 0.25, i * 1.125);
    text += buf;
  }
  return text;
}

void BM_ScanNumbers(benchmark::State& state) {
  std::string path = temp_file(".txt", numbers_text(10000));
  for (auto _ : state) {
    Stream* s = stream_open(path.c_str(), "rb");
    int n;
    float a, b, c;
    int lines = 0;
    while (stream_scanf(s, "%d %f %f %f", &n, &a, &b, &c) == 4) ++lines;
    stream_close(s);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 10000 * 40);
  unlink(path.c_str());
}
BENCHMARK(BM_ScanNumbers);

void BM_InflateGzip(benchmark::State& state) {
  std::string data = numbers_text(50000);
  std::string gz(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(gz.data());
  z.avail_out = static_cast<uInt>(gz.size());
  deflate(&z, Z_FINISH);
  gz.resize(z.total_out);
  deflateEnd(&z);
  std::string path = temp_file(".gz", gz);
  std::string name = path.substr(0, path.size() - 3);
  char buf[4096];
  for (auto _ : state) {
    Stream* s = stream_open(name.c_str(), "rb");
    size_t total = 0, n;
    while ((n = stream_read(s, buf, sizeof buf)) > 0) total += n;
    stream_close(s);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
  unlink(path.c_str());
}
BENCHMARK(BM_InflateGzip);

}  // namespace

BENCHMARK_MAIN();
