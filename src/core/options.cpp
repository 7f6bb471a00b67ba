// The command-line option table and its parser.
#include "core/options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"

Options options;

void options_set_defaults(Options* o) {
  *o = Options{};
  o->learn = -1;
  o->texture_detail = -1;
  o->ground_texture_detail = -1;
  o->roost_frequency = -1;
  o->detail = -1;
  o->lod_scale = 1;
  o->width = -1;
  o->height = -1;
  o->depth = 16;
  o->zdepth = 16;
  o->draw_fps = o->draw_time = o->draw_ping = o->draw_render_stats = -1;
  o->quit_after_ticks = -1;
  o->robots = -1;
  o->laps = -1;
}

namespace {

enum ValueKind { no_value, int_value, number_value, text_value, any_value };

struct Parser {
  Options* o;
  char* err;
  int err_size;
  bool failed;
};

// Each entry handles its own value; returns false for a bad value.
using Apply = bool (*)(Options* o, const char* value);

struct OptionDef {
  const char* name;
  ValueKind kind;
  Apply apply;
};

bool read_int(const char* v, long long* out) {
  if (!v) return false;
  char* end = nullptr;
  long long x = strtoll(v, &end, 10);
  if (end == v) return false;
  *out = x;
  return true;
}

// A number must start the value and be finite: "nan" or "inf" would poison every later use.
bool read_number(const char* v, double* out) {
  if (!v) return false;
  char* end = nullptr;
  double x = strtod(v, &end);
  if (end == v || !std::isfinite(x)) return false;
  *out = x;
  return true;
}

template <typename T>
T clampv(T v, T lo, T hi) { return v < lo ? lo : v > hi ? hi : v; }

int clamp_int(long long v, long long lo, long long hi) { return static_cast<int>(clampv(v, lo, hi)); }

#define FLAG(field) [](Options* o, const char*) { o->field = true; return true; }

const OptionDef option_table[] = {
    {"--fugly", no_value, FLAG(fugly)},
    {"--nosound", no_value, FLAG(nosound)},
    {"--novertexarrays", no_value, FLAG(novertexarrays)},
    {"--learn", no_value, [](Options* o, const char*) { o->learn = 1; return true; }},
    {"--nolearn", no_value, [](Options* o, const char*) { o->learn = 0; return true; }},
    {"--nommx", no_value, FLAG(nommx)},
    {"--debug", no_value, [](Options* o, const char*) { o->debug_level = 1; return true; }},
    {"--super-debug", no_value, [](Options* o, const char*) { o->debug_level = 2; return true; }},
    {"--practice", no_value, FLAG(practice)},
    {"--warp", no_value, FLAG(warp)},
    {"--texture-detail", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->texture_detail = clamp_int(x, 0, 4);
       o->ground_texture_detail = o->texture_detail;
       return true; }},
    {"--ground-texture-detail", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->ground_texture_detail = clamp_int(x, 0, 4);
       return true; }},
    {"--roostfrequency", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->roost_frequency = clamp_int(x, 0, 1000);
       return true; }},
    {"--erode", number_value, [](Options* o, const char* v) {
       double x;
       if (!read_number(v, &x)) return false;
       o->erode = clampv(x, 0.0, 100.0);
       return true; }},
    {"--detail", number_value, [](Options* o, const char* v) { return read_number(v, &o->detail); }},
    {"--max-detail-distance", number_value, [](Options* o, const char* v) { return read_number(v, &o->max_detail_distance); }},
    {"--lod-scale", number_value, [](Options* o, const char* v) {
       double x;
       if (!read_number(v, &x)) return false;
       o->lod_scale = clampv(x, 0.000001, 1000000.0);
       o->lod_scale_given = true;
       return true; }},
    {"--lod-bias", number_value, [](Options* o, const char* v) {
       o->lod_bias_given = true;
       return read_number(v, &o->lod_bias); }},
    {"--lock-fps", number_value, [](Options* o, const char* v) { return read_number(v, &o->lock_fps); }},
    {"--fake-lag", number_value, [](Options* o, const char* v) {
       double x;
       if (!read_number(v, &x)) return false;
       o->fake_lag = clampv(x / 1000.0, 0.0, 1.0);
       return true; }},
    {"--fake-loss", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->fake_loss = clamp_int(x, 0, 100);
       return true; }},
    {"--record-audio", text_value, [](Options* o, const char* v) { o->record_audio = intern_string(v); return true; }},
    {"--record-video", no_value, FLAG(record_video)},
    {"--rotate-lineup", text_value, [](Options* o, const char* v) { o->rotate_lineup = atoi(v); return true; }},
    {"--editor", no_value, FLAG(editor)},
    {"--hidden-pause", no_value, FLAG(hidden_pause)},
    {"--hidden-hud", no_value, FLAG(hidden_hud)},
    {"--bikes", any_value, [](Options*, const char*) {
       fprintf(stderr, "--bikes doesn't do anything anymore\n");
       return true; }},
    // A window size outside 64..16384 would be written into the settings and break every start.
    {"--width", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || x < 64 || x > 16384) return false;
       o->width = static_cast<int>(x);
       return true; }},
    {"--height", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || x < 64 || x > 16384) return false;
       o->height = static_cast<int>(x);
       return true; }},
    {"--depth", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || (x != 8 && x != 15 && x != 16 && x != 24 && x != 32)) return false;
       o->depth = static_cast<int>(x);
       return true; }},
    {"--zdepth", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || x < 0 || x > 32) return false;
       o->zdepth = static_cast<int>(x);
       return true; }},
    {"--draw-fps", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->draw_fps = clamp_int(x, -1000000, 1000000);
       return true; }},
    {"--draw-time", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->draw_time = clamp_int(x, -1000000, 1000000);
       return true; }},
    {"--draw-ping", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->draw_ping = clamp_int(x, -1000000, 1000000);
       return true; }},
    {"--draw-render-stats", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x)) return false;
       o->draw_render_stats = clamp_int(x, -1000000, 1000000);
       return true; }},
    {"--accurate-skip", no_value, FLAG(accurate_skip)},
    {"--track", text_value, [](Options* o, const char* v) { o->track = intern_string(v); return true; }},
    {"--connect", text_value, [](Options* o, const char* v) {
       if (strncmp(v, "kelvane:", 8) == 0) v += 8;
       o->connect = intern_string(v);
       return true; }},
    {"--password", text_value, [](Options* o, const char* v) { o->password = intern_string(v); return true; }},
    {"--chase-center", text_value, [](Options* o, const char* v) {
       double x[3];
       const char* p = v;
       for (int i = 0; i < 3; ++i) {
         char* end = nullptr;
         x[i] = strtod(p, &end);
         if (end == p || !std::isfinite(x[i])) return false;
         p = end;
         if (i < 2) {
           if (*p != ',') return false;
           ++p;
         }
       }
       for (int i = 0; i < 3; ++i) o->chase_center[i] = static_cast<float>(x[i]);
       o->chase_center_given = true;
       return true; }},
    {"--open-home", no_value, FLAG(open_home)},
    {"--glfinish", no_value, FLAG(glfinish)},
    {"--print-orientation", no_value, FLAG(print_orientation)},
    // Ours, for headless runs and tests.
    {"--headless", no_value, FLAG(headless)},
    {"--quit-after-ticks", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || x < 0) return false;
       o->quit_after_ticks = x;
       return true; }},
    {"--quit-after-race", no_value, FLAG(quit_after_race)},
    {"--robots", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || x < 1 || x > 160) return false;
       o->robots = static_cast<int>(x);
       return true; }},
    {"--laps", int_value, [](Options* o, const char* v) {
       long long x;
       if (!read_int(v, &x) || x < 0 || x > 1000000) return false;
       o->laps = static_cast<int>(x);
       return true; }},
    {"--record-demo", no_value, FLAG(record_demo)},
};

#undef FLAG

void fail(Parser* p, const char* format, const char* text) {
  if (p->err && p->err_size > 0) snprintf(p->err, static_cast<size_t>(p->err_size), format, text);
  p->failed = true;
}

}  // namespace

OptionsResult options_parse(Options* o, int argc, const char* const* argv, char* err_out, int err_size) {
  Parser p{o, err_out, err_size, false};
  if (err_out && err_size > 0) err_out[0] = 0;
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_ended && strcmp(arg, "--") == 0) {
      options_ended = true;
      continue;
    }
    const OptionDef* match = nullptr;
    const char* value = nullptr;
    bool has_inline = false;
    if (!options_ended) {
      for (const OptionDef& def : option_table) {
        size_t n = strlen(def.name);
        if (strncmp(arg, def.name, n) != 0) continue;
        if (arg[n] == 0) {
          match = &def;
          break;
        }
        if (arg[n] == '=' && def.kind != no_value) {
          match = &def;
          value = arg + n + 1;
          has_inline = true;
          break;
        }
      }
    }
    if (match) {
      if (match->kind != no_value && !has_inline) {
        if (i + 1 < argc) value = argv[++i];
      }
      if (match->kind != no_value && !value) {
        // "--track" with nothing after it means no track; every other value is required.
        if (strcmp(match->name, "--track") == 0) {
          o->track = nullptr;
          continue;
        }
        if (match->kind == any_value) {
          match->apply(o, "");
          continue;
        }
        fail(&p, "Bad arg for %s\n", match->name);
        return options_error;
      }
      if (!match->apply(o, value)) {
        fail(&p, "Bad arg for %s\n", match->name);
        return options_error;
      }
      continue;
    }
    if (!options_ended && arg[0] == '-') {
      fail(&p, "bad option '%s'\n", arg);
      return options_error;
    }
    if (o->demo_file) {
      fail(&p, "%s", "Too many files!\n");
      return options_error;
    }
    o->demo_file = intern_string(arg);
  }
  if (o->connect) o->track = nullptr;
  return options_ok;
}
