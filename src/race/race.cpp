// The race start with its lineup, roster and grid, the race tick in its fixed order, the start
// gates, hot-lap mode and the headless results.
#include "race/race.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "bike/bike.h"
#include "bike/contact.h"
#include "bike/setup.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/options.h"
#include "core/random.h"
#include "core/settings.h"
#include "core/track_list.h"
#include "platform/log.h"
#include "race/particles.h"
#include "race/race_hooks.h"
#include "race/race_internal.h"
#include "resources/data.h"
#include "track/timing_gates.h"
#include "track/track.h"
#include "track/track_assets.h"
#include "track/track_objects.h"

RaceState race;
RaceSlot race_slots[max_riders];
RaceHooks race_hooks;
FILE* race_results_out;

namespace {

constexpr float dt = static_cast<float>(tick_seconds);
constexpr float gate_swing = 0.5890486f;  // 33.75 degrees at gate value 1
constexpr int false_start_ticks = 15 * ticks_per_second;
constexpr const char* robot_team = "Vivevazuv";

struct RosterTable {
  RosterEntry entries[roster_size];
  char numbers[roster_size][4];
};

const char* roster_bike(int n) {
  if (n < 40) {
    static const char* const two_strokes[] = {"kx125", "yz125", "cr125", "rm125"};
    return two_strokes[(n - 20) / 5];
  }
  if (n < 80) {
    static const struct {
      int below;
      const char* bike;
    } spans[] = {{45, "crf250"}, {50, "kx250f"}, {54, "rmz250"}, {59, "yz250f"}, {60, "yz250f_se(2006)"},
                 {65, "crf250"}, {70, "kx250f"}, {75, "rmz250"}, {79, "yz250f"}, {80, "yz250f_se(2006)"}};
    for (const auto& span : spans)
      if (n < span.below) return span.bike;
  }
  static const char* const fours[] = {"crf250", "kx250f", "yz250f", "rmz250"};
  return fours[(n - 80) / 5];
}

constexpr int roster_gear_count = 6;
const char* const roster_gear[roster_gear_count] = {"@rider_body-red.png",    "@rider_body-blue.png",
                                                    "@rider_body-green.png",  "@rider_body-yellow.png",
                                                    "@rider_body-orange.png", "@rider_body-purple.png"};
const char* const roster_helmets[roster_gear_count] = {"@rider_head-red.png",    "@rider_head-blue.png",
                                                       "@rider_head-green.png",  "@rider_head-yellow.png",
                                                       "@rider_head-orange.png", "@rider_head-purple.png"};

const RosterTable& roster() {
  static RosterTable table = [] {
    RosterTable t{};
    for (int i = 0; i < roster_size; ++i) {
      int n = 20 + i;
      snprintf(t.numbers[i], sizeof t.numbers[i], "%d", n);
      const char* personality = n < 40 ? "quenby" : n < 60 ? "zolt" : n < 80 ? "quenby" : "osmer";
      // Gear and helmet colours spread over the numbers, so that a pack is told apart at a glance.
      const char* gear = roster_gear[n % roster_gear_count];
      const char* helmet = roster_helmets[(n / roster_gear_count) % roster_gear_count];
      t.entries[i] = RosterEntry{t.numbers[i], personality, roster_bike(n), {gear, helmet, nullptr, nullptr}};
    }
    return t;
  }();
  return table;
}

void loading(const char* text) {
  if (race_hooks.loading_text) race_hooks.loading_text(text);
}

void release_slot(int s) {
  RiderSlot& slot = session.slots[s];
  if (slot.rider) {
    if (race_hooks.sound_release) race_hooks.sound_release(s);
    bike_free(slot.rider);
  }
  slot.rider = nullptr;
  slot.kind = slot_replayed;
  RaceSlot& rs = race_slots[s];
  array_clear(&rs.crossings);
  rs.name = rs.bike = rs.team = nullptr;
  rs.network = false;
  rs.last_receive_tick = 0;
  rs.laps_at_tick_start = 0;
}

void release_riders(int first) {
  for (int s = first; s < max_riders; ++s) release_slot(s);
}

float float_or_zero(float v) { return std::isfinite(v) ? v : 0; }

bool wheels_touch(const Rider* r) {
  for (int w = 0; w < 2; ++w) {
    float p[3], n[3], d = 0;
    if (r->wheel[w].body && wheel_ground_probe(&track_terrain, &r->wheel[w], p, n, &d)) return true;
  }
  return false;
}

// Drops the bike onto (x, z) facing heading: lifted in 0.25 ft steps until it no longer
// touches the ground.
void drop_rider(Rider* r, float x, float z, float heading) {
  const Terrain& t = track_terrain;
  float y = 0;
  if (t.heights && t.spacing > 0) {
    int c = static_cast<int>(std::clamp(x / t.spacing, 0.0f, static_cast<float>(t.dim - 1)));
    int row = static_cast<int>(std::clamp(z / t.spacing, 0.0f, static_cast<float>(t.dim - 1)));
    y = terrain_sample(&t, c, row);
  }
  x = float_or_zero(x);
  z = float_or_zero(z);
  y = float_or_zero(y);
  lift_onto_ground(r, x, y, z, heading);
}

void set_ghost_steering(Rider* r) {
  r->assists.roll_damping = 100;
  r->assists.full_lock_speed = 5;
  r->assists.restricted_lock_speed = 50;
  r->assists.restricted_lock = 0.0436332f;
}

// Picks the roster position for a robot code; codes 3, 4 and 1000 + n pull a matching entry
// forward first.
int take_roster_position(int code) {
  int pos = race.roster_next % roster_size;
  race.roster_next++;
  if (code == lineup_robot) return race.roster_order[pos];
  char wanted[16];
  snprintf(wanted, sizeof wanted, "%d", code - lineup_robot_number);
  for (int k = roster_size - 1; k > pos; --k) {
    const RosterEntry& e = roster().entries[race.roster_order[k]];
    bool match = code == lineup_robot_125   ? strstr(e.bike, "125") != nullptr
                 : code == lineup_robot_250 ? strstr(e.bike, "250") != nullptr
                                            : strcmp(e.number, wanted) == 0;
    if (match) {
      std::swap(race.roster_order[k], race.roster_order[pos]);
      break;
    }
  }
  return race.roster_order[pos];
}

bool is_robot_code(int code) {
  return code == lineup_robot || code == lineup_robot_125 || code == lineup_robot_250 ||
         (code > lineup_robot_number && code < lineup_robot_number + 1000);
}

Rider* create_rider(int s, const char* bike, const char* number, const char* const textures[4]) {
  const char* t[4] = {nullptr, nullptr, nullptr, nullptr};
  if (textures)
    for (int i = 0; i < 4; ++i) t[i] = textures[i];
  Rider* r = bike_create(map_bike_name(bike), s, number ? number : "", t[0], t[1], t[2], t[3]);
  if (!r) return nullptr;
  r->slot = s;
  r->checkpoints_passed = 0;
  r->last_crossing_tick = 0;
  r->finished = false;
  r->rider_number = number ? atoi(number) : 0;
  session.slots[s].rider = r;
  race_slots[s].bike = intern_string(r->info.model_name);
  if (race_hooks.sound_load) race_hooks.sound_load(s, r);
  return r;
}

const char* local_texture(int list, int index) {
  const TextureList& l = texture_lists[list];
  if (!l.files || index <= 0 || index >= l.choices.count) return nullptr;
  return l.files[index];
}

// Step 11 for one slot: the rider its code asks for, dropped onto its grid place.
void fill_slot(int s, int code, bool demo_loaded, bool* local_taken) {
  Rider* r = nullptr;
  SlotKind kind = slot_replayed;
  if (code == lineup_local && !*local_taken) {
    *local_taken = true;
    const BikeSetup& su = settings.setup;
    int b = std::clamp(su.bike, 0, bike_menu_count - 1);
    const char* tex[4] = {local_texture(texture_list_rider_body, su.rider_texture),
                          local_texture(texture_list_rider_head, su.head_texture),
                          local_texture(texture_list_bike, su.bike_texture),
                          local_texture(texture_list_wheels, su.wheel_texture)};
    r = create_rider(s, bike_menu_table[b].name, su.number, tex);
    kind = slot_local;
    race_slots[s].name = intern_string(su.name);
  } else if (is_robot_code(code)) {
    const RosterEntry& e = roster().entries[take_roster_position(code)];
    r = create_rider(s, e.bike, e.number, e.textures);
    kind = slot_robot;
    race_slots[s].name = intern_string("Robot");
    race_slots[s].team = robot_team;
    if (r && race_hooks.set_personality)
      race_hooks.set_personality(r, options.practice ? "tester" : e.personality);
  } else if (code == lineup_empty || code == lineup_local) {
    RaceRiderDesc d{};
    if (demo_loaded && race_hooks.demo_next_rider && race_hooks.demo_next_rider(&d)) {
      r = create_rider(s, d.bike, d.number, d.textures);
      race_slots[s].name = intern_string(d.name);
    }
  }
  // Code 5 riders come from the server's lineup; offline the slot stays empty.
  if (!r) {
    session.slots[s].kind = slot_replayed;
    return;
  }
  session.slots[s].kind = kind;
  float x, z, heading;
  grid_place(s, &x, &z, &heading);
  drop_rider(r, x, z, heading);
  if (kind == slot_local) {
    bike_body_position(r, body_frame, race.local_grid_position);
    race.false_start_hold = 0;
    // The player's own setup reaches the bike at rest on the grid.
    setup_apply(r, &settings.setup, race.race_tick * tick_seconds);
  }
  if (kind == slot_replayed) {
    setup_replay_defaults(r);
    bike_set_solidity(r, 0);
    set_ghost_steering(r);
  } else {
    bike_set_solidity(r, 1);
  }
}

// The start gate statues turn about their x axis as the gate value falls from 1 to 0.
void apply_gate_rotation(int k) {
  int si = timing.slots[k].statue;
  if (si < 0 || si >= track_objects.statues.count) return;
  Statue& st = track_objects.statues.items[si];
  const float* b = race.gate_base_orientation[k];
  float a = race.gate_values[k] * gate_swing;
  float c = std::cos(a), s = std::sin(a);
  for (int j = 0; j < 3; ++j) {
    st.orientation[j] = b[j];
    st.orientation[3 + j] = c * b[3 + j] + s * b[6 + j];
    st.orientation[6 + j] = -s * b[3 + j] + c * b[6 + j];
  }
}

const char* gate_base_track;

void remember_gate_orientations() {
  for (int k = 0; k < timing.start_slot_count && k < max_start_slots; ++k) {
    int si = timing.slots[k].statue;
    if (si < 0 || si >= track_objects.statues.count) continue;
    memcpy(race.gate_base_orientation[k], track_objects.statues.items[si].orientation, sizeof(float) * 9);
  }
  gate_base_track = track_name;
}

bool gate_has_model(int k) {
  int si = timing.slots[k].statue;
  return si >= 0 && si < track_objects.statues.count && track_objects.statues.items[si].model;
}

void raise_gates() {
  if (gate_base_track != track_name) remember_gate_orientations();
  // A start long after the drop (hot laps begin 300 s in) is past the gates' animation, so a
  // raised gate would stand in the riders' way for good: those gates lie flat from the start.
  bool long_fallen = race.race_tick * tick_seconds > race.gate_drop_tick * tick_seconds + 10;
  for (int k = 0; k < timing.start_slot_count && k < max_start_slots; ++k) {
    race.gate_values[k] = long_fallen ? 0.0f : 1.0f;
    if (gate_has_model(k)) apply_gate_rotation(k);
  }
}

void gates_step() {
  long long drop = race.gate_drop_tick;
  if (race.online && !race.has_grid_position) drop += 127;
  if (race.race_tick * tick_seconds > drop * tick_seconds + 10) return;
  for (int k = 0; k < timing.start_slot_count && k < max_start_slots; ++k) {
    if (!gate_has_model(k) || race.gate_values[k] <= 0) continue;
    const Statue& st = track_objects.statues.items[timing.slots[k].statue];
    if (race.race_tick > drop && st.last_contact_tick != race.race_tick) {
      race.gate_values[k] = std::max(0.0f, race.gate_values[k] - 8 * dt);
      apply_gate_rotation(k);
    }
  }
}

float frame_speed(const Rider* r) {
  float v[3];
  bike_body_velocity(r, body_frame, v);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

int local_slot() {
  for (int s = 0; s < max_riders; ++s)
    if (session.slots[s].rider && session.slots[s].kind == slot_local) return s;
  return -1;
}

// Online the local rider alone is simulated here: it meets every network rider that is still
// heard from and, while the off-course rule holds, still in contention.
void online_contacts_step() {
  int me = local_slot();
  int order[max_riders];
  float speed[max_riders];
  int n = 0;
  Rider* local = me >= 0 ? session.slots[me].rider : nullptr;
  bool in_contention = local && !out_of_contention(local);
  for (int s = 0; s < max_riders; ++s) {
    Rider* r = session.slots[s].rider;
    const RaceSlot& rs = race_slots[s];
    if (!r || !rs.network || s == me) continue;
    if (s != race.client_slot && (race.race_tick - rs.last_receive_tick) * tick_seconds >= 1.0) continue;
    if (off_course_active() && in_contention && out_of_contention(r)) continue;
    speed[s] = frame_speed(r);
    order[n++] = s;
  }
  if (!local) return;
  rider_contact_step(&track_terrain, local, race.race_tick);
  if (!race.has_grid_position) return;
  std::stable_sort(order, order + n, [&](int a, int b) { return speed[a] > speed[b]; });
  for (int i = 0; i < n; ++i) {
    Rider* other = session.slots[order[i]].rider;
    riders_collide(local, other, true, race.race_tick);
    if (other->solidity > 0) rider_contact_step(&track_terrain, local, race.race_tick);
  }
}

// Online, a network rider fades in over the last 10 ft toward the local rider.
void network_solidity(Rider* r) {
  int me = local_slot();
  float d = 10000;
  if (me >= 0) {
    float a[3], b[3];
    bike_body_position(session.slots[me].rider, body_frame, a);
    bike_body_position(r, body_frame, b);
    d = std::trunc(std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                             (a[2] - b[2]) * (a[2] - b[2])));
    if (!std::isfinite(d)) d = 10000;
  }
  bike_set_solidity(r, std::clamp((10 - d) / 10, 0.0f, 1.0f));
}

void contacts_step() {
  if (race.online) {
    online_contacts_step();
    return;
  }
  int order[max_riders];
  float speed[max_riders];
  int n = 0;
  for (int s = 0; s < max_riders; ++s) {
    Rider* r = session.slots[s].rider;
    if (!r) continue;
    if (session.slots[s].kind != slot_replayed) rider_contact_step(&track_terrain, r, race.race_tick);
    speed[s] = frame_speed(r);
    order[n++] = s;
  }
  // Fastest first; equal speeds keep slot order so that every run pairs riders alike.
  std::stable_sort(order, order + n, [&](int a, int b) { return speed[a] > speed[b]; });
  // Nothing moves the bodies until the world step: every rider's shapes are placed once.
  for (int i = 0; i < n; ++i) rider_place_shapes(session.slots[order[i]].rider);
  for (int i = 0; i < n; ++i)
    for (int j = i + 1; j < n; ++j)
      riders_collide_placed(session.slots[order[i]].rider, session.slots[order[j]].rider, false, race.race_tick);
}

void roost_step() {
  int list[max_riders];
  int n = 0;
  for (int s = 0; s < max_riders; ++s)
    if (session.slots[s].rider) list[n++] = s;
  if (n == 0) return;
  int start = race.race_tick >= 0 ? race.race_tick % n : 0;
  for (int k = 0; k < n; ++k) {
    int s = list[(start + k) % n];
    roost_emit_rider(session.slots[s].rider, session.slots[s].kind != slot_replayed);
  }
}

// "fastlap.kvdemo" and "lastlap.kvdemo" live in the track's folder under the home folder.
bool hot_lap_path(const char* file, char* out, size_t size) {
  const char* home = data_root(0);
  if (!home || !track_name) return false;
  int n = snprintf(out, size, "%s%s/%s", home, track_name, file);
  return n > 0 && static_cast<size_t>(n) < size;
}

bool file_present(const char* path) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  fclose(f);
  return true;
}

// The lap just recorded becomes the best ghost through a temporary file and a rename, so an
// interrupted copy never replaces the old one.
bool copy_last_lap_over_fast_lap() {
  char from[1100], to[1100], tmp[1100];
  if (!hot_lap_path("lastlap.kvdemo", from, sizeof from) || !hot_lap_path("fastlap.kvdemo", to, sizeof to))
    return false;
  int n = snprintf(tmp, sizeof tmp, "%s.tmp", to);
  if (n <= 0 || static_cast<size_t>(n) >= sizeof tmp) return false;
  FILE* in = fopen(from, "rb");
  if (!in) return false;
  make_folders_for(to);
  FILE* out = fopen(tmp, "wb");
  if (!out) {
    fclose(in);
    return false;
  }
  char block[1024];
  bool ok = true;
  size_t got;
  while ((got = fread(block, 1, sizeof block, in)) > 0)
    if (fwrite(block, 1, got, out) != got) ok = false;
  if (ferror(in)) ok = false;
  fclose(in);
  if (fclose(out) != 0) ok = false;
  if (ok) ok = data_rename(tmp, to) == 1;
  if (!ok) remove(tmp);
  return ok;
}

int lap_start_checkpoint() { return std::max(0, timing.first_lap_count - 1); }

void reset_to_lap_start(int s) {
  Rider* r = session.slots[s].rider;
  if (!r) return;
  int start = lap_start_checkpoint();
  r->checkpoints_passed = start;
  // Hot laps never end: a lap count reached in an earlier lap must not stop the timing.
  r->finished = false;
  Array<int>& c = race_slots[s].crossings;
  if (c.count > start) c.count = start;
}

// Loads the best ghost and puts its riders in slots 1 and up, starting at the lap line.
void load_fast_lap_ghost() {
  char path[1100];
  if (!race_hooks.hot_lap_ghost_load || !hot_lap_path("fastlap.kvdemo", path, sizeof path)) return;
  if (!race_hooks.hot_lap_ghost_load(path)) return;
  RaceRiderDesc d{};
  for (int s = 1; s < max_riders && race_hooks.demo_next_rider && race_hooks.demo_next_rider(&d); ++s) {
    Rider* r = create_rider(s, d.bike, d.number, d.textures);
    if (!r) continue;
    session.slots[s].kind = slot_replayed;
    race_slots[s].name = intern_string(d.name);
    bike_set_solidity(r, 0);
    set_ghost_steering(r);
    r->checkpoints_passed = lap_start_checkpoint();
    d = RaceRiderDesc{};
  }
}

void start_lap_recording() {
  char path[1100];
  race.hot_lap_recording = false;
  if (race_hooks.demo_start_recording && hot_lap_path("lastlap.kvdemo", path, sizeof path)) {
    race_hooks.demo_start_recording(path);
    race.hot_lap_recording = true;
  }
}

void front_wheel(const Rider* r, float out[3]) { bike_body_position(r, body_front_wheel, out); }

void hot_lap_step() {
  Rider* ghost = session.slots[1].rider;
  if (ghost && laps_completed(ghost) != race_slots[1].laps_at_tick_start) {
    int t = hot_lap_time(1);
    if (t > 0 && (race.best_lap_ticks == 0 || t < race.best_lap_ticks)) race.best_lap_ticks = t;
  }
  Rider* player = session.slots[0].rider;
  if (!player || laps_completed(player) == race_slots[0].laps_at_tick_start) return;
  int c0 = player->checkpoints_passed;
  int c1 = ghost ? ghost->checkpoints_passed : -1;
  int t = hot_lap_time(0);
  if (race_hooks.demo_stop) race_hooks.demo_stop();
  release_riders(1);
  if (timing_present()) {
    char fast[1100];
    bool fast_exists = hot_lap_path("fastlap.kvdemo", fast, sizeof fast) && file_present(fast);
    if (t > 0 && (race.best_lap_ticks == 0 || t < race.best_lap_ticks)) race.best_lap_ticks = t;
    race.last_lap_ticks = t;
    bool better = c0 > c1 && c0 >= 0 && t >= 1;
    if (race.hot_lap_recording && (!fast_exists || better)) copy_last_lap_over_fast_lap();
  }
  load_fast_lap_ghost();
  reset_to_lap_start(0);
  float f[3];
  front_wheel(player, f);
  timing_step(0, f);
  start_lap_recording();
  if (race_hooks.demo_tick) race_hooks.demo_tick(race.race_tick);
  update_standings();
}

const char* chosen_track(bool load_demo, int* demo_gate_drop, bool* demo_loaded) {
  *demo_loaded = false;
  if (load_demo && race_hooks.demo_load) {
    const char* t = nullptr;
    int drop = -1;
    if (race_hooks.demo_load(&t, &drop) && t) {
      *demo_loaded = true;
      *demo_gate_drop = drop;
      return t;
    }
  }
  if (race.requested_track) return race.requested_track;
  if (track_list.selected >= 0 && track_list.selected < track_list.track_count)
    return track_list.tracks[track_list.selected].folder;
  return nullptr;
}

}  // namespace

void lift_onto_ground(Rider* r, float x, float y, float z, float heading) {
  // A bike that still touches 100 ft up sits on a broken terrain; leave it there.
  for (int tries = 0; tries < 400; ++tries) {
    bike_reset(r);
    bike_rotate(r, 0, 1, 0, heading);
    float p[3];
    bike_body_position(r, body_frame, p);
    bike_translate(r, x - p[0], y - p[1], z - p[2]);
    y += 0.25f;
    if (!track_terrain.heights || !wheels_touch(r)) break;
  }
}

const RosterEntry* roster_entry(int index) {
  if (index < 0 || index >= roster_size) return nullptr;
  return &roster().entries[index];
}

void roster_shuffle() {
  // Every start shuffles the roster afresh from the seed, so a race start depends on race_tick only.
  rng_seed(static_cast<uint32_t>(race.race_tick));
  for (int i = 0; i < roster_size; ++i) race.roster_order[i] = i;
  for (int i = roster_size - 1; i >= 1; --i) {
    int j = static_cast<int>((rng_next() >> 16) % static_cast<uint32_t>(i));
    std::swap(race.roster_order[i], race.roster_order[j]);
  }
  race.roster_next = 0;
}

void grid_place(int k, float* x, float* z, float* heading) {
  int slots = std::clamp(timing.start_slot_count, 0, max_start_slots);
  if (slots > 0) {
    const StartSlot& s = timing.slots[k % slots];
    float row = static_cast<float>(k / slots) + 0.0625f;
    *x = s.position[0] + std::sin(s.angle) * row * 10;
    *z = s.position[2] + std::cos(s.angle) * row * 10;
    *heading = s.angle;
    return;
  }
  float w = track_terrain.extent;
  *x = static_cast<float>(k) * 5 + w / 2;
  *z = w / 2;
  *heading = 0;
}

const char* map_bike_name(const char* name) {
  if (!name || !*name) return "rm125";
  static const char* const old_names[][2] = {{"crf250", "crf250(2008)"},
                                             {"kx250f", "kx250f(2008)"},
                                             {"rmz250", "rmz250(2008)"},
                                             {"yz250f", "yz250f(2008)"}};
  for (const auto& m : old_names)
    if (strcmp(name, m[0]) == 0) return m[1];
  return name;
}

void race_slots_clear() {
  for (RaceSlot& rs : race_slots) {
    array_clear(&rs.crossings);
    rs.name = rs.bike = rs.team = nullptr;
    rs.network = false;
    rs.last_receive_tick = 0;
    rs.laps_at_tick_start = 0;
  }
}

int hot_lap_time(int slot) {
  if (!timing_present() || timing.normal_lap_count <= 0) return 0;
  int a = lap_start_checkpoint();
  int b = timing.first_lap_count + timing.normal_lap_count - 1;
  for (int k = a; k <= b; ++k)
    if (crossing_tick(slot, k) < 0) return 0;
  int t = crossing_tick(slot, b) - crossing_tick(slot, a);
  return t > 0 ? t : 0;
}

void false_start_step(Rider* r, const float frame[3]) {
  if (!r) return;
  if (race.false_start_hold < 1) {
    float dx = frame[0] - race.local_grid_position[0];
    float dy = frame[1] - race.local_grid_position[1];
    float dz = frame[2] - race.local_grid_position[2];
    if (race.race_tick <= race.gate_drop_tick && dx * dx + dy * dy + dz * dz >= 9) {
      race.false_start_hold = false_start_ticks + (race.gate_drop_tick - race.race_tick);
      console_print("15 second false start penalty");
    }
  }
  if (race.false_start_hold >= 1) {
    race.false_start_hold--;
    ControlState& c = r->control;
    c.throttle = 0;
    c.clutch = 0;
    c.front_brake = 1;
    c.rear_brake = 1;
    c.back_up = 0;
    c.dab = 1;
  }
}

void start_race(const int* lineup, bool load_demo, bool record_demo, int time_limit_ticks, int laps,
                int skill) {
  velk_log("\x13" "FLUSH");
  if (race_hooks.series_refresh) race_hooks.series_refresh();
  loading("Resetting...");
  roster_shuffle();
  if (track_name) {
    loading("Remembering lines...");
    if (race_hooks.lines_save_and_clear) race_hooks.lines_save_and_clear();
    if (race_hooks.demo_stop) race_hooks.demo_stop();
  }
  loading("Cleaning up...");
  velk_log("Deallocating bikes\n");
  release_riders(0);
  race.standings_count = 0;
  race.results_count = 0;
  velk_log("Finished deallocating bikes\n");

  race.race_tick = 0;
  race.time_limit_ticks = std::max(0, time_limit_ticks);
  race.extra_laps = std::clamp(laps, 0, max_race_laps);
  race.gate_drop_tick = static_cast<int>((13 + 2 * rng_uniform()) / tick_seconds);
  race.hot_lap_mode = lineup == nullptr;
  race.results_final = false;
  race.results_printed = false;
  race.hot_lap_recording = false;
  if (race.off_course_bias <= 0 && race.off_course_scale <= 0) {
    race.off_course_bias = 10.0f;
    race.off_course_scale = 1.5f;
  }
  if (!race.online) race.client_slot = -1;
  if (race_hooks.net_clear) race_hooks.net_clear();
  if (race_hooks.history_clear) race_hooks.history_clear();

  int demo_drop = -1;
  bool demo_loaded = false;
  const char* wanted = chosen_track(load_demo, &demo_drop, &demo_loaded);
  if (demo_loaded && demo_drop >= 0) race.gate_drop_tick = demo_drop;
  if (!wanted) {
    race.started = false;
    return;
  }
  if (!track_name || strcmp(wanted, track_name) != 0 || race.reload_requested) {
    race.reload_requested = false;
    char name[512];
    snprintf(name, sizeof name, "%s", wanted);
    if (track_name) track_free();
    session.loaded_track = nullptr;
    if (!track_load(name)) {
      race.started = false;
      return;
    }
    remember_gate_orientations();
  }
  session.loaded_track = track_name;
  if (!physics_ready()) physics_init();

  int codes[max_riders];
  if (lineup) {
    memcpy(codes, lineup, sizeof codes);
  } else {
    codes[0] = lineup_local;
    for (int s = 1; s < max_riders; ++s) codes[s] = lineup_empty;
    race.best_lap_ticks = race.last_lap_ticks = 0;
    race.race_tick = hot_lap_start_tick;
  }
  int first = -1;
  for (int s = 0; s < max_riders && first < 0; ++s)
    if (codes[s] != lineup_empty) first = s;
  if (first >= 0)
    session.view_slot = first;
  else if (!demo_loaded)
    codes[0] = lineup_robot;
  else
    session.view_slot = 0;

  if (race_hooks.lines_load) race_hooks.lines_load(skill);
  loading("Analyzing lines...");
  if (race_hooks.lines_prune) race_hooks.lines_prune();

  loading("Loading bikes...");
  bool local_taken = false;
  for (int s = 0; s < max_riders; ++s) fill_slot(s, codes[s], demo_loaded, &local_taken);

  if (race_hooks.history_clear) race_hooks.history_clear();
  if (record_demo && race_hooks.demo_start_recording) race_hooks.demo_start_recording(nullptr);
  particles_reset();
  if (race_hooks.lines_reset_pick_ticks) race_hooks.lines_reset_pick_ticks();
  console_printf("%d MB texture memory used\n", static_cast<int>(track_texture_memory() >> 20));

  if (race.time_limit_ticks == 0) {
    race.race_laps = race.extra_laps;
    race.halfway_lap = (race.extra_laps + 1) / 2;
  } else {
    race.race_laps = race.halfway_lap = max_race_laps;
  }
  raise_gates();
  if (race.hot_lap_mode) {
    load_fast_lap_ghost();
    start_lap_recording();
  }
  if (race_hooks.demo_tick) race_hooks.demo_tick(race.race_tick);
  race.results_final = false;
  race.started = true;
  update_standings();
  if (session.view_slot < 0 || session.view_slot >= max_riders || !session.slots[session.view_slot].rider)
    if (race.standings_count > 0) session.view_slot = race.standings[0].slot;
  if (session.view_slot < 0 || session.view_slot >= max_riders) session.view_slot = 0;
  if (session.slots[session.view_slot].kind == slot_local && race_hooks.chase_camera_reset)
    race_hooks.chase_camera_reset();
  velk_log("\x13" "NOFLUSH");
}

void start_first_race(bool demo_loaded) {
  int lineup[max_riders];
  for (int s = 0; s < max_riders; ++s) lineup[s] = session.slots[s].lineup_code;
  if (options.robots >= 1) {
    int n = std::min(options.robots, max_riders);
    for (int s = 0; s < max_riders; ++s) lineup[s] = s < n ? lineup_robot : lineup_empty;
  }
  int laps = options.laps >= 0 ? std::min(options.laps, max_race_laps) : 1000;
  race.requested_track = options.track;
  start_race(lineup, demo_loaded, options.record_demo, 0, laps, settings.skill);
  race.requested_track = nullptr;
}

void race_tick_step() {
  if (!race.started || !track_name) return;
  // 1. Replayed riders follow the state history. A live rider ends this tick, where the
  // timing step looks at it, in the state recorded under the next tick: a replayed one takes
  // that state now, so that it crosses each checkpoint on the tick the recorded rider did (or
  // the one beside it, where its path bends between two records).
  for (int s = 0; s < max_riders; ++s) {
    Rider* r = session.slots[s].rider;
    if (r && session.slots[s].kind == slot_replayed && race_hooks.history_apply) {
      int tick = race.online && !race.has_grid_position ? race.race_tick - 127 : race.race_tick + 1;
      race_hooks.history_apply(r, s, tick);
    }
  }
  // 2. Hot-lap bookkeeping.
  for (int s = 0; s < 2; ++s) race_slots[s].laps_at_tick_start = laps_completed(session.slots[s].rider);
  // 3.-5. Contacts, roost, the world step.
  contacts_step();
  roost_step();
  if (race_hooks.world_step)
    race_hooks.world_step();
  else
    physics_step();
  // 6. Terrain wear.
  if (options.erode > 0 && race_hooks.terrain_wear)
    for (int s = 0; s < max_riders; ++s)
      if (session.slots[s].rider && session.slots[s].kind != slot_replayed) race_hooks.terrain_wear(session.slots[s].rider);
  // 7. Every slot in order.
  for (int s = 0; s < max_riders; ++s) {
    Rider* r = session.slots[s].rider;
    if (!r) continue;
    SlotKind kind = session.slots[s].kind;
    if (kind == slot_robot && race_hooks.auto_pilot_step) race_hooks.auto_pilot_step(r, s);
    if (race.online && race_slots[s].network) network_solidity(r);
    if (race.online && kind == slot_local) {
      float f[3];
      bike_body_position(r, body_frame, f);
      false_start_step(r, f);
    }
    if (kind != slot_replayed) {
      bike_check_finite(r);
      bike_tick(r, race.race_tick, race.gate_drop_tick);
    }
    if (!race.online || kind == slot_local) {
      float f[3];
      front_wheel(r, f);
      timing_step(s, f);
    }
  }
  // 8.-10. Particles, gates, the clock.
  particles_update();
  gates_step();
  race.race_tick++;
  if (race.online && (race.race_tick & 511) == 511) update_standings();
  if (race_hooks.demo_tick) race_hooks.demo_tick(race.race_tick);
  if (race.hot_lap_mode) hot_lap_step();
}

void race_shutdown() {
  velk_log("Deallocating bikes\n");
  release_riders(0);
  race.standings_count = 0;
  velk_log("Finished deallocating bikes\n");
  if (race_hooks.demo_stop) race_hooks.demo_stop();
  if (track_name) track_free();
  session.loaded_track = nullptr;
  for (RaceSlot& rs : race_slots) array_free(&rs.crossings);
  race.started = false;
}

bool race_results_are_final() { return race.results_final; }

void format_race_time(int ticks, char* out, int size) {
  long long ms = std::max(0, ticks) * 1000LL / ticks_per_second;
  snprintf(out, static_cast<size_t>(size), "%lld:%02lld.%03lld", ms / 60000, (ms / 1000) % 60, ms % 1000);
}

void race_print_results(FILE* out) {
  if (!out) return;
  for (int i = 0; i < race.results_count; ++i) {
    const StandingEntry& e = race.results[i];
    const Rider* r = session.slots[e.slot].rider;
    const RaceSlot& rs = race_slots[e.slot];
    int laps = 0;
    if (timing_present() && timing.normal_lap_count > 0 && e.checkpoints >= timing.first_lap_count)
      laps = (e.checkpoints - timing.first_lap_count) / timing.normal_lap_count + 1;
    char total[32], best[32];
    format_race_time(e.last_tick - race.gate_drop_tick, total, sizeof total);
    format_race_time(best_lap(r), best, sizeof best);
    fprintf(out, "%3d  %-3s  %-20s  %-16s  %4d  %s  %s\n", i + 1, r ? r->number : "",
            rs.name ? rs.name : "", rs.bike ? rs.bike : "", laps, total, best);
  }
  fflush(out);
}

void race_results_became_final() {
  if (options.headless && !race.results_printed) {
    race_print_results(race_results_out ? race_results_out : stdout);
    race.results_printed = true;
  }
}
