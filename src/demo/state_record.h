// The 39-byte packed state of one rider at one tick, and its decoded form.
#pragma once
#include <cstdint>

struct Rider;
struct Terrain;

constexpr int state_record_size = 39;

struct StateRecord {
  uint8_t bytes[state_record_size];
};

// The ranges a record is packed against. Heights use the terrain's range frozen at the race
// start, so that erosion during the race cannot shift what was already recorded.
struct PackRange {
  float width;            // ft, terrain extent (x and z from 0 to width)
  float min_height;       // ft
  float height_range;     // ft, at least 1
  float fork_travel;      // ft, > 0
  float swingarm_travel;  // rad, > 0
};

// A record's content in physical units; the discrete drive fields as they are stored.
struct StatePose {
  double position[3];        // frame, world ft
  double orientation[4];     // frame quaternion w, x, y, z
  double steering;           // rad
  double swingarm;           // rad, <= 0 compressed
  double fork;               // ft, <= 0 compressed
  double rider_offset[3];    // rider body minus frame position, ft
  double rider_orientation[4];
  double wheel_angle[2];     // front, rear axle hinge, rad
  int gear;                  // 0..6
  bool dab;
  int throttle_level;        // 0..15
  int down_level;            // -1 riding, else 0..15 (knocked down)
  double rpm;
  bool integrity;            // byte 19 bit 0
};

// Terrain range frozen now; a flat terrain gets a range of 1 ft.
PackRange pack_range_for(const Terrain* terrain, float fork_travel, float swingarm_travel);

void state_encode(const StatePose* pose, const PackRange* range, StateRecord* out);
void state_decode(const StateRecord* record, const PackRange* range, StatePose* out);

// Blends two records at fraction f (0 = a, 1 = b). Only the frame position uses f beyond 1;
// quaternions follow the shorter way and are renormalised. The result keeps bit 0 of byte 18.
void state_interpolate(const StateRecord* a, const StateRecord* b, double f, StateRecord* out);

// The race's frozen pack ranges for the terrain (set by the race start, read by the packer).
extern PackRange demo_pack_range;
void demo_freeze_pack_range(const Terrain* terrain);

// From the bodies and controls of a rider (local or robot) with the frozen terrain range.
void pack_state(const Rider* rider, StateRecord* out);
// Places a replayed rider from records before and after (interval in ticks) and the current
// blend. Goes through the bike's replay placement (see demo_seams.h).
void unpack_state(Rider* rider, const StateRecord* before, const StateRecord* after,
                  const StateRecord* current, int interval);
