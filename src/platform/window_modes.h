// Display modes: the cached mode list, the desktop size, the full-screen fit and the video mode choices.
#pragma once

struct VelkDisplayMode {
  int width, height;  // pixels
  int depth;          // bits per pixel
  int refresh;        // Hz, 0 when unknown; only logged
};

// Where the mode list comes from. The SDL window layer installs one; without one (the headless
// run, the tests) the list is empty and the desktop is 640 by 480.
struct VelkModeSource {
  int (*count)();                                  // reported modes, < 0 when unknown
  bool (*get)(int index, VelkDisplayMode* mode);   // false skips that index
  bool (*desktop)(VelkDisplayMode* mode);          // false when the system cannot report it
};
void velk_set_display_mode_source(const VelkModeSource* source);

// The cached list, built on first use; it ends with an all-zero entry. Lives until exit.
const VelkDisplayMode* velk_display_modes();
void velk_desktop_size(int* width, int* height);

// Builds a list from a desktop mode (null when unknown) and the reported modes, logging each
// one. out needs room for count + 2 entries. Returns the number of entries before the zero one.
int velk_build_mode_list(const VelkDisplayMode* desktop, const VelkDisplayMode* reported, int count,
                         VelkDisplayMode* out);

// The full-screen size for a request of width by height: the listed mode at least that large
// that wastes the least (width + height over the request); the desktop size when the request is
// 0 by 0 or nothing fits.
void velk_fullscreen_fit(const VelkDisplayMode* list, int width, int height, int desktop_width,
                         int desktop_height, int* out_width, int* out_height);

// The "video_mode" choices: "Default Fullscreen" and "Windowed" (size 0 by 0), then "%dx%d" for
// every listed mode of the first entry's depth, in list order. Texts are interned.
struct VelkVideoModeChoice {
  const char* name;
  int width, height;
};
// Fills at most max entries of out and returns how many there are in all.
int velk_video_mode_choices(const VelkDisplayMode* list, VelkVideoModeChoice* out, int max);

// The choices for the cached mode list, built once on first use (after that the list is fixed):
// the records and their names side by side, for settings_set_video_modes and the menus.
const VelkVideoModeChoice* velk_video_mode_list(int* count);
const char* const* velk_video_mode_names(int* count);

// Tests only: forget the cached list so the next call builds it from the current source.
void velk_display_modes_reset_for_tests();
