// VELK input on SDL2: keyboard, text, mouse and joystick events into the input queue.
#pragma once

union SDL_Event;
struct VelkInput;

// Hooks the input into the SDL window: when a window opens its input is created and opened
// (game_input points at it), every event the window dispatches is translated, and the input
// is closed with the window. Events are then pumped through velk_window_dispatch.
void velk_input_sdl_install();

// Installs the SDL key names, the pointer reader and SDL's tick clock (the clock that stamps
// SDL events), then enumerates the joysticks (unless the "dinput" switch is off) and registers
// the controller aliases. Call after velk_input_init and SDL_Init. When the input has no pump
// yet, velk_input_sdl_pump becomes its pump.
void velk_input_sdl_open(VelkInput* input);
// Closes the joysticks (through velk_input_shutdown) and the joystick subsystem.
void velk_input_sdl_close(VelkInput* input);

// Translates one SDL event into queued input events. True when the event was input and is
// fully handled; window events, SDL_QUIT (queued as the close code as well) and the rest give
// false so that the window layer can act on them.
bool velk_input_sdl_event(VelkInput* input, const SDL_Event* event);

// Drains SDL's event queue through velk_input_sdl_event; what it does not consume goes to the
// window handler when one is set.
void velk_input_sdl_pump(VelkInput* input);
using VelkSdlWindowHandler = void (*)(const SDL_Event* event);
void velk_input_sdl_set_window_handler(VelkSdlWindowHandler handler);

// The set-1 key number (k of velk_code_key + k) for an SDL scan code, or -1.
int velk_sdl_scancode_to_key(int scancode);
