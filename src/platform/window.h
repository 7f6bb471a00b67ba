// The game window with its GL context: opening, frames, live mode changes and the SDL front end.
#pragma once
#include "platform/window_modes.h"

struct Frontend;
struct VelkWindow;

// Window flags word: the colour depth in the low byte, 0x200 asks for full screen.
constexpr int velk_depth_mask = 0xff;
constexpr int velk_flag_fullscreen = 0x200;

// Drawable size of the client area in pixels (differs from the window size on HiDPI screens).
struct VelkFrameSize {
  int width, height;
};

// Creates the window with a compatibility-profile GL context and makes it current. A size of
// 0 by 0 means the desktop size. Returns null (the causes are logged) when anything fails.
VelkWindow* velk_window_open(const char* title, int width, int height, int flags, int alpha_bits,
                             int depth_bits, int stencil_bits, int accum_bits);
// Deletes the GL context and destroys the window; restores the desktop mode.
void velk_window_close(VelkWindow* window);

// The size to draw at, or null when the frame must not be drawn: no context, hidden or
// minimised, nothing to draw on, a mode change in progress, or closing. A non-null return must be
// followed by velk_end_frame before the next begin. The record lives as long as the window.
const VelkFrameSize* velk_begin_frame(VelkWindow* window);
// Swaps the buffers; false when no frame was begun or the context is gone.
bool velk_end_frame(VelkWindow* window);

// Asks for full screen at that size (flags with 0x200) or a window with that client size (0 by 0:
// the desktop). The change is carried out between frames, by the next event dispatch or begin.
void velk_request_mode(VelkWindow* window, int width, int height, int flags);
bool velk_window_fullscreen(const VelkWindow* window);

// Handles the waiting window events (size, focus, close) and passes every event on to the input
// layer's hook (window_sdl.h). The input reading calls it; the main loop may call it too.
void velk_window_dispatch(VelkWindow* window);

// Closing the window from its frame (or SIGINT/SIGTERM) sets the close flag and calls the handler.
using VelkCloseFn = void (*)();
void velk_window_set_close_handler(VelkWindow* window, VelkCloseFn fn);
bool velk_window_close_requested(const VelkWindow* window);

// GL entry point by name from the current context's library. Under GLX every name gives a
// non-null pointer, so callers decide features from the extension string first.
void* velk_gl_proc_address(const char* name);

// The window the front end opened; null before window_create and after window_destroy.
extern VelkWindow* game_window;

// Fills the window and GL entries of the front end (window_create, window_destroy, begin_frame,
// end_frame, init_gl, pump_events) and installs SDL's tick clock, its message box and its display
// modes. Call it before anything reads the clock or the mode list.
bool frontend_sdl_install(Frontend* f);
