// Bike-tick steps of the engine, brakes, steering and assists that are not written yet: each
// leaves the bike alone, so the tick runs the suspension and rider springs on their own.
#include "bike/bike.h"
#include "bike/bike_internal.h"

void bike_crash_detection(Rider*, int) {}
void bike_knock_down_step(Rider* rider, int) {
  if (rider->down_ticks > 0 && --rider->down_ticks == 0) bike_attach_rider(rider);
}
void bike_back_up_or_auto_dab(Rider*) {}
void bike_steering_and_balance(Rider*) {}
void bike_auto_shift(Rider*) {}
void bike_engine_step(Rider*) {}
void bike_brakes(Rider*) {}
void bike_front_wheel_damping(Rider*) {}
void bike_dab_and_align(Rider*) {}
void bike_pose_update(Rider* rider) {
  rider->dab_extension -= 4 * static_cast<float>(1.0 / 128);
  if (rider->dab_extension < 0) rider->dab_extension = 0;
}
void knock_down(Rider* rider) {
  if (rider->mount_attached) bike_detach_rider(rider);
  rider->down_ticks = 512;
  rider->crash_count += 1;
}
