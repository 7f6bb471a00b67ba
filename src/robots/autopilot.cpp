// Auto pilot planning: personalities, picking the next racing line and splicing it onto the
// robot's path, and the traffic rule.
#include "robots/autopilot.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/control.h"
#include "bike/contact.h"
#include "bike/engine.h"
#include "bike/rider.h"
#include "core/options.h"
#include "core/random.h"
#include "platform/log.h"
#include "race/race.h"
#include "track/timing_gates.h"
#include "track/track.h"

RobotState robot_state[max_riders];

namespace {

const Personality personalities[personality_count] = {
    {"empty", 0, 0, 0.0f, 0.0f, 0.0f},   {"zolt", 0, 0, 1.0f, 0.2f, 0.4f},
    {"quenby", 2, 1, 10.0f, 0.2f, 0.4f}, {"osmer", 1, 0, 10.0f, 0.0f, 0.1f},
    {"tester", 3, 3, 1.0f, 0.2f, 0.4f},
};

float clamp01(double v) { return static_cast<float>(std::clamp(v, 0.0, 1.0)); }

double hdist(const LineSample& p, double cx, double cz) { return std::hypot(p.x - cx, p.z - cz); }

// Index of the sample from `from` on that lies horizontally nearest to (x, z); from itself
// when none follows.
int nearest_sample(const Array<LineSample>& path, int from, float x, float z) {
  int nearest = from;
  double best = 1e30;
  for (int k = from; k < path.count; ++k) {
    const double d = hdist(path.items[k], x, z);
    if (d < best) best = d, nearest = k;
  }
  return nearest;
}

// Replaces the junction from j0 to the first new sample by a cubic Hermite curve.
void smooth_junction(Array<LineSample>* path, int j0, int first_new, const float forward[3]) {
  LineSample* s = path->items;
  int n = first_new - j0;
  if (n <= 1 || j0 < 0 || first_new >= path->count) return;
  if (s[j0].speed < 0 || s[first_new].speed < 0) return;
  float t0[3], t1[3] = {0, 0, 0};
  if (j0 == 0) {
    for (int c = 0; c < 3; ++c) t0[c] = forward[c] * 7.5f * static_cast<float>(n);
  } else {
    t0[0] = (s[j0].x - s[j0 - 1].x) * static_cast<float>(n);
    t0[1] = (s[j0].y - s[j0 - 1].y) * static_cast<float>(n);
    t0[2] = (s[j0].z - s[j0 - 1].z) * static_cast<float>(n);
  }
  if (first_new + 1 < path->count) {
    t1[0] = (s[first_new + 1].x - s[first_new].x) * static_cast<float>(n);
    t1[1] = (s[first_new + 1].y - s[first_new].y) * static_cast<float>(n);
    t1[2] = (s[first_new + 1].z - s[first_new].z) * static_cast<float>(n);
  }
  const LineSample a = s[j0], b = s[first_new];
  for (int j = j0 + 1; j < first_new; ++j) {
    float t = static_cast<float>(j - j0) / static_cast<float>(n), t2 = t * t, t3 = t2 * t;
    float h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t, h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
    s[j].x = h00 * a.x + h10 * t0[0] + h01 * b.x + h11 * t1[0];
    s[j].y = h00 * a.y + h10 * t0[1] + h01 * b.y + h11 * t1[1];
    s[j].z = h00 * a.z + h10 * t0[2] + h01 * b.z + h11 * t1[2];
    float speed = a.speed + (b.speed - a.speed) * t;
    s[j].speed = std::min(speed, std::fabs(s[j].speed));
    s[j].lean = a.lean + (b.lean - a.lean) * t;
  }
}

float side_of(const float a[2], const float b[2], const float q[2]) {
  return (q[0] - a[0]) * (a[1] - b[1]) + (q[1] - a[1]) * (b[0] - a[0]);
}

bool different_sides(float s1, float s2) { return (s1 < 0 && s2 >= 0) || (s1 >= 0 && s2 < 0); }

}  // namespace

const Personality* personality(int index) { return &personalities[std::clamp(index, 0, personality_count - 1)]; }

int personality_find(const char* name) {
  if (!name) return -1;
  for (int i = 1; i < personality_count; ++i)
    if (strcmp(personalities[i].name, name) == 0) return i;
  return -1;
}

void set_personality(Rider* r, const char* name) {
  if (!r || r->slot < 0 || r->slot >= max_riders) return;
  int i = personality_find(name);
  if (i < 0) {
    velk_log("auto pilot personality '%s' not found\n", name ? name : "");
    i = 1;
  }
  robot_state_reset(r->slot);
  robot_state[r->slot].personality = i;
}

void robot_state_reset(int slot) {
  if (slot < 0 || slot >= max_riders) return;
  robot_state[slot] = RobotState{0, 0, 0, 0, 0.0f, -1000000, 0.0f, -1, false};
}

int auto_pilot_cost_mode(const Personality* p, bool leads, float lead_seconds) {
  return leads && lead_seconds > p->lead_threshold ? p->leading_mode : p->normal_mode;
}

int auto_pilot_pick(int slot, int mode, const float frame[3], const float forward[3]) {
  if (slot < 0 || slot >= max_riders) return -1;
  RobotState& st = robot_state[slot];
  RiderLines& rl = rider_lines[slot];
  int store_slot = slot_of(st.plan_segment);
  if (store_slot < 0 || lines_count(store_slot) == 0) return -1;
  RacingLine* row = line_store.slots[store_slot];
  mode = std::clamp(mode, 0, 3);
  const double dt = tick_seconds;
  int tick = race.race_tick;

  int64_t cost[lines_per_slot];
  int64_t lowest = -1;
  for (int i = 0; i < lines_per_slot; ++i) {
    if (row[i].sample_count == 0) continue;
    cost[i] = line_cost(&row[i], mode);
    if (lowest < 0 || cost[i] < lowest) lowest = cost[i];
  }
  // The end of the path predicts where the next line should start.
  bool fresh = rl.path.count < 3;
  double cx = 0, cz = 0, radius = 0;
  const LineSample* last = nullptr;
  if (!fresh) {
    const LineSample* s = rl.path.items + rl.path.count - 3;
    line_turn_centre(s[0], s[1], s[2], &cx, &cz);
    last = &s[2];
    radius = hdist(*last, cx, cz);
  }
  int pick = -1;
  double pick_score = 0, pick_match = 0;
  for (int i = 0; i < lines_per_slot; ++i) {
    const RacingLine& l = row[i];
    if (l.sample_count == 0) continue;
    double w = cost[i] == 0 ? 1.0 : static_cast<double>(lowest) / static_cast<double>(cost[i]);
    if (mode < 3 && l.line_id == line_store.chains[mode][store_slot])
      w += (1 - w) * clamp01((tick * dt - 40) * 0.05);
    if (store_slot == 0) w = 0.8 + 0.2 * w;
    double m = 0;
    if (fresh) {
      double dx = l.samples[0].x - frame[0], dy = l.samples[0].y - frame[1], dz = l.samples[0].z - frame[2];
      double f = clamp01((100 - std::sqrt(dx * dx + dy * dy + dz * dz)) / 96);
      m = 10 * f * f * f;
    } else if (l.sample_count >= 2) {
      double d0 = hdist(l.samples[0], cx, cz), d1 = hdist(l.samples[1], cx, cz);
      double fs = clamp01((15 - (std::fabs(last->speed) - std::fabs(l.samples[0].speed))) / 5);
      double fr = clamp01((5 - std::fabs(radius - d0)) / 3.5);
      double ft = clamp01((3 - std::fabs(d1 - d0)) / 2);
      m = fs * std::pow(fr * ft, 3);
    }
    double recency = clamp01((static_cast<double>(tick) - l.last_picked) * dt / 3);
    double score = w * recency + m;
    if (pick < 0 || score > pick_score) {
      pick = i;
      pick_score = score;
      pick_match = m;
    }
  }
  if (pick < 0) return -1;
  RacingLine& chosen = row[pick];
  if (options.debug_level > 0)
    velk_log("auto pilot: picking %d score = %f match = %f last_picked = %f\n", pick, pick_score, pick_match,
             chosen.last_picked * dt);
  const LineSample tail = chosen.samples[chosen.sample_count - 1];
  for (int i = 0; i < lines_per_slot; ++i) {
    RacingLine& l = row[i];
    if (l.sample_count == 0) continue;
    const LineSample& e = l.samples[l.sample_count - 1];
    float dx = e.x - tail.x, dy = e.y - tail.y, dz = e.z - tail.z;
    if (i == pick || dx * dx + dy * dy + dz * dz <= 9.0f) l.last_picked = tick;
  }
  bool first_pick = st.plan_segment == 0;
  rl.picked_line[st.plan_segment & 3] = chosen.line_id;
  st.plan_segment++;

  // Splice: keep 30 samples behind the robot, then the new line, with a smoothed junction.
  if (rl.path_index > 30) {
    int drop = rl.path_index - 30;
    memmove(rl.path.items, rl.path.items + drop, sizeof(LineSample) * static_cast<size_t>(rl.path.count - drop));
    rl.path.count -= drop;
    rl.path_index = 30;
  }
  if (rl.path.count == 0)
    for (int k = 0; k < 5; ++k) array_push(&rl.path, chosen.samples[0]);
  int first_new = rl.path.count;
  array_reserve(&rl.path, rl.path.count + chosen.sample_count);
  for (int k = 0; k < chosen.sample_count; ++k) array_push(&rl.path, chosen.samples[k]);
  smooth_junction(&rl.path, std::max(first_new - 5, std::max(rl.path_index, 0)), first_new, forward);

  const bool relocate = st.relocate && rl.path.count > 0;
  st.relocate = false;
  if (relocate) {
    // A robot put back mid-race joins its new line where it stands, not at the segment's
    // beginning up to a few hundred feet behind it; only the line's own samples count, as the
    // smoothed lead-in loops out ahead of the robot and back.
    rl.path_index = std::min(nearest_sample(rl.path, first_new, frame[0], frame[2]) + 1, rl.path.count - 1);
    st.last_advance_tick = race.race_tick;
  }
  if (first_pick && !relocate) {
    const LineSample& o = rl.path.items[0];
    int k = 0;
    while (k < rl.path.count) {
      const LineSample& q = rl.path.items[k];
      float dx = q.x - o.x, dy = q.y - o.y, dz = q.z - o.z;
      if (dx * dx + dy * dy + dz * dz > 100.0f) break;
      ++k;
    }
    rl.path_index = std::min(k, rl.path.count - 1);
    // 30 s at the race start; a robot put back later gets the same grace from now.
    st.last_advance_tick = std::max(static_cast<int>(30 / dt), race.race_tick);
  }
  return pick;
}

Footprint traffic_footprint(const float p[3], const float v[3]) {
  float s = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  float zx = 0, zz = 1, xx = 1, xz = 0;
  if (s > 0) {
    zx = -v[0] / s;
    zz = -v[2] / s;
    xx = -v[2] / s;
    xz = v[0] / s;
  }
  const float lat[4] = {-2, -2, 2, 2}, lon[4] = {-4 - s, 4, 4, -4 - s};
  Footprint f;
  for (int i = 0; i < 4; ++i) {
    f.corner[i][0] = p[0] + xx * lat[i] + zx * lon[i];
    f.corner[i][1] = p[2] + xz * lat[i] + zz * lon[i];
  }
  f.centre[0] = p[0];
  f.centre[1] = p[2];
  f.forward[0] = zx;
  f.forward[1] = zz;
  return f;
}

bool traffic_blocks(const Footprint& a, const Footprint& b, float* distance2) {
  float dx = b.centre[0] - a.centre[0], dz = b.centre[1] - a.centre[1];
  *distance2 = dx * dx + dz * dz;
  for (int i = 0; i < 4; ++i) {
    const float* a0 = a.corner[i];
    const float* a1 = a.corner[(i + 1) & 3];
    const float* b0 = b.corner[i];
    const float* b1 = b.corner[(i + 1) & 3];
    if (different_sides(side_of(a0, a1, b0), side_of(a0, a1, b1)) &&
        different_sides(side_of(b0, b1, a0), side_of(b0, b1, a1))) {
      // Ahead of the robot, as the two of them see it.
      return dx * a.forward[0] + dz * a.forward[1] < -dx * b.forward[0] - dz * b.forward[1];
    }
  }
  return false;
}

float traffic_speed(const float p[3], const float v[3], float r0, float target, const float op[3], const float ov[3],
                    float seconds_since_drop, bool* clear_picks) {
  *clear_picks = false;
  float s = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  float zx = 0, zz = 1, xx = 1, xz = 0;
  if (s > 0) {
    zx = -v[0] / s;
    zz = -v[2] / s;
    xx = -v[2] / s;
    xz = v[0] / s;
  }
  float tau = std::min(100.0f, seconds_since_drop);
  float k = std::clamp((tau - 3) * 0.5f, 0.0f, 1.0f) * std::clamp((120 - tau) * 0.01f, 0.0f, 1.0f);
  float cx = p[0] + r0 * xx, cz = p[2] + r0 * xz;
  float dx = op[0] - cx, dz = op[2] - cz;
  float dd = dx * dx + dz * dz;
  float vx = ov[0], vz = ov[2];
  if (dd > 0) {
    float along = (vx * dx + vz * dz) / dd;
    vx -= dx * along;
    vz -= dz * along;
  }
  float w = vx * zx + vz * zz < 0 ? std::hypot(vx, vz) : 0.0f;
  float gx = op[0] - p[0], gy = op[1] - p[1], gz = op[2] - p[2];
  float d = std::sqrt(gx * gx + gy * gy + gz * gz);
  float a = 8 * k + 12;
  if (d >= a) {
    if (w < target) {
      float e = 0.2f * (s - w);
      float y = s * e - 2.5f * e * e - w * e - d;
      if (y > -a) {
        float f = std::clamp((y + a) / 3, 0.0f, 1.0f);
        target += (w - target) * f;
        *clear_picks = true;
      }
    }
    return target;
  }
  return std::min(target, (1 - 0.25f * k) * w);
}

bool traffic_in_lane(const Footprint& robot, const Footprint& other, float* distance2) {
  const float dx = other.centre[0] - robot.centre[0], dz = other.centre[1] - robot.centre[1];
  *distance2 = dx * dx + dz * dz;
  // forward is Z, backwards along the travel, without its vertical part: measured in feet on
  // the ground it is made a unit vector first (a robot in flight has a short one).
  const float zl = std::hypot(robot.forward[0], robot.forward[1]);
  if (!(zl > 1e-3f)) return false;
  const float zx = robot.forward[0] / zl, zz = robot.forward[1] / zl;
  const float ahead = -(dx * zx + dz * zz);
  const float lateral = -dx * zz + dz * zx;
  // The robot's footprint reaches 4 + s ahead and the other's 4 ft back: together the length
  // of the robot's, 8 + s.
  const float fx = robot.corner[1][0] - robot.corner[0][0], fz = robot.corner[1][1] - robot.corner[0][1];
  const float reach = std::sqrt(fx * fx + fz * fz);
  // Ahead as the two of them see it, as for crossing footprints: two riders side by side never
  // both wait for the other.
  const bool before = dx * robot.forward[0] + dz * robot.forward[1] < -dx * other.forward[0] - dz * other.forward[1];
  return ahead > 0 && ahead < reach && std::fabs(lateral) < 4 && before;
}

void auto_pilot_advance(int slot, const float frame[3], const float forward[3]) {
  if (slot < 0 || slot >= max_riders) return;
  RobotState& st = robot_state[slot];
  RiderLines& rl = rider_lines[slot];
  if (rl.path_index < 0) rl.path_index = 0;
  if (rl.path_index >= rl.path.count) return;
  const LineSample& s = rl.path.items[rl.path_index];
  float capture = st.lost_count == 3 ? 30.0f : 60.0f;
  float dx = s.x - frame[0], dz = s.z - frame[2];
  float d2 = dx * dx + dz * dz;
  if (d2 > capture * capture) return;
  if (d2 > 16.0f && rl.path_index > 0) {
    const LineSample& p = rl.path.items[rl.path_index - 1];
    float sx = s.x - p.x, sy = s.y - p.y, sz = s.z - p.z;
    if (sx * sx + sy * sy + sz * sz > 1.0f && sx * forward[0] + sy * forward[1] + sz * forward[2] < 0) return;
  }
  rl.path_index++;
  st.last_advance_tick = race.race_tick;
  if (st.lost_count > 0) st.lost_count--;
  if (rl.path_index >= rl.path.count) {
    array_clear(&rl.path);
    rl.path_index = 0;
  }
}

bool auto_pilot_watchdog(int slot) {
  if (slot < 0 || slot >= max_riders) return false;
  RobotState& st = robot_state[slot];
  if (static_cast<double>(race.race_tick - st.last_advance_tick) * tick_seconds <= 3.0) return false;
  st.lost_count = 3;
  return true;
}

SpeedControl auto_pilot_speed_control(float v, float target, bool rear_on_ground, int gear, float rpm,
                                      float rpm_limit, float pitch, float front_minus_rear, bool knocked_down) {
  SpeedControl c = {0, 0, 0, 0};
  const float pi = 3.14159265358979f;
  if (rear_on_ground) {
    if (v < target - 1) {
      c.throttle = 1;
    } else {
      float e = v - (target - 1);
      if (e >= 1) {
        c.front_brake = c.rear_brake = std::clamp(e - 1, 0.0f, 1.0f);
      } else {
        c.throttle = 1 - e;
      }
    }
    // Slipping the clutch in first gear pulls away without stalling.
    c.clutch = gear > 0 ? 1.0f : std::clamp((rpm - (rpm_limit - 1000)) / 1000, 0.0f, 1.0f);
    return c;
  }
  bool nose_low = !(front_minus_rear >= 0 || pitch >= 0) || pitch < -pi / 4;
  if (!nose_low) {
    if (front_minus_rear > 1 && pitch >= -pi / 8) {
      c.clutch = 0;
      c.rear_brake = 1;  // the brake tips the nose down
    } else {
      c.clutch = 0.125f;
    }
  } else {
    c.throttle = knocked_down ? 0.0f : 1.0f;
    c.clutch = 0.125f;
  }
  return c;
}

bool auto_pilot_start(Rider* r, int slot) {
  if (!r || slot < 0 || slot >= max_riders) return false;
  RobotState& st = robot_state[slot];
  double t = race.race_tick * tick_seconds, drop = race.gate_drop_tick * tick_seconds;
  if (t >= drop + 5) return false;
  bool down = r->down_ticks > 0;
  auto hold = [&](float throttle) {
    ControlState& c = r->control;
    c.dab = down ? c.dab : 1.0f;
    c.clutch = 0;
    c.front_brake = c.rear_brake = 1;
    c.steer = 0;
    c.throttle = throttle;
  };
  if (t < 5) {
    r->assists.auto_shift = false;
    r->control.gear = r->info.gear_ratio[1] > 0 ? 1 : 0;
    if (st.start_time == 0) st.start_time = static_cast<float>(2 * rng_uniform());
    if (st.start_time > 0 && t >= st.start_time) st.start_time = -static_cast<float>(t + 0.25 + 0.5 * rng_uniform());
    if (st.start_time < 0 && t >= -st.start_time)
      st.start_time = static_cast<float>(std::min(5.0, t + 2 + 0.5 * rng_uniform()));
    hold(st.start_time < 0 && !down ? 1.0f : 0.0f);
    return true;
  }
  if (st.start_time < 5) st.start_time = static_cast<float>(5.125 + 0.375 * rng_uniform());
  if (t >= st.start_time && st.start_time < drop) {
    const Personality* p = personality(st.personality);
    st.start_time = static_cast<float>(drop + p->reaction_min + (p->reaction_max - p->reaction_min) * rng_uniform());
  }
  if (t < st.start_time) {
    hold(0);
    return true;
  }
  return false;
}

namespace {

// Whether the slot leads the race, and by how many seconds over the second rider at the second
// rider's last passed checkpoint.
bool leading(int slot, float* seconds) {
  *seconds = 0;
  if (race.standings_count < 2 || race.standings[0].slot != slot) return false;
  const StandingEntry& second = race.standings[1];
  int idx = second.checkpoints - 1;
  if (idx < 0) return true;
  int mine = crossing_tick(slot, idx), theirs = crossing_tick(second.slot, idx);
  if (mine >= 0 && theirs >= 0) *seconds = static_cast<float>((theirs - mine) * tick_seconds);
  return true;
}

}  // namespace

bool auto_pilot_plan_step(Rider* r, int slot) {
  if (!r || slot < 0 || slot >= max_riders || robot_state[slot].personality == 0 || !r->body[body_frame]) return false;
  RobotState& st = robot_state[slot];
  RiderLines& rl = rider_lines[slot];
  r->assists.wheelie_guard = true;
  r->assists.front_antilock = r->assists.rear_antilock = true;
  r->assists.auto_shift = true;

  float frame[3], m[9];
  bike_body_position(r, body_frame, frame);
  bike_body_rotation(r, body_frame, m);
  float forward[3] = {-m[2], -m[5], -m[8]};
  auto_pilot_advance(slot, frame, forward);

  if (rl.path_index >= rl.path.count - 10 && line_store.slot_count > 0 && !r->finished) {
    float lead = 0;
    bool leads = leading(slot, &lead);
    auto_pilot_pick(slot, auto_pilot_cost_mode(personality(st.personality), leads, lead), frame, forward);
  }
  if (rl.path_index >= rl.path.count) {
    ControlState& c = r->control;
    c.throttle = 0;
    c.clutch = 0;
    c.front_brake = c.rear_brake = 1;
    c.steer = 0;
    c.dab = 1;
    return false;
  }
  if (auto_pilot_start(r, slot)) {
    // A robot held at the gate cannot advance: the watchdog counts from its release.
    st.last_advance_tick = std::max(st.last_advance_tick, race.race_tick);
    return false;
  }
  if (auto_pilot_watchdog(slot)) return false;
  return true;
}

namespace {

constexpr float pi_f = 3.14159265f;
constexpr float min_path_speed = 10;  // ft/s
constexpr float max_lean = 1.0f;        // rad
constexpr double stuck_seconds = 10;

struct V3 {
  float x, y, z;
};

V3 sub(const V3& a, const V3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float dot3(const V3& a, const V3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
float len3(const V3& a) { return std::sqrt(dot3(a, a)); }
V3 at(const float v[3]) { return {v[0], v[1], v[2]}; }
V3 sample_pos(const LineSample& s) { return {s.x, s.y, s.z}; }

// Path reads clamped to the path, which the caller guarantees is not empty.
const LineSample& path_sample(const Array<LineSample>& path, int i) {
  return path.items[std::clamp(i, 0, path.count - 1)];
}

V3 path_at(const Array<LineSample>& path, float u) {
  int i = static_cast<int>(std::floor(u));
  float f = u - static_cast<float>(i);
  V3 a = sample_pos(path_sample(path, i)), b = sample_pos(path_sample(path, i + 1));
  return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
}

// The first friction coefficient of the surface at (x, z); 1 without a surface table.
float surface_mu(const Terrain* t, float x, float z) {
  if (!t || !t->tile_types || !t->tile_map || t->tile_type_count <= 0) return 1;
  int type = terrain_tile_at(t, x, z);
  if (type < 0 || type >= t->tile_type_count) return 1;
  float mu = t->tile_types[type].friction[0].coefficient;
  return std::isfinite(mu) && mu > 0 ? mu : 1;
}

// The engine speed the robot pulls away at: where the automatic shift changes up, near the
// top of the torque curve (at the rev limit itself the engine gives next to nothing).
float top_engine_rpm(const Rider* r) {
  float up = r->info.shift_up_rpm;
  return std::isfinite(up) && up > 1000 ? up : r->info.rev_limit_rpm;
}

// The velocity the steering frame and the footprints are built from. Below walking pace the
// direction of the velocity is noise (a bike rocking on its stand, a rider falling sideways), and
// a standing rider would otherwise face the world's z axis whichever way it points: there the
// bike's heading stands in, with the speed kept.
void heading_velocity(const Rider* r, float out[3]) {
  constexpr float slow = 2;  // ft/s
  float v[3], m[9];
  bike_body_velocity(r, body_frame, v);
  const float s = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  for (int c = 0; c < 3; ++c) out[c] = v[c];
  if (s >= slow) return;
  bike_body_rotation(r, body_frame, m);
  const float f[3] = {-m[2], -m[5], -m[8]};
  const float fl = std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]);
  if (!(fl > 0.5f)) return;
  const float speed = std::max(s, 1e-3f);
  for (int c = 0; c < 3; ++c) out[c] = f[c] / fl * speed;
}

float signed_floor(float v, float minimum) {
  if (std::fabs(v) >= minimum) return v;
  return v < 0 ? -minimum : minimum;
}

}  // namespace

void auto_pilot_ride(Rider* r, int slot) {
  if (!r || slot < 0 || slot >= max_riders || !r->body[body_frame]) return;
  RobotState& st = robot_state[slot];
  const Array<LineSample>& path = rider_lines[slot].path;
  if (path.count == 0) return;
  const double dt = tick_seconds;

  float pf[3], vf[3], m[9];
  bike_body_position(r, body_frame, pf);
  heading_velocity(r, vf);
  bike_body_rotation(r, body_frame, m);
  const V3 p = at(pf), v = at(vf);
  const V3 body_x = {m[0], m[3], m[6]}, body_y = {m[1], m[4], m[7]};
  const V3 forward = {-m[2], -m[5], -m[8]};
  const float s = len3(v);
  // A foot down while pulling away or creeping in traffic: at walking pace no steering keeps
  // the bike up.
  control_set_dab(r, std::clamp((7.5f - s) / 5, 0.0f, 1.0f));
  const float lean = r->lean_angle, rho = roll_rate(r);
  V3 Z = {0, 0, 1}, X = {1, 0, 0};
  if (s > 0) {
    Z = {-v.x / s, -v.y / s, -v.z / s};
    X = {-v.z / s, 0, v.x / s};
  }

  // a. Where the robot is along the path: the crossing of its forward plane.
  const int count = path.count;
  int start = std::clamp(rider_lines[slot].path_index - 1, 0, count - 1);
  float u = static_cast<float>(start + 1);
  for (int i = start; i >= 0; --i) {
    float di = dot3(sub(sample_pos(path.items[i]), p), forward);
    u = static_cast<float>(i + 1);
    if (di < 0) {
      if (i + 1 < count) {
        float dn = dot3(sub(sample_pos(path.items[i + 1]), p), forward);
        if (dn > 0) u = static_cast<float>(i + 1) + std::clamp(di / (di - dn), 0.0f, 1.0f);
      }
      break;
    }
  }
  const int k = std::clamp(static_cast<int>(std::lround(u)), 0, count - 1);
  const LineSample& sk = path_sample(path, k);
  const LineSample& sk1 = path_sample(path, k + 1);
  float target = std::fabs(sk.speed) + (std::fabs(sk1.speed) - std::fabs(sk.speed)) * (u - static_cast<float>(k));
  // Lines begin at the standstill of the grid: a target below walking pace would keep the
  // robot there for good.
  target = std::max(target, min_path_speed);

  // b. Time to the next jump.
  int jump = -1;
  for (int j = k; j <= k + 19 && j + 1 < count; ++j)
    if (path.items[j].speed < 0 && path.items[j + 1].speed < 0) {
      jump = j;
      break;
    }
  float t = 1000000;
  if (jump >= 0) {
    float gap = len3(sub(sample_pos(sk), p));
    t = (s > 1e-3f ? gap / s : 1000000.0f) + static_cast<float>(jump - k) * 0.25f;
  }

  // c. Ground load, roll rate limit and the radius the bike turns at now.
  const float load = static_cast<float>(r->wheel[0].feedback.f1[1] + r->wheel[1].feedback.f1[1]) /
                     (32 * std::max(r->total_mass, 1e-3f));
  const float g = 32 * std::max(1.0f, load - 1);
  float max_rate = pi_f / std::max(1.0f, load - 1);
  const float r0 = -s * s / (g * signed_floor(std::tan(lean), 1e-6f));

  // d. Traffic: the nearest rider ahead whose footprint crosses the robot's.
  const Footprint mine = traffic_footprint(pf, vf);
  const Rider* chosen = nullptr;
  float best = 1000000;
  for (int o = 0; o < max_riders; ++o) {
    const Rider* other = session.slots[o].rider;
    if (!other || o == slot || !other->body[body_frame]) continue;
    float op[3], ov[3], d2;
    bike_body_position(other, body_frame, op);
    bike_body_velocity(other, body_frame, ov);
    // Footprints reach 4 + speed ahead and 4 behind, 2 to each side: riders further apart than
    // both reaches and the lane's length cannot meet, and a full field skips most of its pairs.
    const float dx = op[0] - pf[0], dz = op[2] - pf[2];
    const float reach = 17 + s + std::sqrt(ov[0] * ov[0] + ov[1] * ov[1] + ov[2] * ov[2]);
    if (dx * dx + dz * dz > reach * reach) continue;
    heading_velocity(other, ov);
    const Footprint theirs = traffic_footprint(op, ov);
    if ((traffic_blocks(mine, theirs, &d2) || traffic_in_lane(mine, theirs, &d2)) && d2 < best) {
      best = d2;
      chosen = other;
    }
  }
  if (chosen) {
    float op[3], ov[3];
    bike_body_position(chosen, body_frame, op);
    heading_velocity(chosen, ov);
    bool clear = false;
    target = traffic_speed(pf, vf, r0, target, op, ov,
                           static_cast<float>((race.race_tick - race.gate_drop_tick) * dt), &clear);
    if (clear)
      for (int& id : rider_lines[slot].picked_line) id = 0;
    // Waiting behind a rider who has stopped (or fallen) is no lost path: the watchdog would
    // freeze the controls at the stop, and the robot would wait there until it is put back.
    if (target < 3) st.last_advance_tick = race.race_tick;
  }

  // e. The aim point and the gains: looser on a straight run of samples, towards the take-off
  // before a jump.
  float gain = 4;
  V3 aim;
  if (r->checkpoints_passed == 0) {
    aim = path_at(path, u + 4);
  } else {
    int n = 0;
    for (int i = k + 1; i <= k + 6 && i < count; ++i) {
      V3 d = sub(sample_pos(path.items[i]), p);
      float lx = dot3(d, X), lf = -dot3(d, Z);
      if (!(lf > 0 && std::fabs(lx) <= lf / 8)) break;
      ++n;
    }
    float c = std::min(1.0f, static_cast<float>(20 - n) / 17);
    gain = 4 * c;
    max_rate *= c;
    if (t >= 2) {
      aim = path_at(path, n > 4 && std::fabs(lean) < 0.3926991f ? u + 3 : u + 2);
    } else {
      float b = std::clamp((2 - t) * 2, 0.0f, 1.0f);
      V3 a3 = sample_pos(path_sample(path, k + 3));
      V3 j0 = sample_pos(path_sample(path, jump)), j3 = sample_pos(path_sample(path, jump + 3));
      aim = {a3.x + (j3.x - j0.x + p.x - a3.x) * b, a3.y + (j3.y - j0.y + p.y - a3.y) * b,
             a3.z + (j3.z - j0.z + p.z - a3.z) * b};
    }
  }

  // f. Radius of the circle to the aim point, pushed away from the current turning circle.
  V3 da = sub(aim, p);
  float ax = dot3(da, X), af = -dot3(da, Z);
  float radius;
  if (af <= 0) {
    radius = ax >= 0 ? 10.0f : -10.0f;
  } else {
    float cx = ax - r0, cf = af, cl = std::sqrt(cx * cx + cf * cf);
    float qx = 0, qf = 0;
    if (cl > 0) {
      qx = r0 + cx / cl * std::fabs(r0);
      qf = cf / cl * std::fabs(r0);
    }
    float x2 = signed_floor(ax - 2 * (qx - ax), 1e-6f), f2 = af - 2 * (qf - af);
    radius = (x2 * x2 + f2 * f2) / (2 * x2);
  }

  // g., h. The lean for that radius within the grip of the ground ahead.
  const float wanted = std::atan2(-s * s / radius, g);
  float target_lean = wanted;
  const Terrain* terrain = r->terrain ? r->terrain : &track_terrain;
  auto limit_at = [&](float x, float z) {
    if (!terrain->heights) return;
    Vec3f nw = terrain_face_normal(terrain, x, z);
    V3 n = {nw.x, nw.y, nw.z};
    float nl = len3(n);
    if (!(nl > 0)) return;
    float mu = surface_mu(terrain, x, z);
    float lim = std::min(std::atan(mu), 1.1780972f);
    float beta = lean - std::atan2(dot3(n, body_x) / nl, dot3(n, body_y) / nl);
    target_lean = std::clamp(target_lean, beta - lim, beta + lim);
  };
  for (int i = k + 4; i >= k; --i) {
    const LineSample& q = path_sample(path, i);
    limit_at(q.x, q.z);
  }
  float fw[3], fwv[3];
  bike_body_position(r, body_front_wheel, fw);
  bike_body_velocity(r, body_front_wheel, fwv);
  limit_at(fw[0] + 0.25f * fwv[0], fw[2] + 0.25f * fwv[2]);
  if (target_lean != wanted) {
    target = std::min(target, std::sqrt(32 * g * std::fabs(radius) * std::tan(std::fabs(target_lean))));
    st.last_limit_tick = race.race_tick;
  }

  // i. A sliding front tyre takes throttle away.
  const bool front_touches = r->wheel[0].depth > 0;
  float slide = 0, factor = 1;
  if (front_touches) {
    // Only the part along the ground slides: the wheel bobbing on its fork over bumps is not a
    // slide, and counting it hands the steering to the slide follower on every whoop.
    const V3 pv = at(r->wheel[0].point_velocity), n = at(r->wheel[0].normal);
    const float along = dot3(pv, n);
    slide = len3({pv.x - n.x * along, pv.y - n.y * along, pv.z - n.z * along});
    factor = std::clamp((16 - slide) / 16, 0.0f, 1.0f);
  }
  // j. Slow riding stays upright.
  if (s < 7.5f) {
    target_lean = 0;
    factor = 1;
  } else if (s < 10) {
    float e = std::clamp((s - 7.5f) * 0.4f, 0.0f, 1.0f);
    target_lean *= e;
    factor = 1 - (1 - factor) * e;
  }
  // k. A coming jump: full throttle, at least the take-off speed, little lean.
  if (t < 3) {
    float e = std::clamp((3 - t) / 2, 0.0f, 1.0f);
    factor += (1 - factor) * e;
    target += (std::max(s, std::fabs(sk.speed) + 2) - target) * e;
    float lim = pi_f / 2 - 1.3744469f * e;
    target_lean = std::clamp(target_lean, -lim, lim);
    max_rate += (pi_f / 8 - max_rate) * std::clamp((3 - t) / 3, 0.0f, 1.0f);
  }
  // No lean past what the tyres can hold: an aim point swinging sideways after a landing
  // otherwise asks for more than a right angle.
  target_lean = std::clamp(target_lean, -max_lean, max_lean);
  // l. Wanted roll rate.
  float w = (target_lean - lean) * gain;
  bool upright = (lean >= 0 && w < 0) || (lean < 0 && w >= 0);
  float rate_limit = upright ? 2 * max_rate : max_rate;
  w = std::clamp(w, -rate_limit, rate_limit);

  // m. Steering lock.
  r->assists.full_lock_speed = 1;
  r->assists.restricted_lock_speed = 50;
  r->assists.restricted_lock =
      std::clamp((4 * std::clamp(std::fabs(w) / pi_f, 0.0f, 1.0f) + 1) * pi_f / 180, 0.0f, pi_f / 4);

  // n. Steering: the roll-rate servo while the front grips, following the slide when it slides.
  float e = std::clamp(w - rho, -0.125f, 0.125f);
  float servo = 4 * (rho - (w - e));
  float follow = arcade_steering_effort(r, front_slip_angle(r));
  // Only with both tyres on the ground does steering do what the servo means. With the front
  // in the air any effort just twists the frame about the steering axis and rolls the bike
  // before it lands; landing front first, or with the rear skipping over whoops, the servo (or
  // the slide follower, chasing a hopping wheel) throws the bars to full lock against a lean
  // the bike cannot correct on one tyre. Until both are down the bars are left to the bike's
  // own centring.
  const bool rear_touches = r->wheel[1].depth > 0;
  float steer = 0;
  if (front_touches && rear_touches) steer = follow + (servo - follow) * std::clamp((4 - slide) / 4, 0.0f, 1.0f);
  // A front tyre that only skims the ground after a bump steers no better than one in the air.
  const float front_load = static_cast<float>(r->wheel[0].feedback.f1[1]) / (32 * std::max(r->total_mass, 1e-3f));
  steer *= std::clamp(front_load / 0.25f, 0.0f, 1.0f);
  control_set_steer(r, std::clamp(steer, -1.0f, 1.0f));

  // o. Speed control, the slide factor and the throttle slew.
  float rw[3];
  bike_body_position(r, body_rear_wheel, rw);
  const float pitch = std::asin(std::clamp(forward.y, -1.0f, 1.0f));
  const bool down = r->down_ticks > 0;
  SpeedControl sc = auto_pilot_speed_control(s, target, r->wheel[1].depth > 0, r->gear,
                                             r->engine_speed * rad_per_s_to_rpm, top_engine_rpm(r), pitch,
                                             fw[1] - rw[1], down);
  float throttle = sc.throttle * factor;
  if (static_cast<double>(race.race_tick - st.last_limit_tick) * dt < 0.125)
    throttle = std::min(throttle, st.prev_throttle + 0.03125f);
  else
    throttle = std::max(throttle, st.prev_throttle - 0.03125f);
  // Knocked down, or on its side after a slow fall: no throttle until it is stood up.
  if (down || (std::fabs(lean) > 1.0f && s < 10)) throttle = 0;
  throttle = std::clamp(throttle, 0.0f, 1.0f);
  st.prev_throttle = throttle;
  control_set_throttle(r, throttle);
  control_set_front_brake(r, sc.front_brake);
  control_set_rear_brake(r, sc.rear_brake);
  control_set_clutch(r, sc.clutch);
}

namespace {

// Whether another rider's frame is within 8 ft of (x, z).
bool place_taken(int slot, float x, float z) {
  for (int o = 0; o < max_riders; ++o) {
    const Rider* other = session.slots[o].rider;
    if (!other || o == slot || !other->body[body_frame]) continue;
    float op[3];
    bike_body_position(other, body_frame, op);
    if ((op[0] - x) * (op[0] - x) + (op[2] - z) * (op[2] - z) < 64) return true;
  }
  return false;
}

// Stands the robot's bike up at (x, z) facing the horizontal direction (dx, dz), a unit vector,
// its wheels just clear of the ground, moved back along that direction while another rider
// occupies the place. The race's fields of the rider survive the reset of its bike; the path is
// dropped and picked again from the new place.
void put_back(Rider* r, int slot, float x, float z, float dx, float dz) {
  for (int k = 0; k < 6 && place_taken(slot, x, z); ++k) {
    x -= 8 * dx;
    z -= 8 * dz;
  }
  const float heading = std::atan2(-dx, -dz);  // heading 0 faces -z
  const float y = track_terrain.heights ? terrain_height(&track_terrain, x, z) : 0;
  const int keep_passed = r->checkpoints_passed, keep_crossing = r->last_crossing_tick;
  const int keep_crashes = r->crash_count, keep_number = r->rider_number;
  const RiderAssists keep_assists = r->assists;
  lift_onto_ground(r, x, y, z, heading);
  r->checkpoints_passed = keep_passed;
  r->last_crossing_tick = keep_crossing;
  r->crash_count = keep_crashes;
  r->rider_number = keep_number;
  r->assists = keep_assists;
  // The jump is no line to learn from, and the line is picked again from here.
  r->crash_state = 1;
  RobotState& st = robot_state[slot];
  RiderLines& rl = rider_lines[slot];
  array_clear(&rl.path);
  rl.path_index = 0;
  for (int& id : rl.picked_line) id = 0;
  st.plan_segment = std::max(0, segment_of(r->checkpoints_passed));
  st.last_advance_tick = race.race_tick;
  st.lost_count = 0;
  st.prev_throttle = 0;
  st.lying_since = race.race_tick;
  st.relocate = true;
}

}  // namespace

bool auto_pilot_pick_up(Rider* r, int slot) {
  if (!r || slot < 0 || slot >= max_riders || !r->body[body_frame] || r->finished) return false;
  RobotState& st = robot_state[slot];
  float v[3];
  bike_body_velocity(r, body_frame, v);
  const float speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  // Lying with the rear wheel still driving pushes a fallen bike round at walking pace.
  const bool lying = std::fabs(r->lean_angle) > 1.0f && speed < 10;
  if (st.lying_since < 0 || r->down_ticks > 0 || !lying) {
    st.lying_since = race.race_tick;
    return false;
  }
  if (static_cast<double>(race.race_tick - st.lying_since) * tick_seconds < 2) return false;
  float p[3];
  bike_body_position(r, body_frame, p);
  // Facing along the path a few samples past the nearest one, else along the track.
  float dx = 0, dz = 0;
  const Array<LineSample>& path = rider_lines[slot].path;
  if (path.count >= 2) {
    const int nearest = nearest_sample(path, 0, p[0], p[2]);
    const LineSample& a = path.items[std::min(nearest, path.count - 2)];
    const LineSample& b = path.items[std::min(nearest + 3, path.count - 1)];
    dx = b.x - a.x;
    dz = b.z - a.z;
  }
  float d = std::sqrt(dx * dx + dz * dz);
  if (!(d > 1e-3f)) {
    float m[9];
    bike_body_rotation(r, body_frame, m);
    dx = -m[2];
    dz = -m[8];
    d = std::sqrt(dx * dx + dz * dz);
    if (!(d > 1e-3f)) dx = 0, dz = -1, d = 1;
  }
  put_back(r, slot, p[0], p[2], dx / d, dz / d);
  velk_log("auto pilot: slot %d picked up after a fall at (%.0f, %.0f), checkpoint %d\n", slot, p[0], p[2],
           r->checkpoints_passed);
  return true;
}

bool auto_pilot_stuck_reset(Rider* r, int slot) {
  if (!r || slot < 0 || slot >= max_riders || !r->body[body_frame] || r->finished) return false;
  RobotState& st = robot_state[slot];
  if (static_cast<double>(race.race_tick - st.last_advance_tick) * tick_seconds <= stuck_seconds) return false;
  if (!timing.gates || timing.gate_count <= 0) return false;
  const int total = timing.first_lap_count + timing.normal_lap_count;
  if (total <= 1) return false;
  auto gate_of = [&](int checkpoint) -> const TimingGate* {
    int entry = timing_checkpoint_entry(checkpoint);
    if (entry < 0) return nullptr;
    int g = entry % not_switch_point;
    return g >= 0 && g < timing.gate_count ? &timing.gates[g] : nullptr;
  };
  int passed = r->checkpoints_passed;
  const TimingGate* at = gate_of(std::max(passed - 1, 0));
  const TimingGate* next = gate_of(std::max(passed, 1));
  if (!at || !next) return false;
  float dx = next->centre[0] - at->centre[0], dz = next->centre[2] - at->centre[2];
  float d = std::sqrt(dx * dx + dz * dz);
  if (!(d > 1e-3f)) return false;
  dx /= d;
  dz /= d;
  float x = at->centre[0], z = at->centre[2];
  if (passed == 0) {
    // Not even the first checkpoint passed: a little before it, so that it still counts.
    x -= 15 * dx;
    z -= 15 * dz;
  }
  float was[3];
  bike_body_position(r, body_frame, was);
  put_back(r, slot, x, z, dx, dz);
  velk_log("auto pilot: slot %d stuck at (%.0f, %.0f), put back at checkpoint %d\n", slot, was[0], was[2], passed);
  return true;
}

void auto_pilot_step(Rider* r, int slot) {
  if (slot < 0 || slot >= max_riders) return;
  if (robot_state[slot].personality != 0 && (auto_pilot_stuck_reset(r, slot) || auto_pilot_pick_up(r, slot))) return;
  if (auto_pilot_plan_step(r, slot)) auto_pilot_ride(r, slot);
}
