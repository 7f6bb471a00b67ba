// The game window on SDL2: display modes, the GL context, frames, mode changes and window events.
#include "platform/window_sdl.h"

#include <SDL.h>

#include <cstdlib>

#include "core/memory.h"
#include "platform/log.h"

struct VelkWindow {
  SDL_Window* sdl;
  SDL_GLContext gl;
  int requested_width, requested_height;  // as asked on the last open or mode request
  int client_width, client_height;        // drawable pixels from the last size event
  int depth;                              // colour bits from the flags
  int fullscreen_width, fullscreen_height;
  bool may_fullscreen;
  bool fullscreen;
  bool busy;         // a display change is being carried out
  bool close_flag;
  bool in_frame;     // between a non-null begin and its end: the frame lock is held
  bool mode_pending;
  int pending_width, pending_height, pending_flags;
  bool input_open;
  void* input;
  VelkCloseFn on_close;
  VelkFrameSize frame;
};

namespace {

const VelkInputHooks* input_hooks = nullptr;
bool options_read = false;
bool mode_source_installed = false;

bool video_init() {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    velk_log("Can't initialise video: %s\n", SDL_GetError());
    return false;
  }
  return true;
}

// The mode list is built on first use; video starts then, not when the source is installed, so
// that nothing before the window needs a display.
int mode_video = 0;  // 0 not tried, 1 up, -1 failed

bool mode_video_up() {
  if (mode_video == 0) mode_video = video_init() ? 1 : -1;
  return mode_video > 0;
}

int sdl_mode_count() {
  return mode_video_up() ? SDL_GetNumDisplayModes(0) : -1;
}

bool sdl_mode_get(int index, VelkDisplayMode* mode) {
  SDL_DisplayMode m;
  if (!mode_video_up() || SDL_GetDisplayMode(0, index, &m) != 0) return false;
  *mode = VelkDisplayMode{m.w, m.h, static_cast<int>(SDL_BITSPERPIXEL(m.format)), m.refresh_rate};
  return true;
}

bool sdl_mode_desktop(VelkDisplayMode* mode) {
  SDL_DisplayMode m;
  if (!mode_video_up() || SDL_GetDesktopDisplayMode(0, &m) != 0) return false;
  *mode = VelkDisplayMode{m.w, m.h, static_cast<int>(SDL_BITSPERPIXEL(m.format)), m.refresh_rate};
  return true;
}

const VelkModeSource sdl_mode_source = {sdl_mode_count, sdl_mode_get, sdl_mode_desktop};

void colour_sizes(int depth, int* r, int* g, int* b) {
  switch (depth == 32 ? 24 : depth) {
    case 8: *r = 3, *g = 3, *b = 2; break;
    case 15: *r = 5, *g = 5, *b = 5; break;
    case 16: *r = 5, *g = 6, *b = 5; break;
    case 24: *r = 8, *g = 8, *b = 8; break;
    default: *r = *g = *b = 0; break;  // let the driver choose
  }
}

void request_close(VelkWindow* w) {
  if (w->close_flag) return;
  w->close_flag = true;
  if (w->on_close) w->on_close();
}

void store_drawable_size(VelkWindow* w) {
  int dw = 0, dh = 0;
  SDL_GL_GetDrawableSize(w->sdl, &dw, &dh);
  w->client_width = dw;
  w->client_height = dh;
}

// Full screen at the listed mode that fits width by height best; the desktop itself is kept
// without a mode change.
bool switch_display(VelkWindow* w, int width, int height) {
  int dw, dh, fw, fh;
  velk_desktop_size(&dw, &dh);
  velk_fullscreen_fit(velk_display_modes(), width, height, dw, dh, &fw, &fh);
  w->fullscreen_width = fw;
  w->fullscreen_height = fh;
  int rc;
  if (fw == dw && fh == dh) {
    rc = SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
  } else {
    // Format and refresh rate 0: SDL keeps the desktop's.
    SDL_DisplayMode mode = {0, fw, fh, 0, nullptr};
    rc = SDL_SetWindowDisplayMode(w->sdl, &mode);
    if (rc == 0) {
      SDL_SetWindowSize(w->sdl, fw, fh);
      rc = SDL_SetWindowFullscreen(w->sdl, SDL_WINDOW_FULLSCREEN);
    }
  }
  if (rc != 0) {
    velk_log("Can't switch the display to %dx%d: %s\n", fw, fh, SDL_GetError());
    SDL_SetWindowFullscreen(w->sdl, 0);
    return false;
  }
  return true;
}

void go_windowed(VelkWindow* w, int width, int height) {
  w->fullscreen = false;
  SDL_SetWindowFullscreen(w->sdl, 0);
  if (width <= 0 || height <= 0) velk_desktop_size(&width, &height);
  SDL_SetWindowBordered(w->sdl, SDL_TRUE);
  SDL_SetWindowResizable(w->sdl, SDL_TRUE);
  SDL_SetWindowSize(w->sdl, width, height);
  SDL_SetWindowPosition(w->sdl, 0, 0);
  SDL_ShowWindow(w->sdl);
}

// Mode changes never happen inside a frame: they wait for the frame to end.
void apply_pending_mode(VelkWindow* w) {
  if (!w->mode_pending || w->in_frame) return;
  w->mode_pending = false;
  w->busy = true;
  w->requested_width = w->pending_width;
  w->requested_height = w->pending_height;
  if (w->pending_flags & velk_flag_fullscreen) {
    if (w->may_fullscreen && switch_display(w, w->pending_width, w->pending_height)) {
      SDL_ShowWindow(w->sdl);
      SDL_RaiseWindow(w->sdl);
      w->fullscreen = true;
    }
  } else {
    go_windowed(w, w->pending_width, w->pending_height);
  }
  store_drawable_size(w);
  w->busy = false;
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// SDL's video start reaches libdbus, which keeps a buffer it never frees; that is not ours to
// report in sanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}
#endif

uint64_t velk_sdl_ticks() {
  return SDL_GetTicks64();
}

void velk_sdl_install_mode_source() {
  if (mode_source_installed) return;
  mode_source_installed = true;
  // Without video (no display) the list stays empty and the desktop is 640 by 480.
  velk_set_display_mode_source(&sdl_mode_source);
}

void velk_set_input_hooks(const VelkInputHooks* hooks) {
  input_hooks = hooks;
}

VelkWindow* velk_window_open(const char* title, int width, int height, int flags, int alpha_bits,
                             int depth_bits, int stencil_bits, int accum_bits) {
  if (!options_read) {
    options_read = true;
    int threaded = velk_option_bool("threaded", 0);
    velk_log("Options:\n");
    velk_log("%10s [%s]\n", "threaded:", threaded ? "on" : "off");
    // SDL wants its events pumped on the thread that made the window, so that is where it runs.
    if (threaded) velk_log("The window runs on the main thread\n");
  }
  velk_sdl_install_mode_source();
  if (!video_init()) {
    velk_error("Can't create window!\n");
    return nullptr;
  }
  VelkWindow* w = static_cast<VelkWindow*>(xcalloc(1, sizeof(VelkWindow)));
  w->depth = flags & velk_depth_mask;
  w->may_fullscreen = true;
  w->requested_width = width;
  w->requested_height = height;
  bool full = (flags & velk_flag_fullscreen) != 0;

  int dw, dh;
  velk_desktop_size(&dw, &dh);
  int cw = width, ch = height;
  if (cw <= 0 || ch <= 0) cw = dw, ch = dh;
  if (full) {
    velk_fullscreen_fit(velk_display_modes(), width > 0 ? width : 0, height > 0 ? height : 0, dw, dh,
                        &w->fullscreen_width, &w->fullscreen_height);
    cw = w->fullscreen_width;
    ch = w->fullscreen_height;
  }

  SDL_GL_ResetAttributes();
  int r, g, b;
  colour_sizes(w->depth, &r, &g, &b);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, r);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, g);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, b);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, alpha_bits > 0 ? alpha_bits : 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth_bits > 0 ? depth_bits : 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, stencil_bits > 0 ? stencil_bits : 0);
  int accum = accum_bits > 0 ? accum_bits / 4 : 0;
  SDL_GL_SetAttribute(SDL_GL_ACCUM_RED_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_GREEN_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_BLUE_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_ACCUM_ALPHA_SIZE, accum);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  // The renderer is fixed-function GL with ARB extensions: never a core profile.
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);

  velk_log("Creating window\n");
  velk_log("Choosing pixel format\n");
  Uint32 window_flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALLOW_HIGHDPI | SDL_WINDOW_HIDDEN;
  if (!full) window_flags |= SDL_WINDOW_RESIZABLE;
  w->sdl = SDL_CreateWindow(title ? title : "", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, cw,
                            ch, window_flags);
  if (!w->sdl) {
    velk_log("SDL: %s\n", SDL_GetError());
    velk_error("Can't create window!\n");
    free(w);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  if (full) {
    if (switch_display(w, width > 0 ? width : 0, height > 0 ? height : 0))
      w->fullscreen = true;
  }
  SDL_ShowWindow(w->sdl);
  SDL_RaiseWindow(w->sdl);

  if (input_hooks && input_hooks->open) {
    input_hooks->open(w);
    w->input_open = true;
  }

  velk_log("Creating OpenGL context\n");
  w->gl = SDL_GL_CreateContext(w->sdl);
  if (!w->gl) {
    velk_log("SDL: %s\n", SDL_GetError());
    velk_error("Couldn't create OpenGL context\n");
    velk_window_close(w);
    return nullptr;
  }
  int got_r = 0, got_g = 0, got_b = 0, got_a = 0, got_d = 0, got_s = 0;
  SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &got_r);
  SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &got_g);
  SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &got_b);
  SDL_GL_GetAttribute(SDL_GL_ALPHA_SIZE, &got_a);
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &got_d);
  SDL_GL_GetAttribute(SDL_GL_STENCIL_SIZE, &got_s);
  velk_log("Pixel format: rgb %d/%d/%d, alpha %d, depth %d, stencil %d\n", got_r, got_g, got_b, got_a,
           got_d, got_s);

  SDL_Cursor* cursor = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_CROSSHAIR);
  if (cursor) SDL_SetCursor(cursor);
  store_drawable_size(w);
  return w;
}

void velk_window_close(VelkWindow* w) {
  if (!w) return;
  w->busy = true;
  if (w->gl) {
    velk_log("Deleting OpenGL context\n");
    SDL_GL_MakeCurrent(w->sdl, nullptr);
    SDL_GL_DeleteContext(w->gl);
    w->gl = nullptr;
  }
  if (w->input_open && input_hooks && input_hooks->close) {
    velk_log("Closing input devices\n");
    input_hooks->close(w);
  }
  velk_log("Destroying window\n");
  // Destroying a full-screen window puts the desktop mode back.
  SDL_DestroyWindow(w->sdl);
  free(w);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  velk_log("Window shutdown complete\n");
}

const VelkFrameSize* velk_begin_frame(VelkWindow* w) {
  if (!w || !w->gl || w->in_frame || w->close_flag) return nullptr;
  apply_pending_mode(w);
  if (w->busy) return nullptr;
  Uint32 flags = SDL_GetWindowFlags(w->sdl);
  if (flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) return nullptr;
  int dw = 0, dh = 0;
  SDL_GL_GetDrawableSize(w->sdl, &dw, &dh);
  if (dw <= 0 || dh <= 0) return nullptr;
  if (SDL_GL_GetCurrentContext() != w->gl && SDL_GL_MakeCurrent(w->sdl, w->gl) != 0) return nullptr;
  w->frame = VelkFrameSize{dw, dh};
  w->in_frame = true;
  return &w->frame;
}

bool velk_end_frame(VelkWindow* w) {
  if (!w || !w->in_frame) return false;
  w->in_frame = false;
  if (!w->gl || SDL_GL_GetCurrentContext() != w->gl) return false;
  SDL_GL_SwapWindow(w->sdl);
  return true;
}

void velk_request_mode(VelkWindow* w, int width, int height, int flags) {
  if (!w) return;
  w->mode_pending = true;
  w->pending_width = width > 0 ? width : 0;
  w->pending_height = height > 0 ? height : 0;
  w->pending_flags = flags;
}

bool velk_window_fullscreen(const VelkWindow* w) {
  return w && w->fullscreen;
}

bool velk_window_handle_event(VelkWindow* w, const SDL_Event* e) {
  if (!w) return false;
  if (e->type == SDL_QUIT) {
    // Also what SIGINT and SIGTERM turn into: the normal shutdown follows.
    request_close(w);
    return true;
  }
  if (e->type != SDL_WINDOWEVENT || e->window.windowID != SDL_GetWindowID(w->sdl)) return false;
  switch (e->window.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      if (w->gl) {
        store_drawable_size(w);
        velk_log("WM_SIZE message %dx%d\n", w->client_width, w->client_height);
      }
      break;
    case SDL_WINDOWEVENT_CLOSE:
      request_close(w);
      break;
    default:
      break;
  }
  return true;
}

void velk_window_dispatch(VelkWindow* w) {
  if (!w) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    velk_window_handle_event(w, &e);
    if (input_hooks && input_hooks->event) input_hooks->event(w, &e);
  }
  apply_pending_mode(w);
}

void velk_window_set_close_handler(VelkWindow* w, VelkCloseFn fn) {
  if (w) w->on_close = fn;
}

bool velk_window_close_requested(const VelkWindow* w) {
  return w && w->close_flag;
}

void* velk_gl_proc_address(const char* name) {
  return SDL_GL_GetProcAddress(name);
}

SDL_Window* velk_window_sdl(const VelkWindow* w) {
  return w ? w->sdl : nullptr;
}

void velk_window_set_input(VelkWindow* w, void* input) {
  if (w) w->input = input;
}

void* velk_window_input(const VelkWindow* w) {
  return w ? w->input : nullptr;
}
