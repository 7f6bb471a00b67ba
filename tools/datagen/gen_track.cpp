// Our default motocross track "ridgeback", built from code: rolling ground, one bermed lap with
// jumps, whoops and an off-camber turn, surfaces, timing, track-side objects and baked light.
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

constexpr int size_log2 = 9;
constexpr int dim = (1 << (size_log2 + 1)) + 1;  // 1025 samples
constexpr float spacing = 2.0f;
constexpr float extent = spacing * (dim - 1);    // 2048 ft
constexpr int tiles = 1 << size_log2;            // 512 tiles of 4 ft
const std::string folder = "ridgeback/";
const std::string data = "@ridgeback/";

enum Surface : uint8_t { surf_dirt = 0, surf_hardpack, surf_loam, surf_grass, surf_rough, surf_count };

constexpr float pi = 3.14159265358979f;
constexpr float half_width = 12.0f;    // ft of prepared racing surface each side of the line
constexpr float start_half_width = 46.0f;
constexpr float shoulder = 28.0f;      // ft over which the track blends into the ground
constexpr float path_step = 1.0f;      // ft between path samples
constexpr float gate_s = 60.0f;        // start gate along the lap from the first control point
constexpr int grid_slots = 24;
constexpr float slot_spacing = 3.4f;

// The ground around the circuit: a broad hill to the north west falling to a valley in the
// south east, long swells and smaller lumps.
float natural_ground(float x, float z) {
  float dx = (x - 560.0f) / 760.0f, dz = (z - 480.0f) / 760.0f;
  float hill = 52.0f * std::exp(-(dx * dx + dz * dz));
  float ridge = 9.0f * std::sin(x * 0.0041f + 0.7f) * std::cos(z * 0.0033f - 0.4f);
  float swell = 12.0f * (gen_value_noise(x, z, 260.0f, 11) - 0.5f) + 5.0f * (gen_value_noise(x, z, 95.0f, 12) - 0.5f) +
                1.6f * (gen_value_noise(x, z, 31.0f, 13) - 0.5f);
  return 30.0f + hill + ridge + swell;
}

struct Point {
  float x, z;
};

// Control points of the lap, in riding order. The first three make the start straight.
const Point control_points[] = {
    {560, 1690},  {700, 1690},  {850, 1690},                 // 0-2 start straight, heading east
    {1000, 1655}, {1075, 1540},                              // 3-4 turn 1: sweeping left
    {1095, 1360}, {1105, 1160},                              // 5-6 north straight: tabletop
    {1120, 1060}, {1160, 1010}, {1215, 1015}, {1250, 1065},  // 7-10 tight hairpin right
    {1345, 1200}, {1370, 1350},                              // 11-12 south straight: step-down
    {1440, 1455}, {1575, 1445}, {1655, 1320},                // 13-15 sweeper left
    {1685, 1120}, {1690, 860},                               // 16-17 north straight: whoops
    {1685, 740},  {1650, 665},  {1580, 632},                 // 18-20 tight bermed left
    {1355, 600},  {1150, 600},                               // 21-22 west straight: rhythm section
    {1000, 565},  {860, 480},                                // 23-24 off-camber hillside turn
    {720, 405},   {560, 380},   {440, 470},                  // 25-27 over the hill, turning south
    {415, 650},   {425, 860},   {430, 1050},                 // 28-30 south straight: tabletop two
    {520, 1180},  {470, 1320},  {415, 1450},                 // 31-33 esses in the loam
    {445, 1600},                                             // 34 last turn onto the start straight
};
constexpr int control_count = static_cast<int>(sizeof control_points / sizeof control_points[0]);

enum FeatureKind { feat_tabletop, feat_double, feat_whoops, feat_rhythm };

struct Feature {
  FeatureKind kind;
  int after_point;  // starts this far past control point after_point ...
  float offset;     // ... ft
  float s0;         // resolved start along the lap
};

Feature features[] = {
    {feat_tabletop, 5, 40, 0}, {feat_double, 11, 30, 0},  {feat_whoops, 16, 40, 0},
    {feat_rhythm, 21, 20, 0},  {feat_tabletop, 28, 50, 0},
};

float ramp(float u, float len) { return 0.5f - 0.5f * std::cos(pi * std::clamp(u / len, 0.0f, 1.0f)); }

float feature_length(FeatureKind k) {
  switch (k) {
    case feat_tabletop: return 22 + 38 + 30;
    case feat_double: return 18 + 9 + 34 + 9 + 26;
    case feat_whoops: return 11 * 15;
    case feat_rhythm: return 6 * 25;
  }
  return 0;
}

// Height of a feature above the base line at u ft past its start.
float feature_height(FeatureKind k, float u) {
  if (u < 0 || u > feature_length(k)) return 0;
  switch (k) {
    case feat_tabletop: {
      const float h = 5.5f;
      if (u < 22) return h * ramp(u, 22);
      if (u < 60) return h;
      return h * (1 - ramp(u - 60, 30));
    }
    case feat_double: {
      // A step-down: the lip, then a table a foot lower all the way to the landing, so a rider
      // short on speed lands on the flat instead of casing a face.
      const float h1 = 6.0f, h2 = 5.0f;
      if (u < 18) return h1 * ramp(u, 18);
      if (u < 27) return h1 + (h2 - h1) * ramp(u - 18, 9);
      if (u < 70) return h2;
      return h2 * (1 - ramp(u - 70, 26));
    }
    case feat_whoops: {
      float s = std::sin(pi * u / 15.0f);
      return 0.5f * s * s;
    }
    case feat_rhythm: {
      float v = std::fmod(u, 25.0f);
      if (v < 11) return 2.6f * ramp(v, 11);
      if (v < 23) return 2.6f * (1 - ramp(v - 11, 12));
      return 0;
    }
  }
  return 0;
}

struct Path {
  std::vector<float> x, z, tx, tz;  // position and unit tangent
  std::vector<float> curve;         // 1/ft, positive turning right
  std::vector<float> base;          // ft, the smoothed grade of the line
  std::vector<float> bump;          // ft, features above the base
  std::vector<float> width;         // ft, half width of the prepared surface
  std::vector<float> camber;        // off-camber strength 0..1
  std::vector<float> control_s;     // lap position of every control point
  float length = 0;
  int count = 0;

  int index(float s) const {
    float w = std::fmod(s, length);
    if (w < 0) w += length;
    int i = static_cast<int>(w / path_step + 0.5f);
    return i >= count ? i - count : i;
  }
};

// Centripetal Catmull-Rom through the closed control polygon, resampled every path_step feet.
void build_centreline(Path* p, float scale) {
  std::vector<Point> pts(control_count);
  for (int k = 0; k < control_count; ++k)
    pts[k] = {1024.0f + (control_points[k].x - 1024.0f) * scale, 1024.0f + (control_points[k].z - 1024.0f) * scale};
  std::vector<Point> dense;
  std::vector<int> dense_control;
  for (int k = 0; k < control_count; ++k) {
    Point p0 = pts[(k + control_count - 1) % control_count], p1 = pts[k], p2 = pts[(k + 1) % control_count],
          p3 = pts[(k + 2) % control_count];
    auto knot = [](Point a, Point b, float t) {
      return t + std::sqrt(std::sqrt((b.x - a.x) * (b.x - a.x) + (b.z - a.z) * (b.z - a.z)));
    };
    float t0 = 0, t1 = knot(p0, p1, t0), t2 = knot(p1, p2, t1), t3 = knot(p2, p3, t2);
    dense_control.push_back(static_cast<int>(dense.size()));
    const int steps = 256;
    for (int i = 0; i < steps; ++i) {
      float t = t1 + (t2 - t1) * static_cast<float>(i) / steps;
      auto lerp = [](Point a, Point b, float ta, float tb, float t) {
        float w = (t - ta) / (tb - ta);
        return Point{a.x + (b.x - a.x) * w, a.z + (b.z - a.z) * w};
      };
      Point a1 = lerp(p0, p1, t0, t1, t), a2 = lerp(p1, p2, t1, t2, t), a3 = lerp(p2, p3, t2, t3, t);
      Point b1 = lerp(a1, a2, t0, t2, t), b2 = lerp(a2, a3, t1, t3, t);
      dense.push_back(lerp(b1, b2, t1, t2, t));
    }
  }
  std::vector<float> acc(dense.size() + 1, 0.0f);
  for (size_t i = 0; i < dense.size(); ++i) {
    Point a = dense[i], b = dense[(i + 1) % dense.size()];
    acc[i + 1] = acc[i] + std::sqrt((b.x - a.x) * (b.x - a.x) + (b.z - a.z) * (b.z - a.z));
  }
  float total = acc.back();
  p->count = static_cast<int>(total / path_step);
  p->length = p->count * path_step;
  p->x.assign(p->count, 0);
  p->z.assign(p->count, 0);
  size_t j = 0;
  for (int i = 0; i < p->count; ++i) {
    float s = static_cast<float>(i) * total / static_cast<float>(p->count);
    while (j + 1 < acc.size() - 1 && acc[j + 1] < s) ++j;
    float w = (s - acc[j]) / std::max(acc[j + 1] - acc[j], 1e-6f);
    Point a = dense[j], b = dense[(j + 1) % dense.size()];
    p->x[i] = a.x + (b.x - a.x) * w;
    p->z[i] = a.z + (b.z - a.z) * w;
  }
  p->control_s.clear();
  for (int k = 0; k < control_count; ++k)
    p->control_s.push_back(acc[static_cast<size_t>(dense_control[k])] * p->length / total);
}

void smooth_loop(std::vector<float>* v, int radius) {
  int n = static_cast<int>(v->size());
  std::vector<float> out(n);
  double sum = 0;
  for (int k = -radius; k <= radius; ++k) sum += (*v)[(k + n) % n];
  for (int i = 0; i < n; ++i) {
    out[i] = static_cast<float>(sum / (2 * radius + 1));
    sum += (*v)[(i + radius + 1) % n] - (*v)[(i - radius + n) % n];
  }
  *v = out;
}

void build_path(Path* p) {
  build_centreline(p, 1.0f);
  // Aim for a lap in the middle of the wanted range; the layout simply scales about the centre.
  const float wanted = 4700.0f;
  if (p->length < 4300.0f || p->length > 5100.0f) build_centreline(p, wanted / p->length);
  int n = p->count;
  p->tx.assign(n, 0);
  p->tz.assign(n, 0);
  for (int i = 0; i < n; ++i) {
    int a = (i + n - 1) % n, b = (i + 1) % n;
    float dx = p->x[b] - p->x[a], dz = p->z[b] - p->z[a];
    float len = std::sqrt(dx * dx + dz * dz);
    p->tx[i] = dx / len;
    p->tz[i] = dz / len;
  }
  p->curve.assign(n, 0);
  const int k = 6;
  for (int i = 0; i < n; ++i) {
    int a = (i + n - k) % n, b = (i + k) % n;
    float cross = p->tx[a] * p->tz[b] - p->tz[a] * p->tx[b];
    p->curve[i] = std::asin(std::clamp(cross, -1.0f, 1.0f)) / (2 * k * path_step);
  }
  smooth_loop(&p->curve, 6);

  p->base.assign(n, 0);
  for (int i = 0; i < n; ++i) p->base[i] = natural_ground(p->x[i], p->z[i]);
  smooth_loop(&p->base, 90);
  smooth_loop(&p->base, 40);

  p->bump.assign(n, 0);
  for (Feature& f : features) {
    f.s0 = p->control_s[f.after_point] + f.offset;
    float len = feature_length(f.kind);
    for (float u = 0; u <= len; u += path_step) {
      int i = p->index(f.s0 + u);
      p->bump[i] = std::max(p->bump[i], feature_height(f.kind, u));
    }
  }

  p->width.assign(n, half_width);
  for (int i = 0; i < n; ++i) {
    float s = static_cast<float>(i) * path_step;
    float w = half_width;
    if (s < gate_s + 40.0f) w = start_half_width;
    else if (s < gate_s + 300.0f) w = start_half_width + (half_width + 1.0f - start_half_width) * gen_smoothstep((s - gate_s - 40.0f) / 260.0f);
    // Behind the gate the pad reaches back into the last turn.
    if (s > p->length - 30.0f) w = half_width + (start_half_width - half_width) * gen_smoothstep((s - (p->length - 30.0f)) / 30.0f);
    p->width[i] = w;
  }

  // The off-camber turn runs along the hillside between control points 23 and 24.
  p->camber.assign(n, 0);
  float c0 = p->control_s[22] + 20.0f, c1 = p->control_s[24] + 50.0f;
  for (int i = 0; i < n; ++i) {
    float s = static_cast<float>(i) * path_step;
    if (s > c0 && s < c1) p->camber[i] = gen_smoothstep((s - c0) / 60.0f) * gen_smoothstep((c1 - s) / 60.0f);
  }
}

float berm_strength(float curve) {
  float c = std::fabs(curve);
  return std::clamp((c - 1.0f / 220.0f) / (1.0f / 45.0f - 1.0f / 220.0f), 0.0f, 1.0f);
}

// Height of the track surface at lateral offset l (ft, positive right) of lap sample i.
float track_surface(const Path& p, int i, float l) {
  float w = p.width[i];
  float h = p.base[i];
  float edge = 1.0f - gen_smoothstep((std::fabs(l) - w + 1.0f) / 10.0f);
  h += p.bump[i] * edge;
  // Outside of a turn: left of a right turn, right of a left turn.
  float outside = p.curve[i] > 0 ? -l : l;
  float b = berm_strength(p.curve[i]) * (1.0f - p.camber[i]);
  h += b * 4.5f * gen_smoothstep((outside - 1.0f) / (w + 4.0f)) * (1.0f - gen_smoothstep((outside - w - 10.0f) / 10.0f));
  // Off camber: the ground falls away towards the outside of the turn. The turn's sense fades
  // out as the line straightens, so neighbouring samples never disagree about the outside.
  float sense = std::clamp(p.curve[i] * 300.0f, -1.0f, 1.0f);
  h += p.camber[i] * 0.16f * sense * std::clamp(l, -w - 6.0f, w + 6.0f);
  return h;
}

struct Nearest {
  float d2 = 1e30f;  // squared distance to the line
  float l = 0;       // lateral offset
  int i = -1;        // lap sample
};

// For every height sample the nearest lap sample within reach of the track.
std::vector<Nearest> nearest_field(const Path& p) {
  std::vector<Nearest> near(static_cast<size_t>(dim) * dim);
  const int stride = 2;
  for (int i = 0; i < p.count; i += stride) {
    float reach = p.width[i] + 12.0f + shoulder;
    int c0 = std::max(0, static_cast<int>((p.x[i] - reach) / spacing)), c1 = std::min(dim - 1, static_cast<int>((p.x[i] + reach) / spacing) + 1);
    int r0 = std::max(0, static_cast<int>((p.z[i] - reach) / spacing)), r1 = std::min(dim - 1, static_cast<int>((p.z[i] + reach) / spacing) + 1);
    for (int r = r0; r <= r1; ++r) {
      for (int c = c0; c <= c1; ++c) {
        float dx = c * spacing - p.x[i], dz = r * spacing - p.z[i];
        float d2 = dx * dx + dz * dz;
        Nearest& n = near[static_cast<size_t>(r) * dim + c];
        if (d2 < n.d2 && d2 < reach * reach) n = {d2, 0, i};
      }
    }
  }
  // Refine along the line, so the features do not step with the sampling of the search.
  for (int r = 0; r < dim; ++r) {
    for (int c = 0; c < dim; ++c) {
      Nearest& n = near[static_cast<size_t>(r) * dim + c];
      if (n.i < 0) continue;
      for (int pass = 0; pass < 2; ++pass) {
        float dx = c * spacing - p.x[n.i], dz = r * spacing - p.z[n.i];
        float along = dx * p.tx[n.i] + dz * p.tz[n.i];
        int step = static_cast<int>(std::lround(along / path_step));
        n.i = ((n.i + step) % p.count + p.count) % p.count;
      }
      float dx = c * spacing - p.x[n.i], dz = r * spacing - p.z[n.i];
      n.l = dx * -p.tz[n.i] + dz * p.tx[n.i];
      n.d2 = dx * dx + dz * dz;
    }
  }
  return near;
}

struct Sun {
  float v[3], colour[3], ambient[3];
};

Sun sun() {
  Sun s{{0.42f, 0.78f, 0.46f}, {1.0f, 0.96f, 0.86f}, {0.40f, 0.43f, 0.50f}};
  float len = std::sqrt(s.v[0] * s.v[0] + s.v[1] * s.v[1] + s.v[2] * s.v[2]);
  for (float& c : s.v) c /= len;
  return s;
}

// Only for formats of up to four floating-point conversions.
std::string fmt(const char* format, double a = 0, double b = 0, double c = 0, double d = 0) {
  char buf[256];
  snprintf(buf, sizeof buf, format, a, b, c, d);
  return buf;
}

std::string image_header(const char* magic) {
  char buf[64];
  snprintf(buf, sizeof buf, "%s\n%d %d\n255\n", magic, dim, dim);
  return buf;
}

void write_textures(GenContext* ctx) {
  gen_texture(ctx, folder + "dirt.png", 128, 101, gen_ground_paint(122, 88, 58, 0.18f, 0.04f));
  gen_texture(ctx, folder + "hardpack.png", 128, 102, gen_ground_paint(140, 112, 84, 0.10f, 0.02f));
  gen_texture(ctx, folder + "loam.png", 128, 103, gen_ground_paint(84, 60, 42, 0.30f, 0.08f));
  gen_texture(ctx, folder + "grass.png", 128, 104, gen_ground_paint(74, 118, 52, 0.35f, 0.10f));
  gen_texture(ctx, folder + "rough.png", 128, 105, gen_ground_paint(108, 104, 70, 0.45f, 0.20f));
  gen_texture(ctx, folder + "roost.png", 32, 106, [](int x, int y, float, float n2, float, uint8_t o[4]) {
    float dx = (x - 15.5f) / 15.5f, dy = (y - 15.5f) / 15.5f;
    float a = std::clamp(1.0f - std::sqrt(dx * dx + dy * dy), 0.0f, 1.0f) * (0.6f + 0.4f * n2);
    o[0] = o[1] = o[2] = 255;
    o[3] = static_cast<uint8_t>(255 * a);
  });
  gen_texture(ctx, folder + "marker.png", 32, 107, [](int, int y, float, float, float, uint8_t o[4]) {
    bool orange = (y / 8) % 2 == 0;
    o[0] = 250;
    o[1] = orange ? 120 : 250;
    o[2] = orange ? 20 : 250;
    o[3] = 255;
  });
  gen_texture(ctx, folder + "banner.png", 128, 108, [](int x, int y, float, float, float, uint8_t o[4]) {
    bool band = y < 16 || y > 111;
    bool block = ((x / 16) + (y / 32)) % 2 == 0;
    o[0] = band ? 20 : block ? 230 : 250;
    o[1] = band ? 40 : block ? 40 : 250;
    o[2] = band ? 140 : block ? 30 : 250;
    o[3] = 255;
  });
  gen_texture(ctx, folder + "gate.png", 32, 109, [](int x, int, float n1, float, float, uint8_t o[4]) {
    o[0] = static_cast<uint8_t>(170 + 40 * n1);
    o[1] = static_cast<uint8_t>(170 + 40 * n1);
    o[2] = static_cast<uint8_t>(180 + 40 * n1);
    o[3] = 255;
    if (x < 2 || x > 29) o[0] = o[1] = o[2] = 60;
  });
  gen_texture(ctx, folder + "bark.png", 32, 110, gen_ground_paint(92, 70, 48, 0.4f, 0.1f));
  gen_texture(ctx, folder + "leaves.png", 64, 111, gen_ground_paint(46, 92, 40, 0.5f, 0.15f));
  gen_texture(ctx, folder + "tree.png", 64, 112, [](int x, int y, float n1, float n2, float, uint8_t o[4]) {
    // A fir seen from the side: a trunk below a triangle of foliage, transparent around it.
    float fx = std::fabs(x - 31.5f) / 32.0f;
    float fy = static_cast<float>(y) / 64.0f;
    bool trunk = fx < 0.06f && fy > 0.82f;
    bool crown = fy < 0.86f && fx < fy * 0.55f + 0.02f * n2;
    o[0] = trunk ? 90 : static_cast<uint8_t>(30 + 30 * n1);
    o[1] = trunk ? 64 : static_cast<uint8_t>(70 + 50 * n1);
    o[2] = trunk ? 40 : static_cast<uint8_t>(30 + 20 * n2);
    o[3] = trunk || crown ? 255 : 0;
  });
  gen_texture(ctx, folder + "flag.png", 32, 113, [](int x, int y, float, float, float, uint8_t o[4]) {
    bool pole = x < 3;
    bool cloth = !pole && y < 14;
    o[0] = o[1] = o[2] = pole ? 200 : 255;
    o[3] = pole || cloth ? 255 : 0;
  });
  // Sky box faces: a gradient from the horizon haze up to a deep blue.
  const char* faces[] = {"sky-n.png", "sky-e.png", "sky-s.png", "sky-w.png"};
  for (int f = 0; f < 4; ++f) {
    gen_texture(ctx, folder + faces[f], 128, 120 + static_cast<uint32_t>(f), [](int, int y, float n1, float, float, uint8_t o[4]) {
      float t = static_cast<float>(y) / 127.0f;  // 0 at the top
      float cloud = std::clamp((n1 - 0.62f) * 3.0f, 0.0f, 1.0f) * (1.0f - t);
      o[0] = static_cast<uint8_t>(std::min(255.0f, 70 + 130 * t + 120 * cloud));
      o[1] = static_cast<uint8_t>(std::min(255.0f, 120 + 100 * t + 90 * cloud));
      o[2] = static_cast<uint8_t>(std::min(255.0f, 200 + 40 * t + 40 * cloud));
      o[3] = 255;
    });
  }
  for (const char* name : {"sky-u.png", "sky-env.png"}) {
    gen_texture(ctx, folder + name, 128, 130, [](int, int, float n1, float, float, uint8_t o[4]) {
      float cloud = std::clamp((n1 - 0.6f) * 2.5f, 0.0f, 1.0f);
      o[0] = static_cast<uint8_t>(70 + 150 * cloud);
      o[1] = static_cast<uint8_t>(118 + 110 * cloud);
      o[2] = static_cast<uint8_t>(205 + 40 * cloud);
      o[3] = 255;
    });
  }
}

void write_models(GenContext* ctx) {
  VmModel marker;
  marker.colour[0] = 1;
  marker.box(-0.2f, 0.0f, -0.2f, 0.2f, 3.2f, 0.2f);
  gen_write_text(ctx, folder + "marker.vm", marker.text());
  gen_write_text(ctx, folder + "marker.shp", gen_shape_text({{0, 0.6f, 0, 0.3f, 0.6f, 2500, 250}, {0, 1.8f, 0, 0.3f, 0.6f, 2500, 250}}));

  VmModel banner;
  banner.box(-8.0f, 1.0f, -0.1f, 8.0f, 4.0f, 0.1f, 4.0f);
  banner.box(-8.2f, 0.0f, -0.15f, -7.9f, 4.2f, 0.15f);
  banner.box(7.9f, 0.0f, -0.15f, 8.2f, 4.2f, 0.15f);
  gen_write_text(ctx, folder + "banner.vm", banner.text());
  std::vector<ShapeBall> banner_balls;
  for (int k = 0; k < 9; ++k) banner_balls.push_back({-8.0f + 2.0f * k, 1.6f, 0, 0.6f, 0.5f, 2500, 250});
  gen_write_text(ctx, folder + "banner.shp", gen_shape_text(banner_balls));

  VmModel tree;
  tree.colour[0] = 0.9f;
  tree.box(-0.6f, 0.0f, -0.6f, 0.6f, 7.0f, 0.6f);
  tree.cone(0, 5.0f, 0, 6.0f, 12.0f, 10);
  tree.cone(0, 11.0f, 0, 4.5f, 10.0f, 10);
  gen_write_text(ctx, folder + "tree.vm", tree.text());
  gen_write_text(ctx, folder + "tree.shp", gen_shape_text({{0, 1.0f, 0, 0.9f, 0.4f, 5000, 400}, {0, 2.6f, 0, 0.9f, 0.4f, 5000, 400}, {0, 4.2f, 0, 0.9f, 0.4f, 5000, 400}}));

  VmModel gate;
  gate.box(-1.7f, 0.0f, -0.12f, 1.7f, 1.7f, 0.12f);
  gate.box(-1.75f, 0.0f, -0.6f, -1.6f, 0.15f, 0.6f);
  gate.box(1.6f, 0.0f, -0.6f, 1.75f, 0.15f, 0.6f);
  gen_write_text(ctx, folder + "startgate.vm", gate.text());
  std::vector<ShapeBall> gate_balls;
  // The gate's balls lie low ahead of its hinge: raised they stand up in front of the wheel, and
  // the race drops a gate to its base rotation, where they are a low strip a bike rolls over.
  // None reaches back to a bike resting on its slot, since a touched gate never drops.
  for (int k = 0; k < 4; ++k) {
    float x = -1.2f + 0.8f * k;
    gate_balls.push_back({x, -0.25f, -0.5f, 0.4f, 0.5f, 25000, 1000});
    gate_balls.push_back({x, -0.25f, -1.3f, 0.4f, 0.5f, 25000, 1000});
  }
  gen_write_text(ctx, folder + "startgate.shp", gen_shape_text(gate_balls));
}

std::string tileinfo_text() {
  struct Kind {
    const char* texture;
    float friction[3][2];
    float roll[2][3];
    const char* roost;
    float erode_depth;
  };
  const Kind kinds[surf_count] = {
      {"dirt.png", {{1.15f, 2}, {1.05f, 15}, {0.92f, 40}}, {{3, 10, 2}, {4, 12, 40}},
       "count=12 dig=1 r=120 g=86 b=56", 1.0f},
      {"hardpack.png", {{1.25f, 2}, {1.10f, 15}, {0.98f, 40}}, {{2, 6, 2}, {3, 8, 40}},
       "count=6 dig=0.6 size=0.2 r=150 g=120 b=90", 0.5f},
      {"loam.png", {{1.02f, 2}, {0.94f, 15}, {0.84f, 40}}, {{6, 20, 2}, {7, 24, 40}},
       "count=20 dig=1.6 size=0.3 r=90 g=64 b=44", 1.6f},
      {"grass.png", {{0.85f, 2}, {0.72f, 15}, {0.60f, 40}}, {{5, 14, 2}, {6, 16, 40}},
       "count=5 dig=0.4 size=0.2 r=80 g=120 b=50", 0.4f},
      {"rough.png", {{0.95f, 2}, {0.85f, 15}, {0.74f, 40}}, {{9, 28, 2}, {11, 32, 40}},
       "count=8 dig=1.0 size=0.3 r=110 g=100 b=70", 0.8f},
  };
  std::string s;
  for (const Kind& k : kinds) {
    s += "texture " + data + k.texture + "\n";
    for (const auto& f : k.friction) s += fmt("friction %g %g\n", f[0], f[1]);
    for (const auto& r : k.roll) s += fmt("roll_resist %g %g %g\n", r[0], r[1], r[2]);
    s += "roost texture=" + data + "roost.png " + k.roost + "\n";
    s += fmt("erode_depth %g\n", k.erode_depth);
    s += "addtile\n";
  }
  return s;
}

}  // namespace

void gen_first_track(GenContext* ctx) {
  Path path;
  build_path(&path);
  std::vector<Nearest> near = nearest_field(path);

  // Heights: the ground, with the track blended in near the line.
  std::vector<float> h(static_cast<size_t>(dim) * dim);
  for (int r = 0; r < dim; ++r) {
    for (int c = 0; c < dim; ++c) {
      size_t k = static_cast<size_t>(r) * dim + c;
      float x = c * spacing, z = r * spacing;
      float g = natural_ground(x, z);
      const Nearest& n = near[k];
      if (n.i >= 0) {
        float d = std::sqrt(n.d2);
        float inner = path.width[n.i] + 4.0f + 10.0f * berm_strength(path.curve[n.i]);
        float w = 1.0f - gen_smoothstep((d - inner) / shoulder);
        g = g + (track_surface(path, n.i, n.l) - g) * w;
      }
      h[k] = g;
    }
  }
  float lo = h[0], hi = h[0];
  for (float v : h) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  lo = std::floor(lo);
  hi = std::ceil(hi);
  // The loader's own arithmetic, so the baked light matches the heights it will see.
  char hf[128];
  snprintf(hf, sizeof hf, "%d %f %f %f\n:", size_log2, static_cast<double>(spacing), static_cast<double>(lo),
           static_cast<double>(hi));
  std::vector<uint8_t> hf_bytes(hf, hf + strlen(hf));
  Terrain t{};
  t.size_log2 = size_log2;
  t.dim = dim;
  t.spacing = spacing;
  t.extent = extent;
  std::vector<float> quantised(h.size());
  t.heights = quantised.data();
  for (size_t k = 0; k < h.size(); ++k) {
    float v = (h[k] - lo) / (hi - lo) * 65535.0f + 0.5f;
    uint16_t q = static_cast<uint16_t>(std::clamp(v, 0.0f, 65535.0f));
    hf_bytes.push_back(static_cast<uint8_t>(q & 0xFF));
    hf_bytes.push_back(static_cast<uint8_t>(q >> 8));
    quantised[k] = (hi - lo) * static_cast<float>(q) * (1.0f / 65535.0f) + lo;
  }
  gen_write_file(ctx, folder + "terrain.hf", hf_bytes.data(), hf_bytes.size());

  // Shadows: march from each sample towards the sun; partial cover softens the edge.
  Sun light = sun();
  std::vector<uint8_t> shadow_pgm;
  std::string pgm_head = image_header("P5");
  shadow_pgm.assign(pgm_head.begin(), pgm_head.end());
  std::vector<uint8_t> shadow(h.size());
  float horiz = std::sqrt(light.v[0] * light.v[0] + light.v[2] * light.v[2]);
  float rise = light.v[1] / horiz;  // ft up per ft towards the sun
  for (int r = 0; r < dim; ++r) {
    for (int c = 0; c < dim; ++c) {
      size_t k = static_cast<size_t>(r) * dim + c;
      float x = c * spacing, z = r * spacing, y = quantised[k] + 0.3f;
      float cover = 0;
      for (float d = 3.0f; d < 400.0f; d += 3.0f) {
        float ray = y + d * rise;
        if (ray > hi) break;
        float ground = terrain_height(&t, x + light.v[0] / horiz * d, z + light.v[2] / horiz * d);
        cover = std::max(cover, std::clamp((ground - ray) / 1.5f, 0.0f, 1.0f));
        if (cover >= 1.0f) break;
      }
      uint8_t lit = static_cast<uint8_t>(255.0f - 150.0f * cover);  // skylight still reaches shadows
      shadow_pgm.push_back(lit);
      shadow[k] = static_cast<uint8_t>(255 - lit);
    }
  }
  gen_write_file(ctx, folder + "shadows.pgm", shadow_pgm.data(), shadow_pgm.size());

  // Shading at half intensity, exactly as the ground is re-shaded when it wears.
  std::string ppm_head = image_header("P6");
  std::vector<uint8_t> shading(ppm_head.begin(), ppm_head.end());
  for (int r = 0; r < dim; ++r) {
    for (int c = 0; c < dim; ++c) {
      size_t k = static_cast<size_t>(r) * dim + c;
      Vec3f n = terrain_vertex_normal(&t, c, r);
      float d = std::clamp(light.v[0] * n.x + light.v[1] * n.y + light.v[2] * n.z, 0.0f, 1.0f);
      float lit = d * (1.0f - static_cast<float>(shadow[k]) / 255.0f);
      for (int ch = 0; ch < 3; ++ch) {
        float v = std::trunc((light.colour[ch] * lit + light.ambient[ch]) * 0.5f * 255.0f);
        shading.push_back(static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f)));
      }
    }
  }
  gen_write_file(ctx, folder + "shadingx2.ppm", shading.data(), shading.size());

  // Surfaces per 4 ft tile from the sample at its centre.
  std::vector<uint8_t> tilemap(static_cast<size_t>(tiles) * tiles);
  float loam_from = path.control_s[30], loam_to = path.control_s[33] + 40.0f;
  for (int tr = 0; tr < tiles; ++tr) {
    for (int tc = 0; tc < tiles; ++tc) {
      int c = 2 * tc + 1, r = 2 * tr + 1;
      const Nearest& n = near[static_cast<size_t>(r) * dim + c];
      float x = c * spacing, z = r * spacing;
      // Rough ground in patches away from the course, with ragged edges.
      float rough = 0.75f * gen_value_noise(x, z, 120.0f, 21) + 0.25f * gen_value_noise(x, z, 24.0f, 22);
      uint8_t s = rough > 0.66f ? surf_rough : surf_grass;
      if (n.i >= 0) {
        float d = std::fabs(n.l);
        float w = path.width[n.i];
        float at = static_cast<float>(n.i) * path_step;
        float outside = path.curve[n.i] > 0 ? -n.l : n.l;
        bool berm = berm_strength(path.curve[n.i]) > 0.35f && outside > w - 5.0f;
        if (d < w + 1.5f) {
          s = surf_dirt;
          if (berm || (at > loam_from && at < loam_to)) s = surf_loam;
          if (path.bump[n.i] > 2.5f || (at > gate_s - 20.0f && at < gate_s + 90.0f) || path.camber[n.i] > 0.3f)
            s = surf_hardpack;
        } else if (d < w + 5.0f || (berm && d < w + 14.0f)) {
          s = surf_loam;  // material pushed off the line piles up at the edges
        } else if (d < w + 22.0f) {
          s = surf_grass;
        }
      }
      tilemap[static_cast<size_t>(tr) * tiles + tc] = s;
    }
  }
  gen_write_file(ctx, folder + "tilemap", tilemap.data(), tilemap.size());
  gen_write_text(ctx, folder + "tileinfo", tileinfo_text());
  write_textures(ctx);
  write_models(ctx);

  auto at_s = [&](float s) { return path.index(s); };

  // Start grid, gates and the two lap sequences.
  std::string tg = "startinggate:\n";
  int gi = at_s(gate_s - 3.0f);
  float heading = std::atan2(-path.tx[gi], -path.tz[gi]);
  // The gate fills from the middle outwards: a small field starts side by side in the centre
  // instead of strung along one end of the gate.
  for (int k = 0; k < grid_slots; ++k) {
    const int from_middle = (k + 1) / 2 * (k % 2 ? 1 : -1);
    float l = (static_cast<float>(from_middle) - 0.5f) * slot_spacing;
    float x = path.x[gi] - path.tz[gi] * l, z = path.z[gi] + path.tx[gi] * l;
    tg += fmt("[%f 0.000000 %f] %f ", x, z, heading) + data + "startgate.vm " + data + "gate.png " + data + "startgate.shp\n";
  }
  float finish_s = gate_s + 150.0f;
  int gate_count = static_cast<int>(std::ceil(path.length / 100.0f));
  tg += "checkpoints:\n";
  for (int g = 0; g < gate_count; ++g) {
    int i = at_s(finish_s + path.length * static_cast<float>(g) / static_cast<float>(gate_count));
    float radius = path.width[i] + 10.0f;
    tg += fmt("%f ", radius) + fmt("[%f %f %f] ", path.x[i], path.base[i] + path.bump[i], path.z[i]) +
          fmt("[%f 0.000000 %f]\n", path.tx[i], path.tz[i]);
  }
  // Every fourth gate is a switch point where the robots may change their line.
  auto entry = [](int g) { return g % 4 == 0 ? g : g + 100000; };
  tg += "firstlap:\n";
  for (int g = 0; g < gate_count; ++g) tg += std::to_string(entry(g)) + " ";
  tg += "0\nnormallap:\n";
  for (int g = 1; g < gate_count; ++g) tg += std::to_string(entry(g)) + " ";
  tg += "0\n";
  gen_write_text(ctx, folder + "timing_gates", tg);

  // Track-side objects.
  std::string statues, billboards;
  auto upright = [](float a) { return a - 4.0f * pi; };  // below -2 pi: no lean with the ground
  for (int i = 0; i < path.count; i += 25) {
    float b = berm_strength(path.curve[i]);
    if (b < 0.15f) continue;
    float w = path.width[i] + 16.0f;
    float side = path.curve[i] > 0 ? -1.0f : 1.0f;  // outside of the turn
    float x = path.x[i] - path.tz[i] * w * side, z = path.z[i] + path.tx[i] * w * side;
    statues += fmt("[%f 0.000000 %f] %f ", x, z, upright(0.0f)) + data + "marker.vm " + data + "marker.png " + data + "marker.shp\n";
  }
  // Apex stakes on the inside of the tight turns.
  for (int i = 10; i < path.count; i += 20) {
    if (berm_strength(path.curve[i]) < 0.5f) continue;
    float w = path.width[i] + 5.0f;
    float side = path.curve[i] > 0 ? 1.0f : -1.0f;  // inside of the turn
    float x = path.x[i] - path.tz[i] * w * side, z = path.z[i] + path.tx[i] * w * side;
    statues += fmt("[%f 0.000000 %f] %f ", x, z, upright(0.0f)) + data + "marker.vm " + data + "marker.png " + data + "marker.shp\n";
  }
  // Banners beside the start straight and facing the big jumps.
  std::vector<float> banner_s = {gate_s + 30, gate_s + 110, gate_s + 190, features[0].s0 + 30, features[1].s0 + 40, features[4].s0 + 30};
  for (size_t k = 0; k < banner_s.size(); ++k) {
    int i = at_s(banner_s[k]);
    float side = k % 2 == 0 ? 1.0f : -1.0f;
    float w = path.width[i] + 14.0f;
    float x = path.x[i] - path.tz[i] * w * side, z = path.z[i] + path.tx[i] * w * side;
    float a = std::atan2(-path.tz[i], path.tx[i]);
    statues += fmt("[%f 0.000000 %f] %f ", x, z, upright(a)) + data + "banner.vm " + data + "banner.png " + data + "banner.shp\n";
  }
  // Trees: solid ones near the course, sprites further out.
  int solid = 0, sprites = 0;
  for (int k = 0; k < 4000 && (solid < 60 || sprites < 320); ++k) {
    float x = 120.0f + gen_random(k, 1, 31) * (extent - 240.0f);
    float z = 120.0f + gen_random(k, 2, 31) * (extent - 240.0f);
    int c = static_cast<int>(x / spacing), r = static_cast<int>(z / spacing);
    const Nearest& n = near[static_cast<size_t>(r) * dim + c];
    bool clear = n.i < 0;
    if (!clear) continue;
    // Keep well away from every part of the line, not only the nearest.
    bool far_enough = true;
    for (int i = 0; i < path.count && far_enough; i += 8) {
      float dx = x - path.x[i], dz = z - path.z[i];
      if (dx * dx + dz * dz < 75.0f * 75.0f) far_enough = false;
    }
    if (!far_enough) continue;
    float size = 0.8f + 0.5f * gen_random(k, 3, 31);
    if (solid < 60 && gen_random(k, 4, 31) < 0.3f) {
      statues += fmt("[%f 0.000000 %f] %f ", x, z, upright(6.2831853f * gen_random(k, 5, 31))) + data + "tree.vm " + data + "leaves.png " + data + "tree.shp\n";
      ++solid;
    } else if (sprites < 320) {
      billboards += fmt("[%f 0.000000 %f] %f 0.6 ", x, z, 26.0 * size) + data + "tree.png\n";
      ++sprites;
    }
  }
  // Flags along the start straight in the colours of the event.
  const char* colours[] = {"#ff3020#", "#ffffff#", "#2050ff#"};
  for (int k = 0; k < 9; ++k) {
    int i = at_s(gate_s + 20.0f + 25.0f * k);
    float w = path.width[i] + 6.0f;
    for (float side : {-1.0f, 1.0f}) {
      float x = path.x[i] - path.tz[i] * w * side, z = path.z[i] + path.tx[i] * w * side;
      billboards += fmt("[%f 0.000000 %f] 9 0.7 ", x, z) + colours[k % 3] + data + "flag.png\n";
    }
  }
  gen_write_text(ctx, folder + "statues", statues);
  gen_write_text(ctx, folder + "billboards", billboards);

  std::string lighting = fmt("sun_vector [ %f %f %f ]\n", light.v[0], light.v[1], light.v[2]) +
                         fmt("sun_color [ %f %f %f ]\n", light.colour[0], light.colour[1], light.colour[2]) +
                         fmt("ambient [ %f %f %f ]\n", light.ambient[0], light.ambient[1], light.ambient[2]) +
                         "global_ambient [ 0.2 0.2 0.22 ]\n";
  for (const char* f : {"n", "e", "s", "w", "u"}) lighting += std::string("sky_") + f + " " + data + "sky-" + f + ".png\n";
  lighting += "sky_env " + data + "sky-env.png\nfog [ 0.72 0.78 0.86 ] 0.00045\nnear_plane 0.25\nfar_plane 6000\n";
  gen_write_text(ctx, folder + "lighting", lighting);

  // Television cameras on towers around the lap; each covers the gates nearest to it.
  const int camera_count = 6;
  std::string cameras;
  for (int cam = 0; cam < camera_count; ++cam) {
    float s = finish_s + path.length * (static_cast<float>(cam) + 0.5f) / camera_count;
    int i = at_s(s);
    cameras += "gate";
    for (int g = 0; g < gate_count; ++g) {
      if (g * camera_count / gate_count == cam) cameras += " " + std::to_string(g);
    }
    cameras += "\n";
    float side = path.curve[i] > 0 ? 1.0f : -1.0f;  // the inside of the bend sees most of it
    float w = path.width[i] + 45.0f;
    float x = path.x[i] - path.tz[i] * w * side, z = path.z[i] + path.tx[i] * w * side;
    cameras += fmt("fov %g\nautofovsize %g\n", 48.0, 30.0) + fmt("addcamera %f 22 %f\n", x, z);
  }
  gen_write_text(ctx, folder + "cameras", cameras);

  // The HUD map: the lap drawn over a transparent square, x to the right and z downwards.
  const int map_size = 256;
  std::vector<uint8_t> map(static_cast<size_t>(map_size) * map_size * 4, 0);
  for (int i = 0; i < path.count; ++i) {
    float mx = path.x[i] / extent * map_size, mz = path.z[i] / extent * map_size;
    for (int dz = -2; dz <= 2; ++dz) {
      for (int dx = -2; dx <= 2; ++dx) {
        int px = static_cast<int>(mx) + dx, pz = static_cast<int>(mz) + dz;
        if (px < 0 || pz < 0 || px >= map_size || pz >= map_size) continue;
        uint8_t* p = &map[(static_cast<size_t>(pz) * map_size + px) * 4];
        bool core = std::abs(dx) <= 1 && std::abs(dz) <= 1;
        if (core) {
          p[0] = p[1] = p[2] = 255;
        } else if (p[3] == 0) {
          p[0] = p[1] = p[2] = 20;
        }
        p[3] = 255;
      }
    }
  }
  std::vector<uint8_t> map_png = gen_png(map_size, map_size, 4, map);
  gen_write_file(ctx, folder + "map.png", map_png.data(), map_png.size());
  gen_write_text(ctx, folder + "desc", "Ridgeback MX\n");
}
