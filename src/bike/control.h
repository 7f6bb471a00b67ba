// Rider control: the control setters, the steering model, the assists and the knock-down.
#pragma once
#include "bike/rider.h"

// Setters of the ControlState, each clamping to its range; throttle, dab, back up and lean
// stay 0 while the rider is knocked down. The shift goes through shift_request (engine.h).
void control_set_throttle(Rider* rider, float v);
void control_set_clutch(Rider* rider, float v);
void control_set_front_brake(Rider* rider, float v);
void control_set_rear_brake(Rider* rider, float v);
void control_set_steer(Rider* rider, float v);
void control_set_dab(Rider* rider, float v);
void control_set_back_up(Rider* rider, float v);
void control_set_lean(Rider* rider, float v);
// Every field of a ControlState through the setters above, the shift and gear included.
void control_apply(Rider* rider, const ControlState& state);

// Lean of the frame (rad, positive to the rider's left). A frame pointing straight up or down
// has no lean of its own: the previous value is kept. Stores it in rider->lean_angle.
float lean_angle_update(Rider* rider);
// Roll rate: the frame's angular velocity about its own z axis.
float roll_rate(const Rider* rider);
// Torque t about the steering axis: +t on the front wheel, -t on the frame.
void steering_torque(Rider* rider, float t);
// Slip angle of the front wheel against the fork's heading; 0 below 1 ft/s.
float front_slip_angle(const Rider* rider);

// The arcade model's steering effort (-2/3..2/3) toward a target steering angle (rad); the
// auto pilot steers with it too.
float arcade_steering_effort(const Rider* rider, float target);

// Steering model pieces, exposed for their tests.
// Lean range of the speed (rad); power 4 for the steering, 32 for the dab.
float lean_range(float speed, float max_dab_speed, float roll_limit_angle, int power);
// Wanted roll rate for a steer input, a lean range and the lean, with its limits.
float wanted_roll_rate(float steer, float range, float lean);
// The balancing torque after an impact: reversed above 192, limited below.
float impact_balance(float impact, float stability_torque);
// Lock limit at a front speed for the surface's first friction coefficient.
float lock_limit(const RiderAssists& a, float front_speed, float mu0);

// Entry into the knock-down: detaches the rider, starts the count and counts the crash.
void knock_down(Rider* rider);
// Extra knock-down ticks per crash count (the multiplayer server sends them); clamped to
// 0..1280 when set through control_set_crash_extra_ticks.
extern int crash_extra_ticks[16];
void control_set_crash_extra_ticks(const int ticks[16]);

// Calls into racing lines and the race that exist once those are in; null finds nothing.
// The aim point of the automatic realignment: false when the track has no timing gates.
extern bool (*control_aim_point_hook)(const Rider* rider, float aim[3]);
// The finish rule: true when it marked the rider finished.
extern bool (*control_finish_hook)(Rider* rider);
