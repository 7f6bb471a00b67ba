// The built-in bike database: 45 models in a fixed order, built from per-class values.
#include "bike/bike_info.h"

#include <cstring>
#include <iterator>

#include "core/console.h"

namespace {

enum BikeClass { class_450f, class_250, class_250f, class_125, class_50 };

struct Knot {
  float rpm;
  float torque;
};

// Values that depend on the engine class, from each class's reference model.
struct ClassValues {
  const char* engine_class;
  float frame_mass, fork_mass, swingarm_mass;
  float fork_rate_min, fork_rate_max, fork_rebound;
  float shock_rate_min, shock_rate_max, shock_rebound;
  float primary, front_teeth, rear_teeth;
  float gears[gear_count];
  float inertia, clutch_k, clutch_c;
  float shift_down, shift_up, rev_limit;
  float rider_mass;
  bool two_stroke;
  float closed_scale;  // the 50 class brakes with half the two-stroke values
  Knot open[12];       // piecewise-linear open-throttle curve up to the rev limit (0 there)
  int open_knots;
};

constexpr ClassValues class_values[] = {
    {"450f", 4.735f, 0.703125f, 0.5025f, 376.303f, 913.878f, 32, 2486.29f, 5174.16f, 650,
     2.73913f, 13, 48, {1.8f, 1.47059f, 1.23529f, 1.05f, 0.909091f, -1}, 0.0088501f, 7500, 0.75f,
     6000, 10500, 12000, 5.46875f, false, 1,
     {}, 0},  // the 450f curve is the reference table below
    {"250", 4.36562f, 0.75375f, 0.589375f, 322.55f, 860.12f, 30, 2083.10f, 4770.98f, 600,
     2.76923f, 13, 48, {2.0f, 1.6f, 1.3333f, 1.1429f, 0.9545f, -1}, 0.00683594f, 7500, 0.75f,
     6000, 9000, 10500, 5.46875f, true, 1,
     {{0, 4}, {2000, 6}, {3000, 10}, {4500, 20}, {6000, 27}, {7500, 30}, {8500, 28.5f},
      {9500, 22}, {10500, 0}}, 9},
    {"250f", 4.24f, 0.703125f, 0.504375f, 335.98f, 873.56f, 30, 2217.50f, 4905.37f, 600,
     3.35294f, 13, 50, {2.1429f, 1.75f, 1.4444f, 1.2222f, 1.0417f, -1}, 0.00488281f, 7500, 0.75f,
     8000, 12500, 13250, 4.6875f, false, 1,
     {{0, 3}, {2000, 3}, {3000, 5}, {5000, 9}, {7000, 14}, {9000, 17}, {10500, 18.5f},
      {11500, 17.5f}, {12500, 13}, {13250, 0}}, 10},
    {"125", 3.65375f, 0.739688f, 0.541875f, 322.55f, 860.12f, 30, 1814.32f, 4502.19f, 600,
     3.15f, 13, 52, {2.3571f, 1.8667f, 1.5789f, 1.2941f, 1.1333f, -1}, 0.00488281f, 7500, 0.75f,
     9400, 12000, 12750, 4.6875f, true, 1,
     {{0, 2}, {2000, 3}, {4000, 5}, {6000, 8}, {8000, 11}, {9500, 14}, {10500, 16},
      {11500, 14.5f}, {12250, 10}, {12750, 0}}, 10},
    {"50", 3.34125f, 0.739688f, 0.541875f, 309.11f, 846.68f, 30, 1814.32f, 4502.19f, 600,
     3.71429f, 12, 55, {3.0909f, 2.0f, 1.5f, 1.2f, 1.0455f, 0.9565f}, 0.00119358f, 1200, 1.0f,
     9400, 12000, 12750, 4.6875f, true, 0.5f,
     {{0, 0.5f}, {3000, 1}, {5000, 1.6f}, {7000, 2.6f}, {8500, 3.8f}, {9500, 4.3f},
      {10500, 3.9f}, {11750, 2.5f}, {12750, 0}}, 9},
};

constexpr float crf450_open[torque_points] = {
    5, 5, 5, 5, 5, 8, 11, 14.1f, 22.2f, 22.5f, 25.8f, 29.3f, 30.2f, 30.7f, 31, 30.9f, 30.1f,
    29.3f, 27.2f, 25.6f, 24.2f, 21.9f, 18.8f, 14.4f, 0, -10, -11, -12, -13, -14, -15, -16, -17,
    -18, -19, -20, -21, -22, -23, -24, -25, -26, -27, -28, -29, -30, -31, -32, -33, -34};

// Two-stroke engine braking from 1500 rpm on; below that like the four-strokes.
constexpr float two_stroke_closed_start[] = {2,     2,    1,  0,     -1,    -1.2f, -1.4f,
                                             -1.6f, -1.8f, -2, -2.25f, -2.5f, -2.75f, -3,
                                             -3.33f, -3.67f, -4, -5};

constexpr float four_stroke_closed(int i) {
  if (i < 2) return 2;
  if (i == 2) return 1;
  if (i == 3) return 0;
  return -1.0f - static_cast<float>((i - 4) / 2);
}

constexpr float two_stroke_closed(int i) {
  constexpr int n = static_cast<int>(std::size(two_stroke_closed_start));
  if (i < n) return two_stroke_closed_start[i];
  float v = -5.0f - static_cast<float>(i - (n - 1));
  return v < -23 ? -23 : v;
}

constexpr float knot_torque(const ClassValues& c, float rpm) {
  for (int k = 1; k < c.open_knots; ++k) {
    const Knot& a = c.open[k - 1];
    const Knot& b = c.open[k];
    if (rpm <= b.rpm) return a.torque + (b.torque - a.torque) * (rpm - a.rpm) / (b.rpm - a.rpm);
  }
  return 0;
}

// Per-model differences between makers and years, applied to the class values.
struct Variant {
  const char* name;
  BikeClass bike_class;
  float mass_factor;     // frame and swingarm
  float front_teeth;     // 0: the class value
  float rear_teeth;
  float torque_factor;   // open-throttle curve
  float primary_factor;
};

struct Files {
  const char* frame_model;
  const char* bike_texture;
  const char* fork_upper_model;
  const char* fork_lower_model;
  const char* swingarm_model;
  const char* side_plates_model;
  const char* front_plate_model;
};

#define KV_BIKE_FILES(stem)                                                                  \
  Files {                                                                                    \
    "@" stem "_frame.vm", "@" stem ".png", "@" stem "_fork_upper.vm", "@" stem "_fork_lower.vm", \
        "@" stem "_swingarm.vm", "@" stem "_side_plates.vm", "@" stem "_front_plate.vm"      \
  }

constexpr BikeInfo make_record(const Variant& v, const Files& f) {
  const ClassValues& c = class_values[v.bike_class];
  BikeInfo b{};
  b.model_name = v.name;
  b.engine_class = c.engine_class;
  b.front_wheel = {{0, 1.09f, 1.11f}, 0.833333f, 0.333333f, 0.40625f, 0.5f, 0.15625f};
  b.rear_wheel = {{0, 1.04f, 6}, 0.75f, 0.333333f, 0.46875f, 0.5f, 0.3125f};
  b.frame_centre[1] = 1.98f;
  b.frame_centre[2] = 3.6f;
  b.frame_mass = c.frame_mass * v.mass_factor;
  b.frame_size[0] = 0.833333f;
  b.frame_size[1] = 1.66667f;
  b.frame_size[2] = 1.66667f;
  b.steering_head[1] = 2.9f;
  b.steering_head[2] = 2.16f;
  b.swingarm_centre[1] = 1.34f;
  b.swingarm_centre[2] = 4.99f;
  b.swingarm_pivot[1] = 1.58f;
  b.swingarm_pivot[2] = 4.17f;
  b.fork_lower_centre[1] = 1.77f;
  b.fork_lower_centre[2] = 1.59f;
  b.fork_leg_spacing = 0.833333f;
  b.fork_tube_length = 3;
  b.fork_mass = c.fork_mass;
  b.fork_spring_rate[0] = c.fork_rate_min;
  b.fork_spring_rate[1] = c.fork_rate_max;
  b.fork_preload[1] = 0.0833333f;
  b.fork_air_gap[0] = 0.416667f;
  b.fork_air_gap[1] = 0.25f;
  b.fork_compression_damping = 60;
  b.fork_rebound_damping = c.fork_rebound;
  b.fork_travel = 1;
  b.swingarm_mass = c.swingarm_mass * v.mass_factor;
  b.shock_spring_rate[0] = c.shock_rate_min;
  b.shock_spring_rate[1] = c.shock_rate_max;
  b.shock_preload[1] = 0.0275f;
  b.shock_compression_damping = 800;
  b.shock_rebound_damping = c.shock_rebound;
  b.swingarm_travel = 0.55f;
  b.shock_leverage[0] = 0.615385f;
  b.shock_leverage[1] = 0.615385f;
  b.primary_reduction = c.primary * v.primary_factor;
  b.front_sprocket = v.front_teeth > 0 ? v.front_teeth : c.front_teeth;
  b.rear_sprocket = v.rear_teeth > 0 ? v.rear_teeth : c.rear_teeth;
  for (int g = 0; g < gear_count; ++g) b.gear_ratio[g] = c.gears[g];
  b.engine_inertia = c.inertia;
  b.clutch_stiffness = c.clutch_k;
  b.clutch_damping = c.clutch_c;
  const float limit = c.rev_limit;
  // Past the rev limit the engine brakes: crf450's reference falls to -10 over 500 rpm, then
  // 1 per step; other classes scale that by their peak torque.
  float peak = 31;
  if (c.open_knots) {
    peak = 0;
    for (int k = 0; k < c.open_knots; ++k) peak = c.open[k].torque > peak ? c.open[k].torque : peak;
  }
  const float k_brake = peak / 31;
  for (int i = 0; i < torque_points; ++i) {
    const float rpm = static_cast<float>(i) * torque_rpm_step;
    b.closed_torque[i] = (c.two_stroke ? two_stroke_closed(i) : four_stroke_closed(i)) * c.closed_scale;
    if (!c.open_knots) {
      b.open_torque[i] = crf450_open[i] * (rpm < limit ? v.torque_factor : 1);
      continue;
    }
    if (rpm <= limit) {
      b.open_torque[i] = knot_torque(c, rpm) * v.torque_factor;
    } else {
      const float past = rpm - limit;
      float t = past <= 500 ? -10 * k_brake * past / 500 : -10 * k_brake - k_brake * (past - 500) / 500;
      const float before = rpm - torque_rpm_step;
      if (before < limit) {
        // The first sample past a limit between samples makes the curve cross 0 exactly there.
        const float a = knot_torque(c, before) * v.torque_factor;
        t = -a * past / (limit - before);
      }
      b.open_torque[i] = t;
    }
  }
  b.shift_down_rpm = c.shift_down;
  b.shift_up_rpm = c.shift_up;
  b.rev_limit_rpm = limit;
  b.rider_travel_direction[1] = 0.0833333f;
  b.rider_travel_direction[2] = 0.0833333f;
  b.rider_seat[1] = 4.5f;
  b.rider_seat[2] = 4.12f;
  b.rider_travel[0] = -0.666667f;
  b.rider_travel[1] = 0.5f;
  b.rider_mass = c.rider_mass;
  b.frame_model = f.frame_model;
  b.frame_shape = "@generic_frame.shp";
  b.bike_texture = f.bike_texture;
  b.fork_upper_model = f.fork_upper_model;
  b.fork_upper_shape = "@generic_fork_upper.shp";
  b.fork_lower_model = f.fork_lower_model;
  b.fork_lower_shape = "@generic_fork_lower.shp";
  b.swingarm_model = f.swingarm_model;
  b.swingarm_shape = "@generic_swingarm.shp";
  b.front_wheel_model = "@front_wheel.vm";
  b.front_wheel_shape = "@front_wheel.shp";
  b.rear_wheel_model = "@rear_wheel.vm";
  b.rear_wheel_shape = "@rear_wheel.shp";
  b.wheel_texture = "@wheels.png";
  b.head_model = "@rider_head.vm";
  b.head_texture = "@rider_head.png";
  b.rider_body_model = "@rider_body.vm";
  b.rider_body_fp_model = "@rider_body_fp.vm";
  b.rider_shape = "@generic_rider.shp";
  b.rider_texture = "@rider_body.png";
  b.side_plates_model = f.side_plates_model;
  b.front_plate_model = f.front_plate_model;
  b.rider_plate_model = "@rider_plate.vm";
  constexpr float pose[pose_point_count] = {
      0,      0.808383f, -0.943369f,  -0.556f, 0.580375f, -0.654514f, 0.556f,  0.580375f,
      -0.654514f, -0.269f, -0.570887f, 0.670607f, 0.269f,  -0.570887f, 0.670607f, -1.097f,
      1.145f, 0.753f,    1.097f,      1.145f,  0.753f,    -0.6f,      -0.557f, 0.584f,
      0.6f,   -0.557f,   0.584f,      0.9f,    1.15f,     1.328f,     1.701f};
  for (int i = 0; i < pose_point_count; ++i) b.pose_points[i] = pose[i];
  return b;
}

#define KV_BIKE(name, stem, cls, mass, front, rear, torque, primary) \
  make_record(Variant{name, cls, mass, front, rear, torque, primary}, KV_BIKE_FILES(stem))

}  // namespace

// Reference models of each class use the class values unchanged (factors 1, teeth 0).
constinit const BikeInfo bike_info_table[bike_info_count] = {
    KV_BIKE("crf450(2013)", "crf450v2013", class_450f, 1, 0, 0, 1, 1),
    KV_BIKE("kx450f(2013)", "kx450fv2013", class_450f, 1.012f, 13, 50, 1.02f, 0.99f),
    KV_BIKE("rmz450(2013)", "rmz450v2013", class_450f, 1.021f, 13, 49, 0.985f, 1.01f),
    KV_BIKE("yz450f(2013)", "yz450fv2013", class_450f, 1.008f, 13, 49, 1.01f, 1.0f),
    KV_BIKE("450sxf(2013)", "450sxfv2013", class_450f, 0.972f, 13, 50, 1.03f, 0.98f),
    KV_BIKE("350sxf(2013)", "350sxfv2013", class_450f, 0.965f, 13, 52, 0.86f, 1.04f),
    KV_BIKE("crf450(2011)", "crf450v2011", class_450f, 1.015f, 13, 48, 0.985f, 1),
    KV_BIKE("kx450f(2011)", "kx450fv2011", class_450f, 1.026f, 13, 50, 1.0f, 0.99f),
    KV_BIKE("rmz450(2011)", "rmz450v2011", class_450f, 1.031f, 13, 49, 0.97f, 1.01f),
    KV_BIKE("yz450f(2011)", "yz450fv2011", class_450f, 1.022f, 13, 49, 0.995f, 1.0f),
    KV_BIKE("450sxf(2011)", "450sxfv2011", class_450f, 0.985f, 13, 50, 1.01f, 0.98f),
    KV_BIKE("350sxf(2011)", "350sxfv2011", class_450f, 0.978f, 13, 52, 0.84f, 1.04f),
    KV_BIKE("250sx(2012)", "250sxv2012", class_250, 1, 0, 0, 1, 1),
    KV_BIKE("cr250(2007)", "cr250v2007", class_250, 1.018f, 13, 49, 0.98f, 1.0f),
    KV_BIKE("kx250(2006)", "kx250v2006", class_250, 1.025f, 13, 50, 0.99f, 0.99f),
    KV_BIKE("rm250(2008)", "rm250v2008", class_250, 1.012f, 13, 49, 0.985f, 1.01f),
    KV_BIKE("yz250(2012)", "yz250v2012", class_250, 1.006f, 13, 48, 1.01f, 1.0f),
    KV_BIKE("crf250(2013)", "crf250v2013", class_250f, 1.011f, 13, 49, 1.01f, 1.0f),
    KV_BIKE("kx250f(2013)", "kx250fv2013", class_250f, 1.017f, 13, 50, 1.02f, 0.99f),
    KV_BIKE("rmz250(2013)", "rmz250v2013", class_250f, 1.022f, 13, 51, 0.98f, 1.01f),
    KV_BIKE("yz250f(2013)", "yz250fv2013", class_250f, 1, 0, 0, 1, 1),
    KV_BIKE("250sxf(2013)", "250sxfv2013", class_250f, 0.974f, 14, 52, 1.03f, 0.98f),
    KV_BIKE("crf250(2009)", "crf250v2009", class_250f, 1.023f, 13, 49, 0.985f, 1.0f),
    KV_BIKE("kx250f(2009)", "kx250fv2009", class_250f, 1.028f, 13, 50, 0.995f, 0.99f),
    KV_BIKE("rmz250(2009)", "rmz250v2009", class_250f, 1.034f, 13, 51, 0.965f, 1.01f),
    KV_BIKE("yz250f(2009)", "yz250fv2009", class_250f, 1.014f, 13, 50, 0.985f, 1.0f),
    KV_BIKE("250sxf(2009)", "250sxfv2009", class_250f, 0.988f, 14, 52, 1.0f, 0.98f),
    KV_BIKE("crf250(2008)", "crf250v2008", class_250f, 1.03f, 13, 49, 0.975f, 1.0f),
    KV_BIKE("kx250f(2008)", "kx250fv2008", class_250f, 1.034f, 13, 50, 0.98f, 0.99f),
    KV_BIKE("rmz250(2008)", "rmz250v2008", class_250f, 1.04f, 13, 51, 0.955f, 1.01f),
    KV_BIKE("yz250f(2008)", "yz250fv2008", class_250f, 1.021f, 13, 50, 0.975f, 1.0f),
    KV_BIKE("cr125", "cr125", class_125, 1, 0, 0, 1, 1),
    KV_BIKE("kx125", "kx125", class_125, 1.012f, 13, 51, 0.985f, 1.01f),
    KV_BIKE("rm125", "rm125", class_125, 1.007f, 13, 52, 0.99f, 1.0f),
    KV_BIKE("yz125", "yz125", class_125, 0.994f, 13, 51, 1.01f, 0.99f),
    KV_BIKE("125sx", "125sx", class_125, 0.978f, 13, 52, 1.025f, 0.98f),
    KV_BIKE("crf250(2007)", "crf250v2007", class_250f, 1.036f, 13, 49, 0.965f, 1.0f),
    KV_BIKE("kx250f(2007)", "kx250fv2007", class_250f, 1.041f, 13, 50, 0.97f, 0.99f),
    KV_BIKE("rmz250(2007)", "rmz250v2007", class_250f, 1.045f, 13, 51, 0.95f, 1.01f),
    KV_BIKE("yz250f(2007)", "yz250fv2007", class_250f, 1.028f, 13, 50, 0.965f, 1.0f),
    KV_BIKE("yz250f_se(2006)", "yz250f_sev2006", class_250f, 1.019f, 13, 51, 0.99f, 1.0f),
    KV_BIKE("rs50cr", "rs50cr", class_50, 1, 0, 0, 1, 1),
    KV_BIKE("rs50kx", "rs50kx", class_50, 1.01f, 12, 56, 0.99f, 1.0f),
    KV_BIKE("rs50rm", "rs50rm", class_50, 1.015f, 12, 55, 0.98f, 1.01f),
    KV_BIKE("rs50yz", "rs50yz", class_50, 0.995f, 12, 54, 1.01f, 0.99f),
};

static_assert(std::size(bike_info_table) == bike_info_count);

const BikeInfo* bike_info_find(const char* model_name) {
  const BikeInfo* found = nullptr;
  if (model_name) {
    for (const BikeInfo& b : bike_info_table)
      if (strcmp(b.model_name, model_name) == 0) found = &b;
  }
  if (found) return found;
  const char* family = model_name && strstr(model_name, "125") ? "125" : "250f";
  for (const BikeInfo& b : bike_info_table) {
    if (strstr(b.model_name, family)) {
      found = &b;
      break;
    }
  }
  if (!found) found = &bike_info_table[0];
  console_printf("bike info for '%.20s' not found using '%.20s' instead",
                 model_name ? model_name : "", found->model_name);
  return found;
}

int bike_info_index(const BikeInfo* info) { return static_cast<int>(info - bike_info_table); }
