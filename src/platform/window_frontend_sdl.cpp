// The main loop's window and GL entries on SDL2, with SDL's clock and message box.
#include <SDL.h>

#include <initializer_list>

#include "core/frontend.h"
#include "core/options.h"
#include "core/session.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/window_sdl.h"
#include "render/gl_caps.h"
#include "render/shaders.h"
#include "resources/model_gl.h"
#include "resources/texture.h"
#include "resources/texture_gl.h"

VelkWindow* game_window = nullptr;

namespace {

bool sdl_message_box(const char* title, const char* text) {
  // Fails without a display; the log layer then writes to standard error.
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, nullptr) == 0;
}

// Closing the window from its frame quits like the menu's quit does.
void on_window_close() {
  session.quit = true;
}

bool fe_window_create(const char* title, int width, int height, int depth, bool fullscreen,
                      int depth_bits) {
  if (game_window) return true;
  int flags = (depth & velk_depth_mask) | (fullscreen ? velk_flag_fullscreen : 0);
  game_window = velk_window_open(title, width, height, flags, 0, depth_bits, 0, 0);
  if (!game_window) return false;
  velk_window_set_close_handler(game_window, on_window_close);
  return true;
}

void fe_window_destroy() {
  if (!game_window) return;
  // The programs belong to the context: delete them while it is still current.
  shaders_free();
  velk_window_close(game_window);
  game_window = nullptr;
}

bool fe_begin_frame(FrameSize* size) {
  const VelkFrameSize* s = velk_begin_frame(game_window);
  if (!s) return false;
  size->width = s->width;
  size->height = s->height;
  return true;
}

bool fe_end_frame() {
  return velk_end_frame(game_window);
}

bool fe_init_gl() {
  if (!gl_startup(settings.use_shader == 1, options.fugly)) return false;
  // Textures and models loaded before the context existed get their GL names now, under the
  // ids they already have.
  texture_gl_install();
  model_gl_install();
  // The HUD's images; the fonts come with text rendering.
  for (const char* name : {"!@tach.png", "!@shifter.png", "!@pitboard.png", "!@title.png"}) texture_load(name);
  return true;
}

// Until the world renderer exists a frame is the clear colour.
void fe_draw_frame(const FrameSize* size) {
  glViewport(0, 0, size->width, size->height);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

bool fe_read_frame(int width, int height, unsigned char* rgb) {
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb);
  return glGetError() == GL_NO_ERROR;
}

void fe_pump_events() {
  velk_window_dispatch(game_window);
}

}  // namespace

bool frontend_sdl_install(Frontend* f) {
  if (!f) return false;
  velk_set_clock_source(velk_sdl_ticks);
  velk_set_message_box_handler(sdl_message_box);
  velk_sdl_install_mode_source();
  f->window_create = fe_window_create;
  f->window_destroy = fe_window_destroy;
  f->begin_frame = fe_begin_frame;
  f->end_frame = fe_end_frame;
  f->init_gl = fe_init_gl;
  f->pump_events = fe_pump_events;
  f->draw_frame = fe_draw_frame;
  f->read_frame = fe_read_frame;
  return true;
}
