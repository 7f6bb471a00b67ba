// One slot's rider: its bike record, the seven bodies and six joints, contacts and state.
#pragma once
#include <cstdint>

#include "bike/bike_info.h"
#include "resources/texture.h"

// ODE's handles, forward-declared so that users of the Rider need not include ODE.
struct dxBody;
struct dxJoint;
struct CollisionShape;
struct Model;

// Bodies in the order every loop over the seven uses.
enum BikeBody {
  body_frame,
  body_front_wheel,
  body_rear_wheel,
  body_steering,
  body_fork_lower,
  body_swingarm,
  body_rider,
  bike_body_count
};

enum BikeJoint {
  joint_front_axle,
  joint_rear_axle,
  joint_steering_head,
  joint_fork_slider,
  joint_swingarm_pivot,
  joint_rider_mount,
  bike_joint_count
};

// Bits of a part mask.
enum PartBit {
  part_frame = 1,
  part_front_wheel = 2,
  part_rear_wheel = 4,
  part_steering = 8,
  part_fork_lower = 16,
  part_swingarm = 32,
  part_rider = 64,
};

// Same layout as ODE's dJointFeedback: force and torque on each of the joint's two bodies.
struct JointFeedback {
  double f1[4];
  double t1[4];
  double f2[4];
  double t2[4];
};

// One tyre's contact of the tick; depth > 0 means the wheel touches.
struct WheelContact {
  dxBody* body;
  float axle_axis[3];      // (1, 0, 0) in wheel coordinates
  float torus_radius;      // ft
  float tyre_radius;       // ft
  float point[3];          // ft, world: deepest tyre point
  float point_velocity[3]; // ft/s, world: wheel body velocity at the point
  float normal[3];         // unit, out of the ground
  float depth;             // ft
  JointFeedback feedback;  // this tick's wheel contact joint (zero when not touching)
};

// The rider's inputs for one tick.
struct ControlState {
  float throttle;     // 0..1
  float clutch;       // 0..1
  float front_brake;  // 0..1
  float rear_brake;   // 0..1
  float steer;        // -1..1
  float lean;         // -1..1, positive leans the rider forward
  float dab;          // 0..1
  float back_up;      // 0..1
  int shift_request;  // -1, 0, +1
  int gear;           // requested gear index
};

// Settings of the steering and balancing assists (the bike setup sets them).
struct RiderAssists {
  float leveling, roll_damping, roll_limit_angle, roll_limit_factor;
  float steering_damping, steering_strength, max_steering_force, direct_steering;
  float slow_damping_speed, slow_damping_factor, land_damping_falloff, land_damping_factor;
  float full_lock_speed, restricted_lock_speed, restricted_lock;
  float auto_clutch_rpm, front_brake_torque, rear_brake_torque, max_dab_speed;
  bool arcade, front_antilock, rear_antilock, wheelie_guard, stoppie_guard;
  bool auto_shift, auto_dab, auto_align;
};

// Shapes of the parts, in the record's file order.
enum RiderShape {
  shape_frame,
  shape_fork_upper,
  shape_fork_lower,
  shape_swingarm,
  shape_front_wheel,
  shape_rear_wheel,
  shape_rider,
  rider_shape_count
};

enum RiderModel {
  model_frame,
  model_side_plates,
  model_fork_upper,
  model_front_plate,
  model_fork_lower,
  model_swingarm,
  model_front_wheel,
  model_rear_wheel,
  model_rider_plate,
  model_rider_body,
  model_rider_body_fp,
  model_head,
  rider_model_count
};

// A colour texture with its normal and specular maps, each possibly 0.
struct TextureSet {
  TextureId colour;
  TextureId normal;
  TextureId specular;
};

enum RiderTexture { texture_bike, texture_wheels, texture_rider, texture_head, rider_texture_count };

struct Rider {
  BikeInfo info;  // copy of the record: every per-rider computation reads this
  int slot;

  dxBody* body[bike_body_count];
  dxJoint* joint[bike_joint_count];
  JointFeedback joint_feedback[bike_joint_count];  // filled by ODE during the step
  bool mount_attached;                             // false while knocked down
  WheelContact wheel[2];                           // front, rear

  ControlState control;
  int gear;            // 0 = first gear
  int shift_memory;
  float engine_speed;  // rad/s
  float drive_angle;

  // Suspension and rider springs in effect (the setup sets them).
  float fork_compression_damping, fork_rebound_damping, fork_spring_rate, fork_preload;
  float fork_air_gap;
  float shock_compression_damping, shock_rebound_damping, shock_spring_rate, shock_preload;
  float final_drive;
  float rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;  // 0..1
  float mass_distribution;  // share of the rider's mass on rider_body, 0.33..0.5
  RiderAssists assists;

  int crash_state;  // 0 none, 1 just crashed or stopped, 2 crash noted
  int down_ticks;   // > 0 while knocked down
  int crash_count;
  float impact;     // > 0 recent impact, < 0 protection
  float land_damping;
  float steering_lock;
  float lean_angle;
  float dab_extension;
  float foot_points[2][3];      // world, knock-down pose
  float foot_velocities[2][3];
  float body_velocity_ring[4][3];  // rider_body velocity, indexed by race tick % 4

  float total_mass;  // slugs, the seven bodies
  float solidity;    // 0 = ghost (bodies disabled)
  int last_collision_tick;
  int first_collision_tick;  // -1 = none

  // Race clock of the running bike_tick and the ground under the bike (the contact step sets
  // it): the assists read both.
  int race_tick;
  int gate_drop_tick;
  const struct Terrain* terrain;
  int down_elapsed;  // ticks since the last knock-down

  // Where the bike was last seen whole: a bike whose state turned non-finite goes back here.
  float safe_position[3];
  float safe_heading;  // rad about y

  // Assets, owned by the Rider.
  CollisionShape* shapes[rider_shape_count];
  Model* models[rider_model_count];
  TextureSet textures[rider_texture_count];
  char number[8];  // at most 7 characters
  TextureId number_plate_texture;
  uint8_t plate_background[3];
  uint8_t plate_foreground[3];

  // Race fields (the race session owns their meaning).
  int checkpoints_passed;
  int last_crossing_tick;
  bool finished;
  int rider_number;
};
