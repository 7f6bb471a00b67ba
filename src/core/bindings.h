// Key bindings: parsing and writing, resolution to codes and axes, capture of a new binding,
// and the per-tick summing of the built-in bindings into the control channels.
#pragma once
#include <cstdint>
#include "core/binding.h"

struct Session;
struct Stream;
struct VelkInput;

// The settings keys of the twenty bindings in the order they are written.
constexpr int binding_key_count = 20;
extern const char* const binding_write_order[binding_key_count];

// A channel or command binding by its settings key ("throttle_key"), or null.
KeyBinding* bindings_find(Session* session, const char* settings_key);
// Every binding gets its default key name (after session_init_bindings, before the settings).
void bindings_reset_defaults(Session* session);

// "(k)name", a bare name, or "(start,end)axis name". A range that is not finite or whose ends
// are equal is refused and the binding keeps what it had. Returns whether it was taken.
bool binding_parse(KeyBinding* binding, const char* value);
// "key=(k)name" or "key=(start,end)axis"; nothing for an unbound binding.
bool binding_write(const KeyBinding* binding, Stream* stream);
// Every binding in the written order.
bool bindings_write(const Session* session, Stream* stream);
// Drops the names and closes the open axis.
void binding_clear(KeyBinding* binding);

// Start-up step 22: key names to codes and axis names to open axes, for every binding.
void bindings_resolve(Session* session, VelkInput* input);
// Shutdown: closes every axis a binding opened.
void bindings_close_axes(Session* session);

// The fixed menu keys and the pointer axes, resolved once by name.
struct FixedKeys {
  int up, down, left, right, enter, keypad_enter, esc, pause;
  int cursor_left, cursor_right, page_up, page_down;
  struct VelkAxis* cursor_x;
  struct VelkAxis* cursor_y;
};
extern FixedKeys fixed_keys;
void fixed_keys_resolve(VelkInput* input);
void fixed_keys_close();

// Input event: every built-in binding with this key code takes 1 (pressed) or 0.
void bindings_key_event(Session* session, int code, int pressed);
// Tick steps 4 to 6: the capture watch, the axis bindings' values, and channel += gain x value
// for every built-in binding (the caller clears the channels before taking the tick's events).
void bindings_tick(Session* session, VelkInput* input);
void bindings_update_axes(Session* session);
void bindings_sum_channels(Session* session);

// Tick steps 2 to 6 in one call: clears the channels; takes every event stamped at or before
// due_ms (every waiting one when last is set); for each, sets the matching bindings, records
// "cursor-left", offers it to a capture and then calls handler (the menus, pause, views...)
// with whether the capture took it; finally the capture watch, the axis values and the sums.
// A null input (a headless run) only clears and sums.
using InputEventFn = void (*)(void* context, int code, int pressed, bool captured);
void input_tick(Session* session, VelkInput* input, uint64_t due_ms, bool last, InputEventFn handler,
                void* context);

// Capture of a new binding (the controls menu starts it). Every offered axis is opened and
// watched, except those already deflected past half their travel.
void binding_capture_start(KeyBinding* binding, VelkInput* input);
bool binding_capture_active();
const KeyBinding* binding_capture_target();
// An input event during a capture: a press other than "esc" binds that key, "esc" cancels.
// True when the capture took the event (the menus should not act on it); releases and
// characters are ignored by the capture and give false.
bool binding_capture_event(VelkInput* input, int code, int pressed);
// The axis watch: the largest deflection above half its travel becomes the binding.
// True when it ended the capture.
bool binding_capture_watch(VelkInput* input);
void binding_capture_cancel();
