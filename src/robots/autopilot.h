// The auto pilot's planning pieces: personalities, the line pick with its path splice, and the
// traffic rule that slows a robot behind another rider.
#pragma once

#include "core/session.h"
#include "robots/lines.h"

struct Rider;

struct Personality {
  const char* name;
  int normal_mode;
  int leading_mode;
  float lead_threshold;  // s
  float reaction_min;    // s
  float reaction_max;    // s
};

constexpr int personality_count = 5;
const Personality* personality(int index);  // index clamped to the table
// 1..4 for a known name, else -1.
int personality_find(const char* name);

// Robot state a slot carries besides its RiderLines.
struct RobotState {
  int personality;  // 0: not a robot
  int plan_segment;
  int last_advance_tick;
  int lost_count;
  float start_time;
  int last_limit_tick;
  float prev_throttle;
  int lying_since;  // tick the robot was last seen on its wheels; -1 before its first ride
  bool relocate;    // put back mid-race: the next pick joins its line where the robot stands
};

extern RobotState robot_state[max_riders];

// Sets the slot's personality by name; unknown names are logged and get entry 1.
void set_personality(Rider* rider, const char* name);
void robot_state_reset(int slot);

// The cost mode of a personality: its leading mode while leading by more than its threshold.
int auto_pilot_cost_mode(const Personality* p, bool leads, float lead_seconds);

// Picks the next line for slot's plan segment and splices it onto the path. frame and forward
// are the frame body's position and unit forward direction. The picked entry's index in the
// store slot, or -1 when nothing was picked.
int auto_pilot_pick(int slot, int mode, const float frame[3], const float forward[3]);

// Rider footprints of the traffic rule: four corners (x, z) in order.
struct Footprint {
  float corner[4][2];
  float centre[2];
  float forward[2];  // Z of the steering frame (backwards along the velocity), x and z
};
Footprint traffic_footprint(const float position[3], const float velocity[3]);
// Whether other's footprint blocks robot's (the first crossing pair of same-index edges);
// writes the squared centre distance.
bool traffic_blocks(const Footprint& robot, const Footprint& other, float* distance2);
// Whether other's centre lies ahead in robot's lane, within reach of the two footprints.
// The same-index edge test never sees a rider that travels parallel to the robot, straight
// ahead of it; robots would ride into the back of every rider they catch.
bool traffic_in_lane(const Footprint& robot, const Footprint& other, float* distance2);
// Target speed T adjusted for the chosen rider ahead; clears picks through clear_picks.
float traffic_speed(const float p[3], const float v[3], float r0, float target, const float other_p[3],
                    const float other_v[3], float seconds_since_drop, bool* clear_picks);

// Path progress: advances the path index while the frame is within the capture radius of the
// sample it heads for (not when that sample lies behind a robot facing the other way); the
// path is emptied once its end is reached.
void auto_pilot_advance(int slot, const float frame[3], const float forward[3]);
// True, with lost_count 3, when more than 3 s passed since the last advance.
bool auto_pilot_watchdog(int slot);

struct SpeedControl {
  float throttle, front_brake, rear_brake, clutch;
};
// Throttle, brakes and clutch toward target speed T at speed v. front_minus_rear: height of
// the front axle above the rear (ft); pitch in radians, nose up positive.
SpeedControl auto_pilot_speed_control(float v, float target, bool rear_on_ground, int gear, float rpm,
                                      float rpm_limit, float pitch, float front_minus_rear, bool knocked_down);

// The start: staging with throttle blips for 5 s, a hold, then the personal reaction to the
// gate drop. Writes the held controls and returns true while the robot must stay put.
bool auto_pilot_start(Rider* rider, int slot);

// Steps before the riding controller, in order: assists, path progress, the line pick, the
// stop without a path, the start procedure and the watchdog. True when the robot should ride
// (the controller then turns the path ahead into controls); false when the controls are set
// or must keep their values. Does nothing and returns false for personality 0.
bool auto_pilot_plan_step(Rider* rider, int slot);

// The riding controller: turns the path ahead into throttle, brakes, clutch and steering.
void auto_pilot_ride(Rider* rider, int slot);
// A robot that has not advanced along its path for 10 s is put back at the last checkpoint it
// passed, facing the next one, and picks its line again. True when it was put back.
bool auto_pilot_stuck_reset(Rider* rider, int slot);
// A robot whose bike lies on its side after a fall, its rider back on it, is stood up where it
// lies, facing along its path, after 2 s. True when it was stood up.
bool auto_pilot_pick_up(Rider* rider, int slot);
// One tick of a robot: the planning steps, then the riding controller when the robot rides.
void auto_pilot_step(Rider* rider, int slot);
