// Key bindings: the "(k)name" / "(start,end)axis" format, resolution, capture and channel sums.
#include "core/bindings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "core/options.h"
#include "core/session.h"
#include "platform/input.h"
#include "platform/log.h"
#include "resources/stream.h"

const char* const binding_write_order[binding_key_count] = {
    "throttle_key", "front_brake_key", "rear_brake_key", "left_key", "right_key",
    "clutch_key", "upshift_key", "downshift_key", "dab_key", "back_up_key",
    "lean_forward_key", "lean_backward_key", "pause_key", "step_key", "rewind_key",
    "skip_key", "prev_key", "next_key", "console_key", "screenshot_key",
};

FixedKeys fixed_keys;

namespace {

struct Capture {
  VelkInput* input;        // whose device buttons are watched
  KeyBinding* binding;
  VelkAxis** axes;         // watched axes; null entries were closed
  const char** names;
  int count;
};
Capture capture;

bool same_key(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

void close_watched(VelkAxis* keep) {
  if (capture.input) velk_input_watch_buttons(capture.input, false);
  for (int i = 0; i < capture.count; i++)
    if (capture.axes[i] && capture.axes[i] != keep) velk_close_axis(capture.axes[i]);
  free(capture.axes);
  free(capture.names);
  capture = Capture{};
}

// A range end as "%f" reads it; the end of the number goes to *end.
bool read_float(const char* text, const char** end, float* out) {
  char* stop = nullptr;
  double v = std::strtod(text, &stop);
  if (stop == text || !std::isfinite(v) || std::fabs(v) > 3.0e38) return false;
  *out = static_cast<float>(v);
  *end = stop;
  return true;
}

// "(%f,%f)" at the start of text, giving the position after ")".
bool read_range(const char* text, float* start, float* end, const char** rest) {
  if (*text != '(') return false;
  const char* p = text + 1;
  if (!read_float(p, &p, start)) return false;
  if (*p != ',') return false;
  if (!read_float(p + 1, &p, end)) return false;
  if (*p != ')') return false;
  *rest = p + 1;
  return true;
}

int resolve_or_zero(VelkInput* input, const char* name) { return name ? velk_bind_key(input, name) : 0; }

}  // namespace

KeyBinding* bindings_find(Session* s, const char* settings_key) {
  for (ChannelBinding& c : s->channel_bindings)
    if (same_key(c.binding.settings_key, settings_key)) return &c.binding;
  for (KeyBinding& b : s->command_bindings)
    if (same_key(b.settings_key, settings_key)) return &b;
  return nullptr;
}

void binding_clear(KeyBinding* b) {
  if (capture.binding == b) binding_capture_cancel();
  free(b->key_name);
  free(b->axis_name);
  if (b->axis) velk_close_axis(b->axis);
  b->key_name = nullptr;
  b->axis_name = nullptr;
  b->axis = nullptr;
  b->key_code = 0;
  b->range_start = 0;
  b->range_end = 1;
}

void bindings_reset_defaults(Session* s) {
  auto reset = [](KeyBinding* b) {
    binding_clear(b);
    if (b->default_key) b->key_name = xstrdup(b->default_key);
  };
  for (ChannelBinding& c : s->channel_bindings) reset(&c.binding);
  for (KeyBinding& b : s->command_bindings) reset(&b);
}

bool binding_parse(KeyBinding* b, const char* value) {
  while (std::isspace(static_cast<unsigned char>(*value))) value++;
  float start = 0, end = 1;
  const char* axis_name = nullptr;
  bool is_axis = false;
  if (value[0] == '(' && std::strchr(value, ')')) {
    const char* rest = nullptr;
    double lo, hi;
    char close = 0;
    if (read_range(value, &start, &end, &rest)) {
      is_axis = true;
      axis_name = rest;
    } else if (std::sscanf(value, "(%lf,%lf%c", &lo, &hi, &close) == 3 && close == ')') {
      return false;  // a range of "nan", "inf" or beyond a float: refused like a non-number
    }
  }
  // Equal ends would divide by zero when the axis value is normalised.
  if (is_axis && start == end) return false;
  binding_clear(b);
  if (is_axis) {
    b->range_start = start;
    b->range_end = end;
    if (axis_name[0]) b->axis_name = xstrdup(axis_name);
    return true;
  }
  const char* key = std::strncmp(value, "(k)", 3) == 0 ? value + 3 : value;
  if (key[0]) b->key_name = xstrdup(key);
  return true;
}

bool binding_write(const KeyBinding* b, Stream* s) {
  if (!b->settings_key) return true;
  if (b->key_name) return stream_printf(s, "%s=(k)%s\n", b->settings_key, b->key_name) > 0;
  if (b->axis_name)
    return stream_printf(s, "%s=(%f,%f)%s\n", b->settings_key, static_cast<double>(b->range_start),
                         static_cast<double>(b->range_end), b->axis_name) > 0;
  return true;
}

bool bindings_write(const Session* s, Stream* stream) {
  for (const char* key : binding_write_order)
    if (const KeyBinding* b = bindings_find(const_cast<Session*>(s), key))
      if (!binding_write(b, stream)) return false;
  return true;
}

void bindings_resolve(Session* s, VelkInput* input) {
  auto resolve = [input](KeyBinding* b) {
    b->key_code = resolve_or_zero(input, b->key_name);
    if (b->axis) velk_close_axis(b->axis);
    b->axis = b->axis_name ? velk_open_axis(input, b->axis_name) : nullptr;
  };
  for (ChannelBinding& c : s->channel_bindings) resolve(&c.binding);
  for (KeyBinding& b : s->command_bindings) resolve(&b);
}

void bindings_close_axes(Session* s) {
  binding_capture_cancel();
  auto close = [](KeyBinding* b) {
    if (b->axis) velk_close_axis(b->axis);
    b->axis = nullptr;
  };
  for (ChannelBinding& c : s->channel_bindings) close(&c.binding);
  for (KeyBinding& b : s->command_bindings) close(&b);
}

void fixed_keys_resolve(VelkInput* input) {
  fixed_keys_close();
  fixed_keys.up = velk_bind_key(input, "up");
  fixed_keys.down = velk_bind_key(input, "down");
  fixed_keys.left = velk_bind_key(input, "left");
  fixed_keys.right = velk_bind_key(input, "right");
  fixed_keys.enter = velk_bind_key(input, "enter");
  fixed_keys.keypad_enter = velk_bind_key(input, "keypad enter");
  fixed_keys.esc = velk_bind_key(input, "esc");
  fixed_keys.pause = velk_bind_key(input, "pause");
  fixed_keys.cursor_left = velk_bind_key(input, "cursor-left");
  fixed_keys.cursor_right = velk_bind_key(input, "cursor-right");
  fixed_keys.page_up = velk_bind_key(input, "page up");
  fixed_keys.page_down = velk_bind_key(input, "page down");
  fixed_keys.cursor_x = velk_open_axis(input, "cursor-x");
  fixed_keys.cursor_y = velk_open_axis(input, "cursor-y");
}

void fixed_keys_close() {
  if (fixed_keys.cursor_x) velk_close_axis(fixed_keys.cursor_x);
  if (fixed_keys.cursor_y) velk_close_axis(fixed_keys.cursor_y);
  fixed_keys.cursor_x = fixed_keys.cursor_y = nullptr;
}

void bindings_key_event(Session* s, int code, int pressed) {
  if (code == 0) return;  // unresolved bindings have code 0; character 0 is not their key
  for (ChannelBinding& c : s->channel_bindings)
    if (c.binding.key_code == code && !c.binding.axis) c.value = pressed ? 1.0f : 0.0f;
}

void bindings_update_axes(Session* s) {
  for (ChannelBinding& c : s->channel_bindings) {
    KeyBinding& b = c.binding;
    if (!b.axis) continue;
    float span = b.range_end - b.range_start;
    if (span == 0) {
      c.value = 0;
      continue;
    }
    float v = (static_cast<float>(velk_read_axis(b.axis)) / 32768.0f - b.range_start) / span;
    c.value = v < 0 ? 0 : v > 1 ? 1 : v;
  }
}

void bindings_sum_channels(Session* s) {
  for (const ChannelBinding& c : s->channel_bindings)
    if (c.channel >= 0 && c.channel < channel_count) s->channels[c.channel] += c.gain * c.value;
}

void bindings_tick(Session* s, VelkInput* input) {
  binding_capture_watch(input);
  bindings_update_axes(s);
  bindings_sum_channels(s);
}

void input_tick(Session* s, VelkInput* input, uint64_t due_ms, bool last, InputEventFn handler,
                void* context) {
  for (float& c : s->channels) c = 0;
  if (input) {
    VelkEvent e;
    while (velk_next_event_stamped(input, &e, last ? UINT64_MAX : due_ms)) {
      bindings_key_event(s, e.code, e.pressed);
      if (fixed_keys.cursor_left && e.code == fixed_keys.cursor_left) s->cursor_left_held = e.pressed != 0;
      bool captured = binding_capture_event(input, e.code, e.pressed);
      if (handler) handler(context, e.code, e.pressed, captured);
    }
    bindings_tick(s, input);
  } else {
    bindings_sum_channels(s);
  }
}

void binding_capture_start(KeyBinding* binding, VelkInput* input) {
  binding_capture_cancel();
  const char* const* names = velk_axis_names(input);
  int n = 0;
  while (names && names[n]) n++;
  capture.input = input;
  capture.binding = binding;
  velk_input_watch_buttons(input, true);
  capture.axes = static_cast<VelkAxis**>(xcalloc(static_cast<size_t>(n) + 1, sizeof(VelkAxis*)));
  capture.names = static_cast<const char**>(xcalloc(static_cast<size_t>(n) + 1, sizeof(const char*)));
  capture.count = n;
  bool debug = options.debug_level >= 1;
  if (debug) velk_log("Watching pots\n");
  for (int i = 0; i < n; i++) {
    capture.names[i] = names[i];
    VelkAxis* axis = velk_open_axis(input, names[i]);
    if (axis) {
      int raw = velk_read_axis(axis);
      // A stick already pushed over (a pedal at rest, a throttle lever) would bind at once.
      if (raw > 16384 || raw < -16384) {
        if (debug) velk_log("\t%s Ignored (not centered)\n", names[i]);
        velk_close_axis(axis);
        continue;
      }
    }
    if (debug) velk_log("\t%s %s\n", names[i], axis ? "Ok" : "Failed");
    capture.axes[i] = axis;
  }
}

bool binding_capture_active() { return capture.binding != nullptr; }
const KeyBinding* binding_capture_target() { return capture.binding; }

void binding_capture_cancel() {
  if (capture.binding || capture.axes || capture.input) close_watched(nullptr);
}

bool binding_capture_event(VelkInput* input, int code, int pressed) {
  if (!capture.binding || !pressed || code < velk_code_key) return false;
  if (code == velk_bind_key(input, "esc")) {
    binding_capture_cancel();
    return true;
  }
  const char* name = velk_key_name(input, code);
  if (!name) return false;
  KeyBinding* b = capture.binding;
  // Binding by name marks a controller's button as bound, so its device stays polled.
  int bound = velk_bind_key(input, name);
  close_watched(nullptr);
  binding_clear(b);
  b->key_name = xstrdup(name);
  b->key_code = bound ? bound : code;
  return true;
}

bool binding_capture_watch(VelkInput*) {
  if (!capture.binding) return false;
  int best = -1;
  float best_value = 0;
  for (int i = 0; i < capture.count; i++) {
    if (!capture.axes[i]) continue;
    float v = static_cast<float>(velk_read_axis(capture.axes[i])) / 32768.0f;
    if (std::fabs(v) > std::fabs(best_value)) {
      best_value = v;
      best = i;
    }
  }
  if (best < 0 || std::fabs(best_value) <= 0.5f) return false;
  KeyBinding* b = capture.binding;
  VelkAxis* axis = capture.axes[best];
  const char* name = capture.names[best];
  capture.binding = nullptr;
  close_watched(axis);
  binding_clear(b);
  float sign = best_value < 0 ? -1.0f : 1.0f;
  b->axis_name = xstrdup(name);
  b->axis = axis;
  b->range_start = 0.0625f * sign;
  b->range_end = 0.9375f * sign;
  if (options.debug_level >= 1) velk_log("Done watching pots\n");
  return true;
}
