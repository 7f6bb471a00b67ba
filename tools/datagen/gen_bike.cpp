// Our bike data: the seven fixed collision shapes (with their digest), the bike, wheel, rider
// and head textures, and the models of every file name the bike database uses.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "bike/bike_info.h"
#include "datagen.h"
#include "gen_bike_models.h"
#include "gen_track_assets.h"

namespace {

struct Ball {
  float x, y, z, r, mu, k, c;
};

std::string shape_text(const std::vector<Ball>& balls) {
  std::string s = std::to_string(balls.size()) + "\n";
  char line[200];
  for (const Ball& b : balls) {
    snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.3f %.1f %.1f\n", static_cast<double>(b.x),
             static_cast<double>(b.y), static_cast<double>(b.z), static_cast<double>(b.r),
             static_cast<double>(b.mu), static_cast<double>(b.k), static_cast<double>(b.c));
    s += line;
  }
  return s;
}

// Eight balls around the tyre's centre circle: enough for bikes touching wheel to shape.
std::vector<Ball> wheel_balls(const WheelSpec& w) {
  std::vector<Ball> balls;
  for (int k = 0; k < 8; ++k) {
    const float a = static_cast<float>(k) * 0.785398f;
    balls.push_back({0, w.torus_radius * std::cos(a), w.torus_radius * std::sin(a), w.tyre_radius,
                     1.0f, 25000, 2500});
  }
  return balls;
}

// Every centre is in its body's frame (origin at the body's reference position).
struct FixedShape {
  const char* name;
  std::vector<Ball> balls;
};

std::vector<FixedShape> fixed_shapes() {
  const BikeInfo& b = bike_info_table[0];
  return {
      {"generic_frame.shp",
       {{0, 0.35f, -0.85f, 0.42f, 0.6f, 5000, 500},
        {0, 0.15f, 0.1f, 0.48f, 0.6f, 5000, 500},
        {0, -0.45f, -0.25f, 0.4f, 0.6f, 5000, 500},
        {0, 0.55f, 0.85f, 0.34f, 0.6f, 5000, 500},
        {0, 0.45f, 1.55f, 0.3f, 0.6f, 5000, 500}}},
      {"generic_fork_upper.shp",
       {{0, 0.15f, 0.05f, 0.3f, 0.6f, 5000, 500},
        {-0.85f, 1.1f, 0.72f, 0.2f, 0.6f, 5000, 500},
        {0.85f, 1.1f, 0.72f, 0.2f, 0.6f, 5000, 500},
        {0, -0.45f, -0.3f, 0.22f, 0.6f, 5000, 500}}},
      {"generic_fork_lower.shp",
       {{-0.42f, -0.34f, -0.24f, 0.15f, 0.6f, 5000, 500},
        {0.42f, -0.34f, -0.24f, 0.15f, 0.6f, 5000, 500},
        {-0.42f, 0.05f, 0.03f, 0.15f, 0.6f, 5000, 500},
        {0.42f, 0.05f, 0.03f, 0.15f, 0.6f, 5000, 500},
        {0, 0.25f, -0.35f, 0.22f, 0.6f, 5000, 500}}},
      {"generic_swingarm.shp",
       {{-0.42f, 0.12f, -0.4f, 0.15f, 0.6f, 5000, 500},
        {0.42f, 0.12f, -0.4f, 0.15f, 0.6f, 5000, 500},
        {-0.42f, -0.14f, 0.45f, 0.15f, 0.6f, 5000, 500},
        {0.42f, -0.14f, 0.45f, 0.15f, 0.6f, 5000, 500}}},
      {"front_wheel.shp", wheel_balls(b.front_wheel)},
      {"rear_wheel.shp", wheel_balls(b.rear_wheel)},
      {"generic_rider.shp",
       {{0, -0.57f, 0.67f, 0.45f, 0.5f, 2500, 250},
        {0, 0.05f, 0.0f, 0.5f, 0.5f, 2500, 250},
        {0, 0.58f, -0.65f, 0.45f, 0.5f, 2500, 250},
        {0, 1.3f, -0.95f, 0.42f, 0.5f, 2500, 250}}},
  };
}

// Texture regions by column (u): each model picks flat colours from a texture's strips.
using Rgb = std::array<uint8_t, 3>;

void strip_texture(GenContext* ctx, const std::string& name, const std::vector<Rgb>& strips,
                   uint32_t seed) {
  constexpr int size = 64;
  std::vector<uint8_t> px(size * size * 3);
  const int w = size / static_cast<int>(strips.size());
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const Rgb& c = strips[std::min<size_t>(static_cast<size_t>(x / w), strips.size() - 1)];
      // A little grain keeps flat plastics from looking painted on.
      const int grain = static_cast<int>(gen_random(x, y, seed) * 12) - 6;
      for (int k = 0; k < 3; ++k)
        px[(y * size + x) * 3 + k] = static_cast<uint8_t>(std::clamp(c[k] + grain, 0, 255));
    }
  }
  std::vector<uint8_t> png = gen_png(size, size, 3, px);
  gen_write_file(ctx, name, png.data(), png.size());
}

Rgb maker_colour(const char* model) {
  const std::string m = model;
  if (m.rfind("kx", 0) == 0 || m.rfind("rs50kx", 0) == 0) return {40, 170, 40};
  if (m.rfind("rm", 0) == 0 || m.rfind("rs50rm", 0) == 0) return {235, 210, 20};
  if (m.rfind("yz", 0) == 0 || m.rfind("rs50yz", 0) == 0) return {30, 60, 190};
  if (m.find("sx") != std::string::npos) return {240, 120, 10};
  return {205, 25, 25};
}

std::string strip_at(const char* name) { return name[0] == '@' ? name + 1 : name; }

struct GearColour {
  const char* name;
  Rgb main, light;
};
const GearColour gear_colours[] = {
    {"red", {200, 30, 30}, {235, 235, 235}},    {"blue", {30, 70, 200}, {235, 235, 235}},
    {"green", {40, 160, 60}, {20, 20, 25}},     {"yellow", {235, 205, 30}, {20, 20, 25}},
    {"orange", {240, 120, 20}, {235, 235, 235}}, {"purple", {120, 50, 170}, {230, 230, 230}},
};
constexpr size_t gear_colour_count = sizeof gear_colours / sizeof gear_colours[0];

}  // namespace

void gen_bike(GenContext* ctx) {
  // The fixed shapes, and the digest the game checks them against.
  std::string all;
  for (const FixedShape& s : fixed_shapes()) {
    const std::string text = shape_text(s.balls);
    gen_write_text(ctx, s.name, text);
    all += text;
  }
  ctx->digests.push_back({"kv_fixed_shapes_digest", gen_digest_hex(all.data(), all.size())});

  const BikeInfo& ref = bike_info_table[0];
  strip_texture(ctx, strip_at(ref.wheel_texture),
                {{25, 25, 25}, {40, 40, 40}, {190, 190, 195}, {210, 170, 60}}, 11);
  strip_texture(ctx, strip_at(ref.rider_texture),
                {{30, 30, 35}, {230, 230, 230}, {200, 30, 30}, {60, 60, 70}}, 12);
  strip_texture(ctx, strip_at(ref.head_texture),
                {{230, 230, 230}, {20, 20, 25}, {200, 30, 30}, {120, 120, 130}}, 13);
  // Riding gear and helmets in team colours: choices in the setup menu and the robots' kit.
  for (size_t i = 0; i < gear_colour_count; ++i) {
    const GearColour& g = gear_colours[i];
    strip_texture(ctx, std::string("rider_body-") + g.name + ".png", {{30, 30, 35}, g.light, g.main, {60, 60, 70}},
                  40 + static_cast<uint32_t>(i));
    strip_texture(ctx, std::string("rider_head-") + g.name + ".png", {g.light, {20, 20, 25}, g.main, {120, 120, 130}},
                  60 + static_cast<uint32_t>(i));
  }
  gen_write_text(ctx, strip_at(ref.front_wheel_model), wheel_model(ref.front_wheel));
  gen_write_text(ctx, strip_at(ref.rear_wheel_model), wheel_model(ref.rear_wheel));
  gen_write_text(ctx, strip_at(ref.rider_body_model), rider_body_model(ref, false));
  gen_write_text(ctx, strip_at(ref.rider_body_fp_model), rider_body_model(ref, true));
  gen_write_text(ctx, strip_at(ref.rider_plate_model), rider_plate_model(ref));
  gen_write_text(ctx, strip_at(ref.head_model), head_model());

  std::set<std::string> written;
  for (const BikeInfo& b : bike_info_table) {
    if (!written.insert(b.frame_model).second) continue;
    const Rgb c = maker_colour(b.model_name);
    strip_texture(ctx, strip_at(b.bike_texture),
                  {c, {235, 235, 235}, {45, 45, 50}, {170, 170, 175}}, 20 + static_cast<uint32_t>(written.size()));
    gen_write_text(ctx, strip_at(b.frame_model), frame_model(b));
    gen_write_text(ctx, strip_at(b.side_plates_model), side_plates_model(b));
    gen_write_text(ctx, strip_at(b.fork_upper_model), fork_upper_model(b));
    gen_write_text(ctx, strip_at(b.front_plate_model), front_plate_model(b));
    gen_write_text(ctx, strip_at(b.fork_lower_model), fork_lower_model(b));
    gen_write_text(ctx, strip_at(b.swingarm_model), swingarm_model(b));
  }
}
