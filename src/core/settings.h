// User settings: the settings table, the "@config" file, graphics presets, texture choice
// lists and the values the renderer derives from the graphics settings.
#pragma once
#include <cstddef>
#include "bike/setup.h"

struct Session;

// The texts of a choice; lists built at run time (texture lists, video modes) change in place.
struct ChoiceList {
  const char* const* texts;
  int count;
};

enum SettingKind : int {
  setting_integer,  // "%d"; clamped to minimum..maximum
  setting_number,   // "%f"; clamped to minimum..maximum
  setting_choice,   // written and read as the choice text
  setting_text,     // up to max_length characters
  setting_track,    // an interned track folder name
};

// One key of the settings or setup table. The value lives at `offset` in the record the
// table describes (Settings or BikeSetup): int for integers and choices, double for numbers,
// char[max_length + 1] for texts, const char* for the track.
struct SettingDef {
  const char* key;
  SettingKind kind;
  const char* label;        // menu label; null for values without a menu item
  size_t offset;
  double default_value;     // integers, numbers and choice indexes
  double step, minimum, maximum;
  const ChoiceList* choices;
  int max_length;           // texts
  bool refuse_long;         // texts: a longer value is ignored instead of cut
  const char* default_text; // texts and the track
};

constexpr int lineup_gate_count = 40;
constexpr int server_history_count = 16;

struct Settings {
  int xres, yres;                 // windowed client size, 64..16384
  int draw_fps, draw_time, draw_ping;
  int spy;
  const char* track;              // interned folder name of the selected track
  int record;                     // "No", "Yes"
  int skill;                      // "Novice", "Amateur", "Expert"
  double minutes, laps;
  int slots[lineup_gate_count];   // lineup codes 0..4
  double ghost_fade_distance;
  int time_trial_abort;
  int video_mode;                 // index into the video mode choices
  char server_name[128];
  char server_name_hist[server_history_count][127];
  double ground_detail;
  double ground_texture_detail;
  int ground_texture_dim;         // 32 << index texels
  int ground_mipmaps;
  int texture_compress;           // "No", "Yes", "Always"
  int render_texture;             // "Software" .. "Shaders/Direct"
  int use_shader;
  double roost_density;
  int lens_flare, reflections, hide_rider, rigid_camera;
  double model_detail, model_texture_detail;
  double fov;
  double first_person_height, first_person_angle;
  double third_person_height, third_person_distance;
  double volume, comp_volume;
  int playback_mode;              // "Playback Only", "Race Against"
  int billboard_optimize_lookahead;
  int message_lines;              // 0..console ring size
  int demo_backups;
  BikeSetup setup;
};

extern Settings settings;

// The keys written before the setup keys, then those written after them, in file order.
const SettingDef* settings_table_head(int* count);
const SettingDef* settings_table_tail(int* count);
const SettingDef* settings_find(const char* key);
// The value of a table entry inside its record.
inline void* setting_value(void* record, const SettingDef* def) {
  return static_cast<char*>(record) + def->offset;
}

// Every table default, the setup defaults, the stability preset for the default Stability and
// the Compatibility graphics preset (start-up step 6).
void settings_set_defaults(Settings* s);

// The video mode choices ("Default Fullscreen", "Windowed", then "%dx%d" per display mode);
// the window layer installs its list before the settings are read. The texts must outlive it.
void settings_set_video_modes(const char* const* texts, int count);
const ChoiceList* settings_video_modes();

// "@config": a missing file leaves the values as they are. Returns whether the file was read.
bool settings_read();
// Writes "@config" through a temporary file renamed into place; false when anything failed
// (the old file is then untouched).
bool settings_write();
bool settings_read_file(Settings* s, Session* session, const char* name);
bool settings_write_file(const Settings* s, const Session* session, const char* name);
// One "key=value" pair of the settings file; true when the key was known.
bool settings_read_line(Settings* s, Session* session, const char* key, const char* value);

// Graphics presets, in the menu's order.
enum GraphicsPreset : int {
  preset_compatibility = 0,
  preset_high_fps,
  preset_normal,
  preset_high_detail,
  preset_count
};
void graphics_preset_apply(Settings* s, int preset);
// The preset whose twelve values all match, checked Normal, High FPS, Compatibility, High
// Detail; -1 when none does.
int graphics_preset_current(const Settings* s);
// "Current Settings: Normal" and the like, or "Current Settings: Custom".
const char* graphics_preset_label(const Settings* s);

// What the renderer works with, computed once after the settings are read; command-line
// options may replace single values afterwards.
struct DerivedValues {
  double ground_detail_scale;     // 0.125 / ground_detail (at least 1)
  int ground_texture_reduction;   // 0..10
  int ground_texture_size;        // texels, 32..1024
  double model_lod_scale;
  double model_lod_bias;
  int model_texture_reduction;    // 0..10
  int texture_compression;        // the "texture_compress" index
  int roost_rate;
  int reflections;
  bool ground_mipmaps;
};
extern DerivedValues derived_values;
void settings_derive(const Settings* s, DerivedValues* out);

// Texture choices for a prefix: "default" (no file) first, then every "<prefix>word.png".
struct TextureList {
  ChoiceList choices;      // the choice names, interned
  const char** files;      // "@" + the data name (null for "default"), parallel to the names
  int capacity;
};
enum TextureListKind : int {
  texture_list_rider_body = 0,
  texture_list_rider_head,
  texture_list_bike,
  texture_list_wheels,
  texture_list_count
};
extern TextureList texture_lists[texture_list_count];
void texture_list_build(TextureList* list, const char* prefix);
// All four lists for the setup's bike (start-up step 7).
void texture_lists_build_all(const BikeSetup* setup);

// The bike choice in menu order with each model's graphics prefix.
struct BikeMenuEntry {
  const char* name;
  const char* graphics_prefix;
};
constexpr int bike_menu_count = 45;
extern const BikeMenuEntry bike_menu_table[bike_menu_count];
extern const ChoiceList bike_choices;
