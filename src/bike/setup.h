// The rider's bike setup as the menus edit it and setup files store it.
#pragma once

// Menu values: numbers in the menu's units (degrees, mph, percent), choices as indexes.
struct BikeSetup {
  int bike;                  // index into the bike menu list
  char name[64];             // rider name, at most 63 characters
  char number[4];            // rider number, at most 3 characters
  int rider_texture;         // indexes into the four texture lists; 0 is "default"
  int head_texture;
  int bike_texture;
  int wheel_texture;

  double stability;
  double leveling;
  double roll_damping;
  double roll_limit_angle;   // degrees
  double roll_limit_factor;
  double steering_damping;
  double steering_strength;
  double max_steering_force;
  double direct_steering;
  double slow_damping_speed;
  double slow_damping_factor;
  double land_damping_falloff;
  double land_damping_factor;
  double full_lock_speed;
  double restricted_lock_speed;
  double restricted_lock;    // degrees

  int arcade;                // "No", "Yes"
  int front_brake;           // "Normal", "Antilock"
  int rear_brake;            // "Normal", "Antilock"
  int stop_wheelies;         // "No", "Yes", "Front Only"
  int auto_shift;
  int auto_dab;
  int auto_align;
  int sticky_dab;
  int reverse_steering;
  int lean_indicator;

  double auto_clutch_rpms;
  double brake_torque;
  double rear_brake_torque;
  double max_dab_speed;      // mph
  double front_sprocket_adjustment;  // teeth
  double rear_sprocket_adjustment;
  double fork_compression_adjustment;
  double fork_rebound_adjustment;
  double fork_spring_rate_adjustment;
  double fork_preload_adjustment;
  double fork_oil_level_adjustment;
  double shock_compression_adjustment;
  double shock_rebound_adjustment;
  double shock_spring_rate_adjustment;
  double shock_preload_adjustment;
  double rider_yspring;
  double rider_ydamping;
  double rider_zspring;
  double rider_zdamping;
  double rider_mass_distribution;
};

struct Rider;

// Raised by any simulation setter given a value more than 1/8 of its range outside it (the
// value is clamped). Stays set for the run; the state record reports it.
extern bool setup_out_of_range;
// The multiplayer server may switch arcade physics off for everyone.
extern bool setup_arcade_disabled;

// Copies the setup into the rider. Refused while the bike moves faster than 0.125 ft/s: the
// console then says so (at most once a second). now = the game clock in seconds. True when
// applied.
bool setup_apply(Rider* rider, const BikeSetup* setup, double now);
// What every rider has before any setup, and the extras of a replayed rider at race start.
void setup_rider_defaults(Rider* rider);
void setup_replay_defaults(Rider* rider);
// Menu read-outs in metric units for a setup key of the suspension or the sprockets; false
// (out untouched) for other keys.
struct BikeInfo;
bool setup_readout(const BikeSetup* setup, const BikeInfo* info, const char* key, char* out,
                   int size);

// One setter per simulation value: clamps to its range and raises setup_out_of_range.
float setup_clamp(float value, float lo, float hi);
void setup_set_leveling(Rider* r, float v);
void setup_set_roll_damping(Rider* r, float v);
void setup_set_roll_limit_angle(Rider* r, float radians);
void setup_set_roll_limit_factor(Rider* r, float v);
void setup_set_steering_damping(Rider* r, float v);
void setup_set_steering_strength(Rider* r, float v);
void setup_set_max_steering_force(Rider* r, float v);
void setup_set_direct_steering(Rider* r, float v);
void setup_set_slow_damping_speed(Rider* r, float v);
void setup_set_slow_damping_factor(Rider* r, float v);
void setup_set_land_damping_falloff(Rider* r, float v);
void setup_set_land_damping_factor(Rider* r, float v);
void setup_set_full_lock_speed(Rider* r, float v);
void setup_set_restricted_lock_speed(Rider* r, float v);
void setup_set_restricted_lock(Rider* r, float radians);
void setup_set_auto_clutch_rpm(Rider* r, float v);
void setup_set_front_brake_torque(Rider* r, float v);
void setup_set_rear_brake_torque(Rider* r, float v);
void setup_set_max_dab_speed(Rider* r, float feet_per_second);
void setup_set_sprockets(Rider* r, float front_adjustment, float rear_adjustment);
// Damping factors 0.5..2 on the record's values; spring and preload fractions 0..1 of the
// record's ranges; the oil level fraction 0..1 between the record's two air gaps.
void setup_set_fork(Rider* r, float compression_factor, float rebound_factor, float spring,
                    float preload, float oil);
void setup_set_shock(Rider* r, float compression_factor, float rebound_factor, float spring,
                     float preload);
void setup_set_rider_springs(Rider* r, float yspring, float zspring);
void setup_set_rider_dampers(Rider* r, float ydamping, float zdamping);
void setup_set_mass_distribution(Rider* r, float d);
