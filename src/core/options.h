// Command-line options: the parsed values every module reads for the session.
#pragma once

struct Options {
  bool fugly, nosound, novertexarrays, nommx, practice, warp, record_video, editor;
  bool hidden_pause, hidden_hud, accurate_skip, open_home, glfinish, print_orientation;
  int learn;               // -1 not given, 0 "--nolearn", 1 "--learn"
  int debug_level;         // 0, 1 "--debug", 2 "--super-debug"
  int texture_detail;      // -1 when not given; model and ground texture reduction 0..4
  int ground_texture_detail;  // -1 when not given; 0..4
  int roost_frequency;     // -1 when not given; 0..1000
  double erode;            // 0..100, default 0
  double detail;           // ground detail scale; < 0 when not given
  double max_detail_distance;
  double lod_scale;        // 0.000001..1000000, default 1
  double lod_bias;         // default 0
  bool lod_scale_given, lod_bias_given;  // otherwise the settings decide
  double lock_fps;         // 0 = not locked
  double fake_lag;         // s, 0..1
  int fake_loss;           // percent 0..100
  const char* record_audio;   // file name, or null
  int rotate_lineup;
  int width, height;       // -1 when not given (then the settings' xres/yres)
  int depth;               // colour bits, default 16
  int zdepth;              // depth buffer bits, default 16
  int draw_fps, draw_time, draw_ping, draw_render_stats;  // -1 when not given
  const char* track;       // folder name, or null
  const char* connect;     // server address without "kelvane:", or null
  const char* password;
  bool chase_center_given;
  float chase_center[3];
  const char* demo_file;   // the one file name
  // Ours: headless runs a fixed 16 ticks a frame with no window, sound or sleeping.
  bool headless;
  long long quit_after_ticks;  // -1 when not given
  bool quit_after_race;
  int robots;                  // -1 when not given, else 1..160
  int laps;                    // -1 when not given
  bool record_demo;
};

extern Options options;

void options_set_defaults(Options* o);

enum OptionsResult { options_ok = 0, options_error = 1 };
// Parses argv[1..]. On a bad option or value writes the message to err_out (standard error in
// the program) and returns options_error; the program then exits with status 1.
OptionsResult options_parse(Options* o, int argc, const char* const* argv, char* err_out, int err_size);
