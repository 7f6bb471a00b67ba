// One SDL window with a GL context, shared by every GL test of textures and models.
#pragma once
#include <SDL2/SDL.h>

// Opened on first use and kept until the process ends: destroying a software-rendered context
// unloads its driver, which then reports its own leftovers as leaks.
inline bool test_gl_context_open() {
  static int state = 0;  // 0 not tried, 1 open, -1 failed
  if (state == 0) {
    state = -1;
    if (SDL_Init(SDL_INIT_VIDEO) == 0) {
      SDL_Window* window = SDL_CreateWindow("gl test", 0, 0, 64, 64, SDL_WINDOW_OPENGL);
      SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
      if (context && SDL_GL_MakeCurrent(window, context) == 0) state = 1;
    }
  }
  return state == 1;
}
