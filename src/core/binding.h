// Key-binding records: a key name resolved to a code, or an axis opened by name with a range.
#pragma once

struct VelkAxis;  // an open input axis of the platform layer

struct KeyBinding {
  const char* label;         // menu label, "Throttle"
  const char* settings_key;  // "throttle_key"
  const char* default_key;   // "x"
  char* key_name;            // xmalloc'd; null when unbound or bound to an axis
  int key_code;              // resolved from key_name; 0 when unresolved
  char* axis_name;           // xmalloc'd; null when not an axis
  VelkAxis* axis;            // open axis, null until resolved
  float range_start;         // 0 by default
  float range_end;           // 1 by default
};
