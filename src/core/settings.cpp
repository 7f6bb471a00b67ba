// The settings table and "@config": defaults, reading, writing in the fixed order, presets.
#include "core/settings.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "core/bindings.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/session.h"
#include "core/setup_file.h"
#include "resources/stream.h"

Settings settings;
DerivedValues derived_values;

namespace {

const char* const no_yes_texts[] = {"No", "Yes"};
const char* const skill_texts[] = {"Novice", "Amateur", "Expert"};
const char* const slot_texts[] = {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"};
const char* const dim_texts[] = {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"};
const char* const compress_texts[] = {"No", "Yes", "Always"};
const char* const render_texts[] = {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy", "Shaders/Direct"};
const char* const playback_texts[] = {"Playback Only", "Race Against"};
const char* const default_video_modes[] = {"Default Fullscreen", "Windowed"};

const ChoiceList no_yes = {no_yes_texts, 2};
const ChoiceList skill_choices = {skill_texts, 3};
const ChoiceList slot_choices = {slot_texts, 5};
const ChoiceList dim_choices = {dim_texts, 6};
const ChoiceList compress_choices = {compress_texts, 3};
const ChoiceList render_choices = {render_texts, 5};
const ChoiceList playback_choices = {playback_texts, 2};
ChoiceList video_mode_choices = {default_video_modes, 2};

constexpr double any_min = INT_MIN;
constexpr double any_max = INT_MAX;

#define S_INT(key, field, def, lo, hi) \
  {key, setting_integer, nullptr, offsetof(Settings, field), def, 1, lo, hi, nullptr, 0, false, nullptr}
#define S_NUMBER(key, label, field, def, step, lo, hi) \
  {key, setting_number, label, offsetof(Settings, field), def, step, lo, hi, nullptr, 0, false, nullptr}
#define S_CHOICE(key, label, field, list, def) \
  {key, setting_choice, label, offsetof(Settings, field), def, 0, 0, 0, list, 0, false, nullptr}

char slot_keys[lineup_gate_count][8];
char slot_labels[lineup_gate_count][12];
char history_keys[server_history_count][24];

SettingDef head_defs[11 + lineup_gate_count + 2];
SettingDef tail_defs[2 + server_history_count + 25];
int head_count = 0;
int tail_count = 0;

void build_tables() {
  if (head_count) return;
  const SettingDef head_start[] = {
      S_INT("xres", xres, 640, 64, 16384),
      S_INT("yres", yres, 480, 64, 16384),
      S_INT("draw_fps", draw_fps, 0, any_min, any_max),
      S_INT("draw_time", draw_time, 0, any_min, any_max),
      S_INT("draw_ping", draw_ping, 1, any_min, any_max),
      S_INT("spy", spy, 0, any_min, any_max),
      {"track", setting_track, nullptr, offsetof(Settings, track), 0, 0, 0, 0, nullptr, 0, false, "rabbithill"},
      S_CHOICE("record", "Record Demo", record, &no_yes, 0),
      S_CHOICE("skill", "Robot Skill", skill, &skill_choices, 0),
      S_NUMBER("minutes", "Minutes", minutes, 0, 1, 0, 60),
      S_NUMBER("laps", "Laps", laps, 5, 1, 0, 50),
  };
  for (const SettingDef& d : head_start) head_defs[head_count++] = d;
  for (int i = 0; i < lineup_gate_count; i++) {
    std::snprintf(slot_keys[i], sizeof slot_keys[i], "slot%02d", i);
    std::snprintf(slot_labels[i], sizeof slot_labels[i], "Gate %d", i + 1);
    head_defs[head_count++] = SettingDef{slot_keys[i], setting_choice, slot_labels[i],
                                         offsetof(Settings, slots) + sizeof(int) * static_cast<size_t>(i),
                                         0, 0, 0, 0, &slot_choices, 0, false, nullptr};
  }
  head_defs[head_count++] = S_NUMBER("ghost_fade_distance", "Ghost Fade Distance", ghost_fade_distance, 10, 1, 0, 40);
  head_defs[head_count++] = S_CHOICE("time_trial_abort", "Backing Up Aborts Attempt", time_trial_abort, &no_yes, 1);

  tail_defs[tail_count++] = S_CHOICE("video_mode", "Video Mode", video_mode, &video_mode_choices, 0);
  tail_defs[tail_count++] = SettingDef{"server_name", setting_text, "Server", offsetof(Settings, server_name),
                                       0, 0, 0, 0, nullptr, 127, false, "localhost"};
  for (int i = 0; i < server_history_count; i++) {
    std::snprintf(history_keys[i], sizeof history_keys[i], "server_name_hist%02d", i);
    tail_defs[tail_count++] = SettingDef{history_keys[i], setting_text, nullptr,
                                         offsetof(Settings, server_name_hist) + 127 * static_cast<size_t>(i),
                                         0, 0, 0, 0, nullptr, 126, true, ""};
  }
  const SettingDef tail_rest[] = {
      S_NUMBER("ground_detail", "Ground Geometric Detail", ground_detail, 70, 1, 0, 100),
      S_NUMBER("ground_texture_detail", "Ground Texture Levels", ground_texture_detail, 9, 1, 0, 10),
      S_CHOICE("ground_texture_dim", "Ground Texture Resolution", ground_texture_dim, &dim_choices, 1),
      S_CHOICE("ground_mipmaps", "Enable Ground Mipmaps", ground_mipmaps, &no_yes, 1),
      S_CHOICE("texture_compress", "Compress Textures", texture_compress, &compress_choices, 0),
      S_CHOICE("render_texture", "Terrain Rendering Method", render_texture, &render_choices, 0),
      S_CHOICE("use_shader", "Use Shader Programs", use_shader, &no_yes, 1),
      S_NUMBER("roost_density", "Roost Density", roost_density, 1000, 10, 0, 1000),
      S_CHOICE("lens_flare", "Enable Lens Flares", lens_flare, &no_yes, 1),
      S_CHOICE("reflections", "Enable Reflections", reflections, &no_yes, 1),
      S_CHOICE("hide_rider", "Hide 1st Person Rider", hide_rider, &no_yes, 0),
      S_CHOICE("rigid_camera", "Rigid 3rd person camera", rigid_camera, &no_yes, 0),
      S_NUMBER("model_detail", "Model Geometric Detail", model_detail, 50, 1, 0, 100),
      S_NUMBER("model_texture_detail", "Model Texture Detail", model_texture_detail, 9, 1, 0, 10),
      S_NUMBER("fov", "Field Of View", fov, 110, 1, 10, 170),
      S_NUMBER("first_person_height", "1st Person Height", first_person_height, 0, 0.03125, 0, 1),
      S_NUMBER("first_person_angle", "1st Person Angle", first_person_angle, 0, 1, 0, 40),
      S_NUMBER("third_person_height", "3rd Person Height", third_person_height, 5, 1, 0, 20),
      S_NUMBER("third_person_distance", "3rd Person Distance", third_person_distance, 10, 1, 5, 40),
      S_NUMBER("volume", "Volume", volume, 10, 1, 0, 10),
      S_NUMBER("comp_volume", "Competitor Volume", comp_volume, 8, 1, 0, 10),
      S_CHOICE("playback_mode", "Playback Mode", playback_mode, &playback_choices, 0),
      S_INT("billboard_optimize_lookahead", billboard_optimize_lookahead, 8, any_min, any_max),
      // The console ring is all there is to show.
      S_INT("message_lines", message_lines, 5, 0, console_ring_size),
      S_INT("demo_backups", demo_backups, 0, any_min, any_max),
  };
  for (const SettingDef& d : tail_rest) tail_defs[tail_count++] = d;
}

// The values each graphics preset sets, in the order of the preset table.
struct PresetValues {
  double ground_detail, ground_texture_detail;
  int ground_texture_dim, ground_mipmaps, texture_compress, render_texture, use_shader;
  double model_detail, model_texture_detail;
  int lens_flare, reflections;
  double roost_density;
};
const PresetValues presets[preset_count] = {
    {70, 9, 1, 1, 0, 0, 1, 50, 9, 1, 1, 1000},  // Compatibility
    {50, 7, 1, 1, 1, 2, 0, 25, 7, 0, 0, 0},     // High FPS
    {70, 9, 2, 1, 1, 4, 1, 50, 9, 1, 1, 1000},  // Normal
    {90, 10, 3, 1, 0, 4, 1, 75, 10, 1, 1, 1000},  // High Detail
};
const char* const preset_labels[preset_count] = {
    "Current Settings: Compatibility", "Current Settings: High FPS", "Current Settings: Normal",
    "Current Settings: High Detail"};

bool preset_matches(const Settings* s, const PresetValues& p) {
  return s->ground_detail == p.ground_detail && s->ground_texture_detail == p.ground_texture_detail &&
         s->ground_texture_dim == p.ground_texture_dim && s->ground_mipmaps == p.ground_mipmaps &&
         s->texture_compress == p.texture_compress && s->render_texture == p.render_texture &&
         s->use_shader == p.use_shader && s->model_detail == p.model_detail &&
         s->model_texture_detail == p.model_texture_detail && s->lens_flare == p.lens_flare &&
         s->reflections == p.reflections && s->roost_density == p.roost_density;
}

void set_default(Settings* s, const SettingDef& d) {
  void* field = setting_value(s, &d);
  switch (d.kind) {
    case setting_integer:
    case setting_choice: *static_cast<int*>(field) = static_cast<int>(d.default_value); break;
    case setting_number: *static_cast<double*>(field) = d.default_value; break;
    case setting_text: std::snprintf(static_cast<char*>(field), static_cast<size_t>(d.max_length) + 1, "%s", d.default_text); break;
    case setting_track: *static_cast<const char**>(field) = intern_string(d.default_text); break;
  }
}

struct ReadContext {
  Settings* settings;
  Session* session;
};

void read_line(void* context, const char* key, const char* value) {
  ReadContext* c = static_cast<ReadContext*>(context);
  settings_read_line(c->settings, c->session, key, value);
}

struct WriteContext {
  const Settings* settings;
  const Session* session;
};

bool write_all(const void* context, Stream* stream) {
  const WriteContext* c = static_cast<const WriteContext*>(context);
  for (int i = 0; i < head_count; i++)
    if (!setting_write_line(c->settings, &head_defs[i], stream)) return false;
  if (!setup_write(&c->settings->setup, stream)) return false;
  for (int i = 0; i < tail_count; i++)
    if (!setting_write_line(c->settings, &tail_defs[i], stream)) return false;
  return bindings_write(c->session, stream);
}

}  // namespace

const SettingDef* settings_table_head(int* count) {
  build_tables();
  *count = head_count;
  return head_defs;
}

const SettingDef* settings_table_tail(int* count) {
  build_tables();
  *count = tail_count;
  return tail_defs;
}

const SettingDef* settings_find(const char* key) {
  build_tables();
  for (int i = 0; i < head_count; i++)
    if (std::strcmp(head_defs[i].key, key) == 0) return &head_defs[i];
  for (int i = 0; i < tail_count; i++)
    if (std::strcmp(tail_defs[i].key, key) == 0) return &tail_defs[i];
  return nullptr;
}

void settings_set_defaults(Settings* s) {
  build_tables();
  std::memset(s, 0, sizeof *s);
  for (int i = 0; i < head_count; i++) set_default(s, head_defs[i]);
  for (int i = 0; i < tail_count; i++) set_default(s, tail_defs[i]);
  setup_set_defaults(&s->setup);
  setup_stability_preset(&s->setup, s->setup.stability);
  graphics_preset_apply(s, preset_compatibility);
}

void settings_set_video_modes(const char* const* texts, int count) {
  if (!texts || count <= 0) {
    video_mode_choices = ChoiceList{default_video_modes, 2};
  } else {
    video_mode_choices = ChoiceList{texts, count};
  }
  if (settings.video_mode >= video_mode_choices.count) settings.video_mode = 0;
}

const ChoiceList* settings_video_modes() { return &video_mode_choices; }

bool settings_read_line(Settings* s, Session* session, const char* key, const char* value) {
  if (setup_read_line(&s->setup, key, value)) return true;
  if (const SettingDef* def = settings_find(key)) {
    setting_apply_value(s, def, value);
    return true;
  }
  if (session) {
    if (KeyBinding* b = bindings_find(session, key)) {
      binding_parse(b, value);
      return true;
    }
  }
  if (std::strcmp(key, "use_fbo") == 0) {
    // An older switch that chose between the two hardware methods.
    if (std::strcmp(value, "No") == 0) s->render_texture = 1;
    else if (std::strcmp(value, "Yes") == 0) s->render_texture = 2;
    return true;
  }
  return std::strcmp(key, "ground_texture_distance") == 0;
}

bool settings_read_file(Settings* s, Session* session, const char* name) {
  ReadContext c{s, session};
  bool read = settings_file_read_lines(name, read_line, &c);
  console_message_lines = s->message_lines;
  return read;
}

bool settings_write_file(const Settings* s, const Session* session, const char* name) {
  build_tables();
  WriteContext c{s, session};
  return settings_file_write_atomic(name, write_all, &c);
}

bool settings_read() { return settings_read_file(&settings, &session, "@config"); }
bool settings_write() { return settings_write_file(&settings, &session, "@config"); }

void graphics_preset_apply(Settings* s, int preset) {
  if (preset < 0 || preset >= preset_count) return;
  const PresetValues& p = presets[preset];
  s->ground_detail = p.ground_detail;
  s->ground_texture_detail = p.ground_texture_detail;
  s->ground_texture_dim = p.ground_texture_dim;
  s->ground_mipmaps = p.ground_mipmaps;
  s->texture_compress = p.texture_compress;
  s->render_texture = p.render_texture;
  s->use_shader = p.use_shader;
  s->model_detail = p.model_detail;
  s->model_texture_detail = p.model_texture_detail;
  s->lens_flare = p.lens_flare;
  s->reflections = p.reflections;
  s->roost_density = p.roost_density;
}

int graphics_preset_current(const Settings* s) {
  static const int order[] = {preset_normal, preset_high_fps, preset_compatibility, preset_high_detail};
  for (int p : order)
    if (preset_matches(s, presets[p])) return p;
  return -1;
}

const char* graphics_preset_label(const Settings* s) {
  int p = graphics_preset_current(s);
  return p < 0 ? "Current Settings: Custom" : preset_labels[p];
}

void settings_derive(const Settings* s, DerivedValues* out) {
  auto clamp = [](double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; };
  // The detail is a divisor; the menu's 0 would make the ground scale infinite.
  out->ground_detail_scale = 0.125 / (s->ground_detail < 1 ? 1 : s->ground_detail);
  out->ground_texture_reduction = static_cast<int>(clamp(10 - s->ground_texture_detail, 0, 10));
  int dim = s->ground_texture_dim < 0 ? 0 : s->ground_texture_dim > 5 ? 5 : s->ground_texture_dim;
  out->ground_texture_size = 32 << dim;
  double lod = clamp(100 - s->model_detail, 0, 100) * 0.02;
  out->model_lod_scale = lod > 1 ? lod * lod * lod : lod;
  out->model_lod_bias = 50 - 50 * clamp((s->model_detail - 10) * 0.05, 0, 1);
  out->model_texture_reduction = static_cast<int>(clamp(10 - s->model_texture_detail, 0, 10));
  out->texture_compression = s->texture_compress;
  out->roost_rate = static_cast<int>(s->roost_density);
  out->reflections = s->reflections;
  out->ground_mipmaps = s->ground_mipmaps != 0;
}
