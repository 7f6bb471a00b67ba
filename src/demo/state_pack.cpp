// Packing a simulated rider into a state record.
#include <cmath>

#include "bike/bike.h"
#include "core/setup_file.h"
#include "demo/state_record.h"

namespace {
constexpr double rpm_per_rad_s = 9.549296585513721;
}  // namespace

void pack_state(const Rider* rider, StateRecord* out) {
  PackRange range = demo_pack_range;
  range.fork_travel = rider->info.fork_travel;
  range.swingarm_travel = rider->info.swingarm_travel;
  StatePose p = {};
  float v[4];
  bike_body_position(rider, body_frame, v);
  for (int i = 0; i < 3; ++i) p.position[i] = v[i];
  bike_body_quaternion(rider, body_frame, v);
  for (int i = 0; i < 4; ++i) p.orientation[i] = v[i];
  float rp[3];
  bike_body_position(rider, body_rider, rp);
  for (int i = 0; i < 3; ++i) p.rider_offset[i] = static_cast<double>(rp[i]) - p.position[i];
  bike_body_quaternion(rider, body_rider, v);
  for (int i = 0; i < 4; ++i) p.rider_orientation[i] = v[i];
  p.steering = bike_steering_angle(rider);
  p.swingarm = bike_swingarm_angle(rider);
  p.fork = bike_fork_position(rider);
  p.wheel_angle[0] = bike_wheel_angle(rider, 0);
  p.wheel_angle[1] = bike_wheel_angle(rider, 1);
  if (rider->down_ticks > 0) {
    int t = rider->down_ticks;
    int level = (15 * t - 15) / 127;
    p.down_level = level > 15 ? 15 : level;
  } else {
    p.down_level = -1;
  }
  p.gear = rider->gear;
  p.dab = rider->down_ticks <= 0 && rider->dab_extension > 0;
  float throttle = rider->control.throttle;
  p.throttle_level = std::isfinite(throttle) ? static_cast<int>(throttle * 15) : 0;
  p.rpm = static_cast<double>(rider->engine_speed) * rpm_per_rad_s;
  // The integrity bit reports the setup out-of-range flag to peers.
  p.integrity = setup_file_out_of_range;
  state_encode(&p, &range, out);
}
