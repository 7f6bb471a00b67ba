// Low-polygon models of our bikes and rider as ".vm" text.
#pragma once
#include <string>

#include "bike/bike_info.h"

std::string frame_model(const BikeInfo& b);
std::string side_plates_model(const BikeInfo& b);
std::string fork_upper_model(const BikeInfo& b);
std::string front_plate_model(const BikeInfo& b);
std::string fork_lower_model(const BikeInfo& b);
std::string swingarm_model(const BikeInfo& b);
std::string wheel_model(const WheelSpec& w);
std::string rider_body_model(const BikeInfo& b, bool first_person);
std::string rider_plate_model(const BikeInfo& b);
std::string head_model();
