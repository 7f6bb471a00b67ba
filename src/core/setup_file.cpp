// Bike setup keys and setup files, and the line file format shared with the settings file.
#include "core/setup_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "resources/data.h"
#include "resources/stream.h"

bool setup_file_out_of_range = false;

namespace {

const char* const no_yes_texts[] = {"No", "Yes"};
const char* const brake_texts[] = {"Normal", "Antilock"};
const char* const wheelie_texts[] = {"No", "Yes", "Front Only"};
const ChoiceList no_yes = {no_yes_texts, 2};
const ChoiceList brake_choices = {brake_texts, 2};
const ChoiceList wheelie_choices = {wheelie_texts, 3};

#define SETUP_NUMBER(key, label, field, def, step, lo, hi) \
  {key, setting_number, label, offsetof(BikeSetup, field), def, step, lo, hi, nullptr, 0, false, nullptr}
#define SETUP_CHOICE(key, label, field, list, def) \
  {key, setting_choice, label, offsetof(BikeSetup, field), def, 0, 0, 0, list, 0, false, nullptr}
#define SETUP_TEXT(key, label, field, length, text) \
  {key, setting_text, label, offsetof(BikeSetup, field), 0, 0, 0, 0, nullptr, length, false, text}

const SettingDef setup_defs[] = {
    SETUP_CHOICE("bike", "Bike", bike, &bike_choices, 0),
    SETUP_TEXT("name", "Name", name, 63, "Oren Sandline"),
    SETUP_TEXT("number", "Number", number, 3, "999"),
    SETUP_CHOICE("rider_texture", "Riding Gear", rider_texture, &texture_lists[texture_list_rider_body].choices, 0),
    SETUP_CHOICE("head_texture", "Helmet", head_texture, &texture_lists[texture_list_rider_head].choices, 0),
    SETUP_CHOICE("bike_texture", "Bike Graphics", bike_texture, &texture_lists[texture_list_bike].choices, 0),
    SETUP_CHOICE("wheel_texture", "Wheel Graphics", wheel_texture, &texture_lists[texture_list_wheels].choices, 0),
    SETUP_NUMBER("stability", "Stability", stability, 100, 1, 0, 100),
    SETUP_NUMBER("leveling", "Leveling", leveling, 20, 1, 0, 100),
    SETUP_NUMBER("roll_damping", "Roll Damping", roll_damping, 60, 1, 0, 100),
    SETUP_NUMBER("roll_limit_angle", "Roll Limit Angle", roll_limit_angle, 45, 1, 0, 180),
    SETUP_NUMBER("roll_limit_factor", "Roll Limit Factor", roll_limit_factor, 10, 1, 0, 64),
    SETUP_NUMBER("steering_damping", "Steering Damping", steering_damping, 45, 1, 0, 100),
    SETUP_NUMBER("steering_strength", "Steering Strength", steering_strength, 75, 1, 0, 100),
    SETUP_NUMBER("max_steering_force", "Max Steering Force", max_steering_force, 400, 5, 0, 1000),
    SETUP_NUMBER("direct_steering", "Direct Steering", direct_steering, 1, 0.125, 0, 1),
    SETUP_NUMBER("slow_damping_speed", "Slow Damping Speed", slow_damping_speed, 40, 1, 0, 100),
    SETUP_NUMBER("slow_damping_factor", "Slow Damping Factor", slow_damping_factor, 2, 0.25, 1, 10),
    SETUP_NUMBER("land_damping_falloff", "Landing Damping Falloff", land_damping_falloff, 0.25, 0.0625, 0, 0.5),
    SETUP_NUMBER("land_damping_factor", "Landing Damping Factor", land_damping_factor, 2, 0.25, 1, 3),
    SETUP_NUMBER("full_lock_speed", "Full Lock Speed", full_lock_speed, 10, 1, 1, 100),
    SETUP_NUMBER("restricted_lock_speed", "Restricted Lock Speed", restricted_lock_speed, 50, 1, 1, 100),
    SETUP_NUMBER("restricted_lock", "Restricted Lock Angle", restricted_lock, 7.5, 0.125, 0, 45),
    SETUP_CHOICE("arcade", "Arcade Physics", arcade, &no_yes, 1),
    SETUP_CHOICE("front_brake", "Front Brake", front_brake, &brake_choices, 1),
    SETUP_CHOICE("rear_brake", "Rear Brake", rear_brake, &brake_choices, 0),
    SETUP_CHOICE("stop_wheelies", "Stop Wheelies", stop_wheelies, &wheelie_choices, 0),
    SETUP_CHOICE("auto_shift", "Automatic Shifting", auto_shift, &no_yes, 1),
    SETUP_CHOICE("auto_dab", "Dab When Stopped", auto_dab, &no_yes, 1),
    SETUP_CHOICE("auto_align", "Realign After Fall", auto_align, &no_yes, 1),
    SETUP_CHOICE("sticky_dab", "Sticky Sit/Dab", sticky_dab, &no_yes, 0),
    SETUP_CHOICE("reverse_steering", "Reversed Steering", reverse_steering, &no_yes, 1),
    SETUP_CHOICE("lean_indicator", "Lean Indicator", lean_indicator, &no_yes, 1),
    SETUP_NUMBER("auto_clutch_rpms", "Auto Clutch RPMs", auto_clutch_rpms, 5000, 100, 0, 5000),
    SETUP_NUMBER("brake_torque", "Braking Torque (Front)", brake_torque, 250, 10, 0, 500),
    SETUP_NUMBER("rear_brake_torque", "Braking Torque (Rear)", rear_brake_torque, 250, 10, 0, 500),
    SETUP_NUMBER("max_dab_speed", "Max Dab Speed (MPH)", max_dab_speed, 20, 1, 5, 60),
    SETUP_NUMBER("front_sprocket_adjustment", "Countershaft Sprocket", front_sprocket_adjustment, 0, 1, -2, 2),
    SETUP_NUMBER("rear_sprocket_adjustment", "Rear Sprocket", rear_sprocket_adjustment, 0, 1, -2, 2),
    SETUP_NUMBER("fork_compression_adjustment", "Fork Compression Damping", fork_compression_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("fork_rebound_adjustment", "Fork Rebound Damping", fork_rebound_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("fork_spring_rate_adjustment", "Fork Spring Rate", fork_spring_rate_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("fork_preload_adjustment", "Fork Preload", fork_preload_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("fork_oil_level_adjustment", "Fork Oil Level", fork_oil_level_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("shock_compression_adjustment", "Shock Compression Damping", shock_compression_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("shock_rebound_adjustment", "Shock Rebound Damping", shock_rebound_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("shock_spring_rate_adjustment", "Shock Spring Rate", shock_spring_rate_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("shock_preload_adjustment", "Shock Preload", shock_preload_adjustment, 50, 1, 0, 100),
    SETUP_NUMBER("rider_yspring", "Rider Vertical Spring", rider_yspring, 50, 1, 0, 100),
    SETUP_NUMBER("rider_ydamping", "Rider Vertical Damping", rider_ydamping, 50, 1, 0, 100),
    SETUP_NUMBER("rider_zspring", "Rider Forward Spring", rider_zspring, 50, 1, 0, 100),
    SETUP_NUMBER("rider_zdamping", "Rider Forward Damping", rider_zdamping, 50, 1, 0, 100),
    SETUP_NUMBER("rider_mass_distribution", "Rider Mass Distribution", rider_mass_distribution, 0.33, 0.01, 0.33, 0.5),
};
constexpr int setup_def_count = static_cast<int>(sizeof setup_defs / sizeof setup_defs[0]);
static_assert(setup_def_count == 53);

// The advanced values at Stability 0, 20, 40, 60, 80 and 100.
struct StabilityRow {
  size_t offset;
  double at[6];
};
const StabilityRow stability_rows[] = {
    {offsetof(BikeSetup, leveling), {20, 20, 20, 20, 20, 20}},
    {offsetof(BikeSetup, roll_damping), {40, 50, 60, 70, 75, 80}},
    {offsetof(BikeSetup, roll_limit_angle), {90, 45, 45, 40, 35, 35}},
    {offsetof(BikeSetup, roll_limit_factor), {0, 5, 10, 32, 32, 32}},
    {offsetof(BikeSetup, steering_damping), {45, 45, 45, 45, 45, 45}},
    {offsetof(BikeSetup, steering_strength), {75, 75, 75, 75, 75, 75}},
    {offsetof(BikeSetup, direct_steering), {1, 1, 1, 1, 1, 0}},
    {offsetof(BikeSetup, max_steering_force), {400, 400, 400, 400, 400, 400}},
    {offsetof(BikeSetup, slow_damping_speed), {40, 40, 40, 40, 40, 40}},
    {offsetof(BikeSetup, slow_damping_factor), {1, 1, 1.5, 2, 2, 2}},
    {offsetof(BikeSetup, land_damping_falloff), {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {offsetof(BikeSetup, land_damping_factor), {1, 1.5, 2, 2, 2, 2}},
    {offsetof(BikeSetup, full_lock_speed), {10, 10, 10, 10, 10, 10}},
    {offsetof(BikeSetup, restricted_lock_speed), {50, 50, 50, 50, 50, 50}},
    {offsetof(BikeSetup, restricted_lock), {45, 15, 10, 5, 5, 5}},
};

// Old model names that setup files still carry.
const char* const bike_aliases[][2] = {
    {"crf250", "crf250(2008)"},
    {"kx250f", "kx250f(2008)"},
    {"rmz250", "rmz250(2008)"},
    {"yz250f", "yz250f(2008)"},
};

const SettingDef* find_setup_def(const char* key) {
  for (const SettingDef& d : setup_defs)
    if (std::strcmp(d.key, key) == 0) return &d;
  return nullptr;
}

void setup_line(void* context, const char* key, const char* value) {
  setup_read_line(static_cast<BikeSetup*>(context), key, value);
}

bool setup_write_context(const void* context, Stream* stream) {
  return setup_write(static_cast<const BikeSetup*>(context), stream);
}

}  // namespace

const SettingDef* setup_table(int* count) {
  *count = setup_def_count;
  return setup_defs;
}

bool settings_parse_number(const char* text, double* out) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool settings_parse_integer(const char* text, int* out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

bool setting_apply_value(void* record, const SettingDef* def, const char* value) {
  void* field = setting_value(record, def);
  switch (def->kind) {
    case setting_integer: {
      int v;
      if (!settings_parse_integer(value, &v)) return false;
      double lo = def->minimum, hi = def->maximum;
      if (lo < hi) v = v < lo ? static_cast<int>(lo) : v > hi ? static_cast<int>(hi) : v;
      *static_cast<int*>(field) = v;
      return true;
    }
    case setting_number: {
      double v;
      if (!settings_parse_number(value, &v)) return false;
      *static_cast<double*>(field) = v < def->minimum ? def->minimum : v > def->maximum ? def->maximum : v;
      return true;
    }
    case setting_choice:
      for (int i = 0; i < def->choices->count; i++)
        if (std::strcmp(def->choices->texts[i], value) == 0) {
          *static_cast<int*>(field) = i;
          return true;
        }
      return false;
    case setting_text: {
      size_t n = std::strlen(value);
      if (def->refuse_long && n > static_cast<size_t>(def->max_length)) return false;
      if (n > static_cast<size_t>(def->max_length)) n = static_cast<size_t>(def->max_length);
      char* text = static_cast<char*>(field);
      std::memcpy(text, value, n);
      text[n] = 0;
      return true;
    }
    case setting_track:
      *static_cast<const char**>(field) = intern_string(value);
      return true;
  }
  return false;
}

bool setting_write_line(const void* record, const SettingDef* def, Stream* s) {
  const void* field = static_cast<const char*>(record) + def->offset;
  switch (def->kind) {
    case setting_integer:
      return stream_printf(s, "%s=%d\n", def->key, *static_cast<const int*>(field)) > 0;
    case setting_number:
      return stream_printf(s, "%s=%f\n", def->key, *static_cast<const double*>(field)) > 0;
    case setting_choice: {
      int i = *static_cast<const int*>(field);
      const ChoiceList* c = def->choices;
      if (c->count <= 0) return true;  // nothing to choose from: nothing worth keeping
      if (i < 0 || i >= c->count) i = 0;
      return stream_printf(s, "%s=%s\n", def->key, c->texts[i]) > 0;
    }
    case setting_text:
      return stream_printf(s, "%s=%s\n", def->key, static_cast<const char*>(field)) > 0;
    case setting_track: {
      const char* t = *static_cast<const char* const*>(field);
      return stream_printf(s, "%s=%s\n", def->key, t ? t : "") > 0;
    }
  }
  return false;
}

void setup_set_defaults(BikeSetup* setup) {
  std::memset(setup, 0, sizeof *setup);
  for (const SettingDef& d : setup_defs) {
    void* field = setting_value(setup, &d);
    switch (d.kind) {
      case setting_number: *static_cast<double*>(field) = d.default_value; break;
      case setting_choice:
      case setting_integer: *static_cast<int*>(field) = static_cast<int>(d.default_value); break;
      case setting_text: std::snprintf(static_cast<char*>(field), static_cast<size_t>(d.max_length) + 1, "%s", d.default_text); break;
      case setting_track: break;
    }
  }
}

void setup_stability_preset(BikeSetup* setup, double stability) {
  double s = stability * 0.05;
  if (!(s >= 0)) s = 0;  // also catches NaN
  if (s > 5) s = 5;
  int i = static_cast<int>(std::floor(s));
  if (i > 4) i = 4;
  double f = s - i;
  for (const StabilityRow& r : stability_rows) {
    double* v = reinterpret_cast<double*>(reinterpret_cast<char*>(setup) + r.offset);
    *v = r.at[i] + (r.at[i + 1] - r.at[i]) * f;
  }
}

int setup_read_line(BikeSetup* setup, const char* key, const char* value) {
  const SettingDef* def = find_setup_def(key);
  if (!def) return 0;
  if (def->offset == offsetof(BikeSetup, bike)) {
    for (const auto& a : bike_aliases)
      if (std::strcmp(value, a[0]) == 0) value = a[1];
    int bike = setup->bike;
    for (int i = 0; i < bike_menu_count; i++)
      if (std::strcmp(bike_menu_table[i].name, value) == 0) bike = i;
    setup_select_bike(setup, bike);
    return 1;
  }
  if (def->kind == setting_number) {
    double v;
    if (settings_parse_number(value, &v)) {
      double margin = (def->maximum - def->minimum) / 8;
      if (v < def->minimum - margin || v > def->maximum + margin) setup_file_out_of_range = true;
    }
  }
  bool applied = setting_apply_value(setup, def, value);
  if (applied && def->offset == offsetof(BikeSetup, stability)) setup_stability_preset(setup, setup->stability);
  return 1;
}

void setup_select_bike(BikeSetup* setup, int bike) {
  if (bike >= 0 && bike < bike_menu_count) setup->bike = bike;
  if (setup->bike < 0 || setup->bike >= bike_menu_count) setup->bike = 0;
  texture_list_build(&texture_lists[texture_list_bike], bike_menu_table[setup->bike].graphics_prefix);
  setup->bike_texture = 0;
}

bool setup_write(const BikeSetup* setup, Stream* stream) {
  for (const SettingDef& d : setup_defs)
    if (!setting_write_line(setup, &d, stream)) return false;
  return true;
}

bool setup_file_read(BikeSetup* setup, const char* name) {
  return settings_file_read_lines(name, setup_line, setup);
}

bool setup_file_write(const BikeSetup* setup, const char* name) {
  return settings_file_write_atomic(name, setup_write_context, setup);
}

bool settings_file_read_lines(const char* name, SettingsLineFn fn, void* context) {
  Stream* s = stream_open(name, "rb");
  if (!s) return false;
  char line[1024];
  int length = 0;
  bool too_long = false;
  for (;;) {
    int c = stream_getc(s);
    if (c != '\n' && c >= 0) {
      if (length < 1023) line[length++] = static_cast<char>(c);
      else too_long = true;
      continue;
    }
    // A line too long for the buffer is dropped whole: its tail is not a line of its own.
    if (!too_long && length > 0) {
      line[length] = 0;
      while (length > 0 && (line[length - 1] == '\r' || line[length - 1] == '\n')) line[--length] = 0;
      if (char* eq = std::strchr(line, '=')) {
        *eq = 0;
        fn(context, line, eq + 1);
      }
    }
    length = 0;
    too_long = false;
    if (c < 0) break;
  }
  stream_close(s);
  return true;
}

bool settings_file_write_atomic(const char* name, SettingsWriteFn fn, const void* context) {
  char path[4096];
  if (name[0] == '@') {
    if (!data_resolve_write_path(name, path, sizeof path)) return false;
  } else {
    if (std::strlen(name) >= sizeof path) return false;
    std::snprintf(path, sizeof path, "%s", name);
  }
  std::string temp = std::string(path) + ".tmp";
  make_folders_for(path);
  Stream* s = stream_open(temp.c_str(), "wb");
  if (!s) return false;
  bool ok = fn(context, s) && stream_flush(s);
  stream_close(s);
  if (ok) {
    // The rename must not land before the data does, or a crash could leave an empty file.
    int fd = ::open(temp.c_str(), O_RDONLY);
    ok = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0) ::close(fd);
  }
  if (ok) ok = std::rename(temp.c_str(), path) == 0;
  if (!ok) std::remove(temp.c_str());
  return ok;
}
