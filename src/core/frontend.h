// What the main loop needs from the window, GL, sound, menus and the renderer. The headless run
// and the tests leave every entry null; the game fills them when it has a window.
#pragma once

struct FrameSize {
  int width, height;
};

struct Frontend {
  // Creates the window and GL context; false ends start-up with status 1.
  bool (*window_create)(const char* title, int width, int height, int depth, bool fullscreen,
                        int depth_bits);
  void (*window_destroy)();
  bool (*begin_frame)(FrameSize* size);  // false: not drawable now
  bool (*end_frame)();                   // false: the swap failed
  bool (*audio_open)();
  void (*audio_close)();
  void (*audio_update)();
  bool (*init_gl)();                     // capabilities, shaders, GL state, fonts, HUD textures
  void (*draw_frame)(const FrameSize* size);
  // The frame buffer as RGB bytes, rows from the bottom (as GL reads them back).
  bool (*read_frame)(int width, int height, unsigned char* rgb);
  void (*pump_events)();
};

extern Frontend frontend;
