// Racing lines for the generated tracks: per skill, several lines per segment at 4 samples a
// second, with speeds from curvature, grip, braking and acceleration, built from the track's own
// written files (timing gates, heights, tile map and surface friction).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "datagen.h"
#include "track/terrain.h"

namespace {

constexpr float gravity = 32.0f;
constexpr float frame_height = 2.0f;  // ft of the frame body above the ground
constexpr float sample_time = 0.25f;  // s: the game samples every 32 ticks
constexpr float step = 1.0f;          // ft between points of the dense lap
constexpr float max_flight = 45.0f;   // ft: jumps are ridden, not overjumped

struct Skill {
  const char* file;
  float grip;       // share of the surface's friction a rider of this skill uses in a turn
  float top_speed;  // ft/s
  float accel;      // ft/s^2
  float brake;      // ft/s^2
  float roll_rate;  // rad/s: how fast the rider flicks the bike from one lean to the next
};

const Skill skills[] = {
    {"lines_novice", 0.55f, 56.0f, 9.0f, 13.0f, 0.8f},
    {"lines_amateur", 0.68f, 66.0f, 12.0f, 17.0f, 1.0f},
    {"lines_expert", 0.80f, 76.0f, 15.0f, 21.0f, 1.2f},
};

// Lateral offsets (ft, positive right of the direction of travel) of the steady lines; lines that
// move between neighbours inside a segment join them up.
const float offsets[] = {-4.0f, 0.0f, 4.0f};
constexpr int offset_count = 3;

[[noreturn]] void fail(const std::string& what) {
  fprintf(stderr, "kelvane_datagen: racing lines: %s\n", what.c_str());
  exit(1);
}

std::string read_text(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) fail("can't read " + path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct TrackInput {
  std::vector<float> gx, gy, gz;      // gate centres
  std::vector<float> grid_x, grid_z;  // start slots
  std::vector<int> first, normal;     // lap sequences
  Terrain terrain{};
  std::vector<float> heights;
  std::vector<uint8_t> tiles;
  std::vector<std::vector<std::pair<float, float>>> friction;  // per surface: (speed, factor)
};

void read_timing(const std::string& text, TrackInput* in) {
  std::istringstream s(text);
  std::string line, section;
  while (std::getline(s, line)) {
    if (line.empty()) continue;
    if (line.back() == ':') {
      section = line;
      continue;
    }
    if (section == "startinggate:") {
      float x, y, z;
      if (sscanf(line.c_str(), " [%f %f %f]", &x, &y, &z) == 3) {
        in->grid_x.push_back(x);
        in->grid_z.push_back(z);
      }
    } else if (section == "checkpoints:") {
      float r, x, y, z;
      if (sscanf(line.c_str(), "%f [%f %f %f]", &r, &x, &y, &z) == 4) {
        in->gx.push_back(x);
        in->gy.push_back(y);
        in->gz.push_back(z);
      }
    } else {
      std::istringstream w(line);
      int v;
      while (w >> v) (section == "firstlap:" ? in->first : in->normal).push_back(v);
    }
  }
  if (in->gx.size() < 4 || in->first.empty() || in->normal.empty() || in->grid_x.empty()) fail("bad timing gates");
}

void read_heights(const std::string& bytes, TrackInput* in) {
  int n = 0;
  float spacing = 0, lo = 0, hi = 0;
  size_t colon = bytes.find(':');
  if (colon == std::string::npos || sscanf(bytes.c_str(), "%d %f %f %f", &n, &spacing, &lo, &hi) != 4) fail("bad heights");
  int dim = (1 << (n + 1)) + 1;
  size_t count = static_cast<size_t>(dim) * dim;
  if (bytes.size() < colon + 1 + 2 * count) fail("short heights");
  in->heights.resize(count);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data()) + colon + 1;
  for (size_t k = 0; k < count; ++k)
    in->heights[k] = (hi - lo) * static_cast<float>(p[2 * k] | (p[2 * k + 1] << 8)) * (1.0f / 65535.0f) + lo;
  in->terrain.size_log2 = n;
  in->terrain.dim = dim;
  in->terrain.spacing = spacing;
  in->terrain.tile_size = 2 * spacing;
  in->terrain.extent = spacing * (dim - 1);
  in->terrain.heights = in->heights.data();
}

void read_friction(const std::string& text, TrackInput* in) {
  std::istringstream s(text);
  std::string line;
  std::vector<std::pair<float, float>> current;
  while (std::getline(s, line)) {
    float f, v;
    if (sscanf(line.c_str(), "friction %f %f", &f, &v) == 2) current.push_back({v, f});
    if (line.rfind("addtile", 0) == 0) {
      in->friction.push_back(current);
      current.clear();
    }
  }
}

float grip_at(const TrackInput& in, float x, float z, float speed) {
  int size = 1 << in.terrain.size_log2;
  int c = std::clamp(static_cast<int>(x / in.terrain.tile_size), 0, size - 1);
  int r = std::clamp(static_cast<int>(z / in.terrain.tile_size), 0, size - 1);
  size_t k = static_cast<size_t>(r) * size + c;
  int type = k < in.tiles.size() ? in.tiles[k] : 0;
  if (type >= static_cast<int>(in.friction.size()) || in.friction[type].empty()) return 1.0f;
  const auto& pts = in.friction[type];
  if (speed <= pts.front().first) return pts.front().second;
  for (size_t i = 1; i < pts.size(); ++i) {
    if (speed <= pts[i].first) {
      float w = (speed - pts[i - 1].first) / std::max(pts[i].first - pts[i - 1].first, 1e-3f);
      return pts[i - 1].second + (pts[i].second - pts[i - 1].second) * w;
    }
  }
  return pts.back().second;
}

// The lap as a dense closed centre line through the gate centres (Catmull-Rom), from gate 0.
struct Lap {
  std::vector<float> x, z, tx, tz;
  std::vector<int> gate_index;  // dense index of each gate
  int count = 0;
};

Lap build_lap(const TrackInput& in) {
  Lap lap;
  int g = static_cast<int>(in.gx.size());
  for (int k = 0; k < g; ++k) {
    int i0 = (k + g - 1) % g, i1 = k, i2 = (k + 1) % g, i3 = (k + 2) % g;
    float dx = in.gx[i2] - in.gx[i1], dz = in.gz[i2] - in.gz[i1];
    int n = std::max(1, static_cast<int>(std::sqrt(dx * dx + dz * dz) / step));
    lap.gate_index.push_back(static_cast<int>(lap.x.size()));
    for (int j = 0; j < n; ++j) {
      float t = static_cast<float>(j) / n, t2 = t * t, t3 = t2 * t;
      auto cr = [&](const std::vector<float>& v) {
        return 0.5f * (2 * v[i1] + (-v[i0] + v[i2]) * t + (2 * v[i0] - 5 * v[i1] + 4 * v[i2] - v[i3]) * t2 +
                       (-v[i0] + 3 * v[i1] - 3 * v[i2] + v[i3]) * t3);
      };
      lap.x.push_back(cr(in.gx));
      lap.z.push_back(cr(in.gz));
    }
  }
  lap.count = static_cast<int>(lap.x.size());
  lap.tx.resize(lap.count);
  lap.tz.resize(lap.count);
  for (int i = 0; i < lap.count; ++i) {
    int a = (i + lap.count - 1) % lap.count, b = (i + 1) % lap.count;
    float dx = lap.x[b] - lap.x[a], dz = lap.z[b] - lap.z[a], l = std::max(std::sqrt(dx * dx + dz * dz), 1e-6f);
    lap.tx[i] = dx / l;
    lap.tz[i] = dz / l;
  }
  return lap;
}

// One steady line around the lap at a fixed offset: positions, ground, speed, lean, air.
struct Profile {
  std::vector<float> x, z, y, speed, lean;
  std::vector<bool> air;
  std::vector<float> ds;  // ft from point i to i + 1
};

Profile build_profile(const TrackInput& in, const Lap& lap, float offset, const Skill& sk) {
  Profile p;
  int n = lap.count;
  p.x.resize(n);
  p.z.resize(n);
  for (int i = 0; i < n; ++i) {
    p.x[i] = lap.x[i] - lap.tz[i] * offset;
    p.z[i] = lap.z[i] + lap.tx[i] * offset;
  }
  p.ds.resize(n);
  for (int i = 0; i < n; ++i) {
    int b = (i + 1) % n;
    p.ds[i] = std::max(std::hypot(p.x[b] - p.x[i], p.z[b] - p.z[i]), 0.05f);
  }
  // Signed curvature (positive turning right) over +-8 points, smoothed.
  std::vector<float> curve(n);
  const int k = 8;
  for (int i = 0; i < n; ++i) {
    int a = (i + n - k) % n, b = (i + k) % n;
    float ax = p.x[i] - p.x[a], az = p.z[i] - p.z[a], bx = p.x[b] - p.x[i], bz = p.z[b] - p.z[i];
    float la = std::max(std::hypot(ax, az), 1e-3f), lb = std::max(std::hypot(bx, bz), 1e-3f);
    float cross = (ax * bz - az * bx) / (la * lb);
    curve[i] = std::asin(std::clamp(cross, -1.0f, 1.0f)) / (0.5f * (la + lb));
  }
  std::vector<float> ground(n);
  for (int i = 0; i < n; ++i) ground[i] = terrain_height(&in.terrain, p.x[i], p.z[i]);
  // Speed limit of each point from the grip it offers in the turn, then braking backwards and
  // accelerating forwards, twice round so the closed lap settles.
  std::vector<float> limit(n);
  for (int i = 0; i < n; ++i) {
    float c = std::max(std::fabs(curve[i]), 1e-5f), s = sk.top_speed;
    for (int it = 0; it < 3; ++it) s = std::min(sk.top_speed, std::sqrt(sk.grip * grip_at(in, p.x[i], p.z[i], s) * gravity / c));
    limit[i] = std::max(s, 12.0f);
  }
  std::vector<float> v;
  p.y.resize(n);
  // A rider eases off before a lip rather than flying far beyond the landing, and before a
  // swing from one lean to the other: take-offs of long flights and quick flicks get a lower
  // speed limit until every flight is short enough and every flick slow enough.
  for (int attempt = 0; attempt < 40; ++attempt) {
    v = limit;
    for (int round = 0; round < 2; ++round) {
      for (int j = 2 * n - 1; j >= 0; --j) {
        int i = j % n, b = (i + 1) % n;
        v[i] = std::min(v[i], std::sqrt(v[b] * v[b] + 2 * sk.brake * p.ds[i]));
      }
      for (int j = 0; j < 2 * n; ++j) {
        int i = j % n, b = (i + 1) % n;
        v[b] = std::min(v[b], std::sqrt(v[i] * v[i] + 2 * sk.accel * p.ds[i]));
      }
    }
    // Over crests that fall away faster than a ballistic path the bike flies.
    p.air.assign(n, false);
    float y = ground[0], vy = 0, flown = 0, peak = 0;
    bool flying = false, too_far = false;
    int takeoff = 0;
    for (int j = 0; j < 2 * n; ++j) {
      int i = j % n, b = (i + 1) % n;
      float dt = p.ds[i] / v[i];
      if (!flying) {
        y = ground[i];
        vy = v[i] * (ground[b] - ground[i]) / p.ds[i];
        int a = (i + n - 1) % n;
        vy = 0.5f * (vy + v[i] * (ground[i] - ground[a]) / p.ds[a]);
        takeoff = i;
        flown = 0;
        peak = 0;
      }
      float next = y + vy * dt - 0.5f * gravity * dt * dt;
      // Leaves the ground where it falls away faster than the ballistic path, lands where they meet.
      // A path skimming a rounded slope lands at once; only a real gap counts as a flight.
      if (next > ground[b] + (flying ? 0.05f : 0.01f)) {
        flying = true;
        y = next;
        vy -= gravity * dt;
        flown += p.ds[i];
        peak = std::max(peak, y - ground[b]);
        if (flown > max_flight && peak > 1.0f && j >= n) {
          for (int k = -6; k <= 0; ++k) {
            int q = (takeoff + k + n) % n;
            limit[q] = std::max(12.0f, std::min(limit[q], 0.85f * v[takeoff]));
          }
          too_far = true;
        }
      } else {
        flying = false;
      }
      if (j >= n) {
        p.air[b] = flying && y - ground[b] > 0.25f;
        p.y[b] = (flying ? y : ground[b]) + frame_height;
      }
    }
    // Where the lean swings faster than the rider can roll the bike (an S-bend taken flat out)
    // both ends of the swing get a lower limit.
    bool too_quick = false;
    for (int i = 0; i < n; ++i) {
      int b = (i + 1) % n;
      float la = std::atan(v[i] * v[i] * curve[i] / gravity), lb = std::atan(v[b] * v[b] * curve[b] / gravity);
      float rate = std::fabs(lb - la) * 0.5f * (v[i] + v[b]) / p.ds[i];
      if (rate > sk.roll_rate) {
        for (int q : {i, b}) limit[q] = std::max(12.0f, std::min(limit[q], 0.95f * v[q]));
        too_quick = true;
      }
    }
    if (!too_far && !too_quick) break;
  }
  p.speed = v;
  p.lean.resize(n);
  for (int i = 0; i < n; ++i) p.lean[i] = std::atan(v[i] * v[i] * curve[i] / gravity);
  return p;
}

struct Sample {
  float x, y, z, speed, lean;
};

// Samples every quarter second between dense indices [from, to) of the lap (to may pass the end
// and wrap), the lateral blend going from profile a to profile b; the first sample is at from.
std::vector<Sample> sample_segment(const Profile& a, const Profile& b, int from, int to, int n) {
  std::vector<Sample> out;
  float t = 0, next = 0;
  for (int j = from; j < to; ++j) {
    int i = j % n;
    float u = static_cast<float>(j - from) / std::max(to - from, 1);
    float w = u * u * (3 - 2 * u);
    if (&a == &b) w = 0;
    float speed = a.speed[i] + (b.speed[i] - a.speed[i]) * w;
    if (t >= next) {
      bool air = w < 0.5f ? a.air[i] : b.air[i];
      out.push_back(Sample{a.x[i] + (b.x[i] - a.x[i]) * w, a.y[i] + (b.y[i] - a.y[i]) * w, a.z[i] + (b.z[i] - a.z[i]) * w,
                           air ? -speed : speed, a.lean[i] + (b.lean[i] - a.lean[i]) * w});
      next += sample_time;
    }
    t += a.ds[i] / speed;
  }
  return out;
}

// From a grid slot, accelerating from rest, onto profile p by the first switch point.
std::vector<Sample> sample_start(const TrackInput& in, const Lap& lap, const Profile& p, float gx, float gz,
                                 const Skill& sk) {
  int n = lap.count, start = 0;
  float best = 1e30f;
  for (int i = 0; i < n; ++i) {
    float d = (lap.x[i] - gx) * (lap.x[i] - gx) + (lap.z[i] - gz) * (lap.z[i] - gz);
    if (d < best) {
      best = d;
      start = i;
    }
  }
  float lateral = (gx - lap.x[start]) * -lap.tz[start] + (gz - lap.z[start]) * lap.tx[start];
  std::vector<Sample> out;
  int len = n - start;
  float v = 0, t = 0, next = 0;
  for (int k = 0; k < len; ++k) {
    int i = start + k;
    // The field funnels into the first turn over the whole segment rather than in a rush.
    float u = static_cast<float>(k) / len, w = std::min(1.0f, 1.15f * u);
    w = w * w * (3 - 2 * w);
    float off = lateral * (1 - w);
    float x = p.x[i] - lap.tz[i] * off, z = p.z[i] + lap.tx[i] * off;
    if (t >= next) {
      float y = terrain_height(&in.terrain, x, z) + frame_height;
      out.push_back(Sample{x, w < 0.5f ? y : p.y[i] + (y - p.y[i]) * (1 - w), z, p.air[i] ? -v : v, p.lean[i] * w});
      next += sample_time;
    }
    float ds = p.ds[i];
    float vn = std::min(std::sqrt(v * v + 2 * sk.accel * ds), p.speed[i]);
    t += ds / std::max(0.5f * (v + vn), 1.0f);
    v = vn;
  }
  return out;
}

void append_line(std::string* text, const std::vector<Sample>& s, float seconds) {
  int ticks = static_cast<int>(seconds * 128.0f);
  char buf[160];
  snprintf(buf, sizeof buf, "%d %d %d 0 1000000 1000000 0 0 0\n", static_cast<int>(s.size()), ticks, 2 * ticks);
  *text += buf;
  for (const Sample& p : s) {
    snprintf(buf, sizeof buf, "[%f %f %f] %f %f\n", static_cast<double>(p.x), static_cast<double>(p.y),
             static_cast<double>(p.z), static_cast<double>(p.speed), static_cast<double>(p.lean));
    *text += buf;
  }
}

void lines_for_track(GenContext* ctx, const std::string& folder) {
  TrackInput in;
  read_timing(read_text(ctx->out_dir + folder + "timing_gates"), &in);
  read_heights(read_text(ctx->out_dir + folder + "terrain.hf"), &in);
  std::string tiles = read_text(ctx->out_dir + folder + "tilemap");
  in.tiles.assign(tiles.begin(), tiles.end());
  read_friction(read_text(ctx->out_dir + folder + "tileinfo"), &in);
  Lap lap = build_lap(in);
  int gates = static_cast<int>(in.gx.size());

  // Switch-point gates in riding order: the first lap, then one normal lap.
  auto switches = [&](const std::vector<int>& list) {
    std::vector<int> out;
    for (int e : list)
      if (e >= 0 && e < 100000) out.push_back(std::min(e, gates - 1));
    return out;
  };
  std::vector<int> first = switches(in.first), normal = switches(in.normal);
  if (first.empty() || normal.empty()) fail("no switch points");
  int slots = static_cast<int>(first.size() + normal.size());

  for (const Skill& sk : skills) {
    Profile prof[offset_count];
    for (int o = 0; o < offset_count; ++o) prof[o] = build_profile(in, lap, offsets[o], sk);
    std::string text = "ct03 " + std::to_string(slots) + "\n";
    // Each slot runs from the previous switch gate (the grid for slot 0) to its own.
    int prev_gate = -1;
    for (int slot = 0; slot < slots; ++slot) {
      int gate = slot < static_cast<int>(first.size()) ? first[slot] : normal[slot - first.size()];
      if (slot == static_cast<int>(first.size())) prev_gate = first.back();
      std::vector<std::vector<Sample>> lines;
      std::vector<float> seconds;
      if (prev_gate < 0) {
        // From every grid slot onto the nearest steady line, so each robot leaves on its own.
        for (size_t g = 0; g < in.grid_x.size() && lines.size() < 45; ++g) {
          int o = 1;
          float best = 1e30f;
          for (int k = 0; k < offset_count; ++k) {
            float dx = prof[k].x[lap.count - 1] - in.grid_x[g], dz = prof[k].z[lap.count - 1] - in.grid_z[g];
            if (dx * dx + dz * dz < best) {
              best = dx * dx + dz * dz;
              o = k;
            }
          }
          lines.push_back(sample_start(in, lap, prof[o], in.grid_x[g], in.grid_z[g], sk));
        }
      } else {
        int from = lap.gate_index[prev_gate], to = lap.gate_index[gate];
        if (to <= from) to += lap.count;
        for (int o = 0; o < offset_count; ++o) lines.push_back(sample_segment(prof[o], prof[o], from, to, lap.count));
        for (int o = 0; o + 1 < offset_count; ++o) {
          lines.push_back(sample_segment(prof[o], prof[o + 1], from, to, lap.count));
          lines.push_back(sample_segment(prof[o + 1], prof[o], from, to, lap.count));
        }
      }
      text += std::to_string(lines.size()) + "\n";
      for (const auto& l : lines) append_line(&text, l, sample_time * static_cast<float>(l.size()));
      prev_gate = gate;
    }
    gen_write_text(ctx, folder + sk.file, text);
  }
}

}  // namespace

void gen_lines(GenContext* ctx) { lines_for_track(ctx, "ridgeback/"); }
