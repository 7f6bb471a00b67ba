// Engine, gearbox, clutch and brakes of a rider's bike: the drivetrain steps of the bike tick.
#pragma once
#include "bike/rider.h"

constexpr float rad_per_s_to_rpm = 9.549296f;

// Edge-triggered: s in {-1, 0, +1}; acts only when s differs from the last input. Ignored while
// knocked down and for other values.
void shift_request(Rider* rider, int s);
// g clamped to 0..5, then lowered to the nearest gear that exists.
void bike_set_gear(Rider* rider, int g);
// Gear ratio x primary reduction x final drive of the current gear.
float gear_ratio_total(const Rider* rider);
// Crank torque of the curves at the engine speed and throttle, with the wheelie guard (ft lbf).
float engine_torque(const Rider* rider);
// The clutch as the drivetrain uses it: the automatic clutch takes it out below its speed.
float effective_clutch(const Rider* rider);
// Front and rear brake torques for this tick after antilock and the stoppie guard (ft lbf).
float front_brake_torque(const Rider* rider);
float rear_brake_torque(const Rider* rider);

// Wraps an angle into [-pi, pi] (one remainder, so any finite value ends).
float wrap_angle(float a);
