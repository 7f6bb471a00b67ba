// Small tracks for tests: flat ground, a steady slope and a single ramp, each 512 ft square with
// one surface, a short start grid and three gates in a line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datagen.h"
#include "gen_track_assets.h"
#include "track/terrain.h"

namespace {

constexpr int test_log2 = 7;
constexpr int test_dim = (1 << (test_log2 + 1)) + 1;  // 257 samples
constexpr float test_spacing = 2.0f;

using HeightFn = float (*)(float x, float z);

float flat(float, float) { return 0.0f; }
float slope(float, float z) { return 0.1f * z; }  // rises 1 ft in 10 towards +z
float ramp(float x, float z) {
  // A kicker facing riders that come from +z: up 4 ft over 30 ft, then a short steep drop.
  float across = 1.0f - gen_smoothstep((std::fabs(x - 256.0f) - 16.0f) / 6.0f);
  float h = 0.0f;
  if (z >= 200.0f && z <= 230.0f) h = 4.0f * (230.0f - z) / 30.0f;
  else if (z >= 196.0f && z < 200.0f) h = 4.0f * (z - 196.0f) / 4.0f;
  return h * across;
}

void write_test_track(GenContext* ctx, const std::string& name, const char* title, HeightFn fn) {
  std::string dir = name + "/";
  std::vector<float> h(static_cast<size_t>(test_dim) * test_dim);
  for (int r = 0; r < test_dim; ++r)
    for (int c = 0; c < test_dim; ++c) h[static_cast<size_t>(r) * test_dim + c] = fn(c * test_spacing, r * test_spacing);
  float lo = *std::min_element(h.begin(), h.end()), hi = *std::max_element(h.begin(), h.end());
  char header[128];
  snprintf(header, sizeof header, "%d %f %f %f\n:", test_log2, static_cast<double>(test_spacing),
           static_cast<double>(lo), static_cast<double>(hi));
  std::vector<uint8_t> hf(header, header + strlen(header));
  std::vector<float> quantised(h.size());
  for (size_t k = 0; k < h.size(); ++k) {
    float v = hi > lo ? (h[k] - lo) / (hi - lo) * 65535.0f + 0.5f : 0.0f;
    uint16_t q = static_cast<uint16_t>(std::clamp(v, 0.0f, 65535.0f));
    hf.push_back(static_cast<uint8_t>(q & 0xFF));
    hf.push_back(static_cast<uint8_t>(q >> 8));
    quantised[k] = (hi - lo) * static_cast<float>(q) * (1.0f / 65535.0f) + lo;
  }
  gen_write_file(ctx, dir + "terrain.hf", hf.data(), hf.size());

  // Baked with the default light of a track without a lighting file.
  Terrain t{};
  t.size_log2 = test_log2;
  t.dim = test_dim;
  t.spacing = test_spacing;
  t.heights = quantised.data();
  char ppm_head[64];
  snprintf(ppm_head, sizeof ppm_head, "P6\n%d %d\n255\n", test_dim, test_dim);
  std::vector<uint8_t> shading(ppm_head, ppm_head + strlen(ppm_head));
  float s = 1.0f / std::sqrt(3.0f);
  for (int r = 0; r < test_dim; ++r) {
    for (int c = 0; c < test_dim; ++c) {
      Vec3f n = terrain_vertex_normal(&t, c, r);
      float d = std::clamp(s * n.x + s * n.y + s * n.z, 0.0f, 1.0f);
      float v = std::clamp(std::trunc((d + 0.5f) * 0.5f * 255.0f), 0.0f, 255.0f);
      for (int ch = 0; ch < 3; ++ch) shading.push_back(static_cast<uint8_t>(v));
    }
  }
  gen_write_file(ctx, dir + "shadingx2.ppm", shading.data(), shading.size());
  gen_write_text(ctx, dir + "tileinfo", "friction 1.1 2\nfriction 0.9 40\nroll_resist 3 10 2\naddtile\n");
  std::vector<uint8_t> tilemap(static_cast<size_t>(1) << (2 * test_log2), 0);
  gen_write_file(ctx, dir + "tilemap", tilemap.data(), tilemap.size());
  gen_write_text(ctx, dir + "timing_gates",
                 "startinggate:\n"
                 "[250.000000 0.000000 400.000000] 0.000000 null null null\n"
                 "[254.000000 0.000000 400.000000] 0.000000 null null null\n"
                 "[258.000000 0.000000 400.000000] 0.000000 null null null\n"
                 "[262.000000 0.000000 400.000000] 0.000000 null null null\n"
                 "checkpoints:\n"
                 "30.000000 [256.000000 0.000000 300.000000] [0.000000 0.000000 -1.000000]\n"
                 "30.000000 [256.000000 0.000000 150.000000] [0.000000 0.000000 -1.000000]\n"
                 "30.000000 [256.000000 0.000000 60.000000] [0.000000 0.000000 -1.000000]\n"
                 "firstlap:\n0 1 2 \nnormallap:\n0 1 2 \n");
  gen_write_text(ctx, dir + "desc", std::string(title) + "\n");
}

}  // namespace

void gen_test_tracks(GenContext* ctx) {
  // Fixtures go beside the build, never into the installed game: no test track in the menus.
  GenContext fixtures;
  fixtures.out_dir = ctx->test_dir;
  ctx = &fixtures;
  write_test_track(ctx, "testflat", "Test: flat ground", flat);
  write_test_track(ctx, "testslope", "Test: slope", slope);
  write_test_track(ctx, "testramp", "Test: single ramp", ramp);
}
