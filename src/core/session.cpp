// The session state and its built-in binding tables.
#include "core/session.h"

#include <cstring>

#include "core/options.h"

Session session;

namespace {

struct ChannelBindingDef {
  const char* label;
  const char* settings_key;
  const char* default_key;
  int channel;
  float gain;
};

const ChannelBindingDef channel_binding_defs[channel_binding_count] = {
    {"Left", "left_key", "left", channel_steer, +1},
    {"Right", "right_key", "right", channel_steer, -1},
    {"Throttle", "throttle_key", "x", channel_throttle, +1},
    {"Front Brake", "front_brake_key", "c", channel_front_brake, +1},
    {"Rear Brake", "rear_brake_key", "v", channel_rear_brake, +1},
    {"Upshift", "upshift_key", "up", channel_shift, +1},
    {"Downshift", "downshift_key", "down", channel_shift, -1},
    {"Clutch", "clutch_key", "z", channel_clutch, +1},
    {"Sit/Dab", "dab_key", "right ctrl", channel_dab, +1},
    {"Back up", "back_up_key", "b", channel_back_up, +1},
    {"Lean Forward", "lean_forward_key", "n", channel_lean, -1},
    {"Lean Backward", "lean_backward_key", "m", channel_lean, +1},
};

struct CommandBindingDef {
  const char* label;
  const char* settings_key;
  const char* default_key;
};

const CommandBindingDef command_binding_defs[command_binding_count] = {
    {"Screenshot", "screenshot_key", "s"}, {"Chat", "console_key", "t"},
    {"Previous Bike", "prev_key", "["},     {"Next Bike", "next_key", "]"},
    {"Skip", "skip_key", "/"},              {"Rewind", "rewind_key", "\\"},
    {"Step", "step_key", "."},              {"Pause", "pause_key", "pause"},
};

KeyBinding make_binding(const char* label, const char* key, const char* default_key) {
  KeyBinding b{};
  b.label = label;
  b.settings_key = key;
  b.default_key = default_key;
  b.range_start = 0;
  b.range_end = 1;
  return b;
}

}  // namespace

void session_reset_slots(Session* s) {
  for (int i = 0; i < max_riders; ++i) {
    s->slots[i].kind = slot_replayed;
    s->slots[i].lineup_code = 0;
  }
  if (!s->demo_file) s->slots[0].lineup_code = 2;
}

void session_init_bindings(Session* s) {
  for (int i = 0; i < channel_binding_count; ++i) {
    const ChannelBindingDef& d = channel_binding_defs[i];
    s->channel_bindings[i].binding = make_binding(d.label, d.settings_key, d.default_key);
    s->channel_bindings[i].channel = d.channel;
    s->channel_bindings[i].gain = d.gain;
    s->channel_bindings[i].value = 0;
  }
  for (int i = 0; i < command_binding_count; ++i) {
    const CommandBindingDef& d = command_binding_defs[i];
    s->command_bindings[i] = make_binding(d.label, d.settings_key, d.default_key);
  }
}
