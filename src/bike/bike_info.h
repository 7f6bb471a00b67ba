// The built-in bike database: physical constants and asset names of every bike model.
#pragma once

// One wheel of a model; positions in the bike's reference pose (ft, faces -z, y up).
struct WheelSpec {
  float centre[3];     // axle position
  float torus_radius;  // axle to the centre of the tyre's cross-section circle
  float tyre_radius;   // radius of that circle; outer radius = torus_radius + tyre_radius
  float ring_mass;     // rim and tyre, slugs
  float hub_radius;    // sphere standing for hub and spokes
  float hub_mass;      // slugs
};

constexpr int torque_points = 50;        // torque curve samples at 0, 500, ... 24500 rpm
constexpr float torque_rpm_step = 500;
constexpr int pose_point_count = 31;
constexpr int gear_count = 6;

// Offsets into BikeInfo::pose_points (body coordinates of the named body, ft).
enum PosePoint {
  pose_neck = 0,              // rider_body
  pose_shoulder_left = 3,     // rider_body
  pose_shoulder_right = 6,    // rider_body
  pose_hip_left = 9,          // rider_body
  pose_hip_right = 12,        // rider_body
  pose_grip_left = 15,        // steering
  pose_grip_right = 18,       // steering
  pose_peg_left = 21,         // frame
  pose_peg_right = 24,        // frame
  pose_upper_arm = 27,        // limb lengths, ft
  pose_forearm = 28,
  pose_thigh = 29,
  pose_shin = 30,
};

// Units: ft, slugs, s, lbf (torques ft lbf). Ranges are {min, max}.
struct BikeInfo {
  const char* model_name;
  const char* engine_class;          // "450f", "250f", "250", "125" or "50"
  WheelSpec front_wheel;
  WheelSpec rear_wheel;
  float frame_centre[3];
  float frame_mass;
  float frame_size[3];               // box
  float steering_head[3];            // centre of `steering`, anchor of the steering head
  float swingarm_centre[3];
  float swingarm_pivot[3];
  float fork_lower_centre[3];        // the steering axis runs from here to the steering head
  float fork_leg_spacing;
  float fork_tube_length;
  float fork_mass;
  float fork_spring_rate[2];         // lbf/ft, both legs together
  float fork_preload[2];             // ft
  float fork_air_gap[2];             // ft at oil-level setting 0 and 1
  float fork_compression_damping;    // lbf s/ft
  float fork_rebound_damping;
  float fork_travel;                 // ft
  float swingarm_mass;               // each of its two side members
  float shock_spring_rate[2];        // lbf/ft
  float shock_preload[2];            // ft
  float shock_compression_damping;
  float shock_rebound_damping;
  float swingarm_travel;             // rad
  float shock_leverage[2];           // at top-out, at full compression
  float primary_reduction;
  float front_sprocket;              // teeth
  float rear_sprocket;
  float gear_ratio[gear_count];      // <= 0: the gear does not exist
  float engine_inertia;              // slug ft^2
  float clutch_stiffness;            // ft lbf per rad
  float clutch_damping;              // ft lbf per rad/s
  float closed_torque[torque_points];
  float open_torque[torque_points];
  float shift_down_rpm;
  float shift_up_rpm;
  float rev_limit_rpm;               // where the open curve reaches 0; informational
  float rider_travel_direction[3];   // unnormalised; oldest recorded-state version only
  float rider_seat[3];               // rest position of `rider_body`
  float rider_travel[2];             // ft along rider_travel_direction
  float rider_mass;
  const char* frame_model;
  const char* frame_shape;
  const char* bike_texture;
  const char* fork_upper_model;
  const char* fork_upper_shape;
  const char* fork_lower_model;
  const char* fork_lower_shape;
  const char* swingarm_model;
  const char* swingarm_shape;
  const char* front_wheel_model;
  const char* front_wheel_shape;
  const char* rear_wheel_model;
  const char* rear_wheel_shape;
  const char* wheel_texture;
  const char* head_model;
  const char* head_texture;
  const char* rider_body_model;
  const char* rider_body_fp_model;
  const char* rider_shape;
  const char* rider_texture;
  const char* side_plates_model;
  const char* front_plate_model;
  const char* rider_plate_model;
  float pose_points[pose_point_count];  // see PosePoint
};

constexpr int bike_info_count = 45;
extern const BikeInfo bike_info_table[bike_info_count];  // in the database's order

// The record of a model name; unknown names fall back (console line) and never fail.
const BikeInfo* bike_info_find(const char* model_name);
// Index of a record in bike_info_table.
int bike_info_index(const BikeInfo* info);
