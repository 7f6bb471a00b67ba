// What the platform's other SDL parts (input) need from the window; only src/platform/ includes it.
#pragma once
#include <cstdint>

#include "platform/window.h"

struct SDL_Window;
union SDL_Event;

// The input layer's part of the window: it opens its devices when a window opens, closes them
// when it is destroyed, and sees every event the window dispatches (window events included, so
// that it can queue the close code 57005 as well).
struct VelkInputHooks {
  void (*open)(VelkWindow* window);
  void (*close)(VelkWindow* window);
  void (*event)(VelkWindow* window, const SDL_Event* event);
};
// The table must outlive every window; null removes the hooks.
void velk_set_input_hooks(const VelkInputHooks* hooks);

// Handles one event if it concerns the window (size, focus, close, quit); returns whether it did.
// velk_window_dispatch calls it for every event; an input layer polling SDL itself must too.
bool velk_window_handle_event(VelkWindow* window, const SDL_Event* event);

SDL_Window* velk_window_sdl(const VelkWindow* window);
// A slot for the input layer's own record (its queue and devices); null until it sets one.
void velk_window_set_input(VelkWindow* window, void* input);
void* velk_window_input(const VelkWindow* window);

// SDL's millisecond tick clock, the one that stamps SDL events.
uint64_t velk_sdl_ticks();
// Makes the mode list come from SDL's display 0 (initialising SDL video when needed).
void velk_sdl_install_mode_source();
