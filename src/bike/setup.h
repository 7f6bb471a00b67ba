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
