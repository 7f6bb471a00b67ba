// The rigid-body bike: creation, placement, replay helpers and the per-rider tick.
#pragma once
#include "bike/rider.h"

constexpr double tick_length = 1.0 / 128;  // s, the simulation tick h
constexpr float gravity_y = -32;           // ft/s^2

// The physics world shared by every rider: created once at start-up, freed at shutdown.
// Installs ODE's error, debug and message handlers, which write to the log.
void physics_init();
void physics_shutdown();
bool physics_ready();
// One accurate world step of tick_length, then the tick's contact and spring joints go.
void physics_step();

// Loads the record's assets through the installed loader (shapes always), builds the bodies
// and joints in the reference pose, applies the rider defaults and resets. Texture names may
// be null. Never fails: unknown models fall back to another record.
Rider* bike_create(const char* model_name, int slot, const char* rider_number,
                   const char* rider_texture, const char* head_texture,
                   const char* bike_texture, const char* wheel_texture);
void bike_free(Rider* rider);

// Back to the reference pose at rest with every control and crash value cleared.
void bike_reset(Rider* rider);
void bike_translate(Rider* rider, float dx, float dy, float dz);
// Absolute: every body gets the rotation R and position R * (its position). Meant for a bike
// in the reference pose.
void bike_rotate(Rider* rider, float ax, float ay, float az, float angle);
// 0 makes a ghost (bodies disabled); anything else enables them. Clamped to 0..1.
void bike_set_solidity(Rider* rider, float solidity);
// Rider mass share on rider_body, clamped to 0.33..0.5; resets both masses.
void bike_set_mass_distribution(Rider* rider, float d);
// Detaches or re-attaches the rider_mount (re-attaching places rider_body on its seat first).
void bike_detach_rider(Rider* rider);
void bike_attach_rider(Rider* rider);

// The per-rider step, after the world step. race_tick and gate_drop_tick count ticks.
void bike_tick(Rider* rider, int race_tick, int gate_drop_tick);
// After a world step: a bike with any non-finite body state is reset and put back where it
// was last seen whole (logged); true when that happened. Otherwise remembers the safe place.
bool bike_check_finite(Rider* rider);

// Queries (world frame, ft, rad, s).
void bike_body_position(const Rider* rider, int body, float out[3]);
void bike_body_rotation(const Rider* rider, int body, float out[9]);  // row-major 3x3
void bike_body_quaternion(const Rider* rider, int body, float out[4]);  // w, x, y, z
void bike_body_velocity(const Rider* rider, int body, float out[3]);
void bike_body_angular_velocity(const Rider* rider, int body, float out[3]);
float bike_engine_rpm(const Rider* rider);
float bike_steering_angle(const Rider* rider);
float bike_fork_position(const Rider* rider);      // ft, <= 0 compressed
float bike_swingarm_angle(const Rider* rider);     // rad, <= 0 compressed
float bike_wheel_angle(const Rider* rider, int wheel);  // 0 front, 1 rear
float bike_weight_scale(const Rider* rider);       // rider weight / 150 lb

// The suspension laws, exposed for their tests.
float fork_force(const Rider* rider, float position, float rate);     // lbf, >= 0 pushes out
float shock_torque(const Rider* rider, float angle, float rate);      // ft lbf
// The rider's fore-aft spring: its target offset (ft) and its stiffness and damping.
float rider_z_target(float dy, float dab, float lean);
void rider_z_spring(float dz, float e, float z_spring, float weight_scale, float* k, float* c);
// Total mass of the seven bodies of a record at distribution d (slugs).
float bike_total_mass(const BikeInfo* info);

// Replay (recorded riders): the bodies from a decoded state, and the placement from the records
// before, after and current with their distance in ticks (the demo's apply-state seam).
struct StatePose;
struct StateRecord;
void bike_set_pose(Rider* rider, const StatePose* pose);
void bike_apply_state(Rider* rider, const StateRecord* before, const StateRecord* after,
                      const StateRecord* current, int interval);
