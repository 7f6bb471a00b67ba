// VELK input without a backend: the event queue, input names, aliases, devices and axes.
#include "platform/input.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/memory.h"
#include "platform/clock.h"
#include "platform/log.h"

VelkInput* game_input = nullptr;

namespace {

struct NamedCode {
  int k;
  const char* name;
};

// Used when the operating system gives a key no name, and as a second dictionary for matching.
const NamedCode builtin_key_names[] = {
    {1, "Esc"}, {2, "1"}, {3, "2"}, {4, "3"}, {5, "4"}, {6, "5"}, {7, "6"}, {8, "7"}, {9, "8"},
    {10, "9"}, {11, "0"}, {12, "-"}, {13, "="}, {14, "Backspace"}, {15, "Tab"}, {16, "Q"},
    {17, "W"}, {18, "E"}, {19, "R"}, {20, "T"}, {21, "Y"}, {22, "U"}, {23, "I"}, {24, "O"},
    {25, "P"}, {26, "["}, {27, "]"}, {28, "Enter"}, {29, "Left Ctrl"}, {30, "A"}, {31, "S"},
    {32, "D"}, {33, "F"}, {34, "G"}, {35, "H"}, {36, "J"}, {37, "K"}, {38, "L"}, {39, ";"},
    {40, "'"}, {41, "`"}, {42, "Left Shift"}, {43, "\\"}, {44, "Z"}, {45, "X"}, {46, "C"},
    {47, "V"}, {48, "B"}, {49, "N"}, {50, "M"}, {51, ","}, {52, "."}, {53, "/"},
    {54, "Right Shift"}, {55, "Keypad *"}, {57, "Space"}, {57, " "}, {58, "Caps Lock"},
    {59, "F1"}, {60, "F2"}, {61, "F3"}, {62, "F4"}, {63, "F5"}, {64, "F6"}, {65, "F7"},
    {66, "F8"}, {67, "F9"}, {68, "F10"}, {69, "Pause"}, {71, "Keypad 7"}, {72, "Keypad 8"},
    {73, "Keypad 9"}, {74, "Keypad -"}, {75, "Keypad 4"}, {76, "Keypad 5"}, {77, "Keypad 6"},
    {78, "Keypad +"}, {79, "Keypad 1"}, {80, "Keypad 2"}, {81, "Keypad 3"}, {82, "Keypad 0"},
    {83, "Keypad ."}, {87, "F11"}, {88, "F12"}, {284, "Keypad Enter"}, {285, "Right Ctrl"},
    {309, "Keypad /"}, {325, "Num Lock"}, {327, "Home"}, {328, "Up"}, {329, "Page Up"},
    {331, "Left"}, {333, "Right"}, {335, "End"}, {336, "Down"}, {337, "Page Down"},
    {338, "Insert"}, {339, "Delete"},
};

const NamedCode special_names[] = {
    {velk_code_close, "Close"},
    {velk_code_mouse_left, "Mouse Left"},
    {velk_code_mouse_middle, "Mouse Middle"},
    {velk_code_mouse_right, "Mouse Right"},
};

struct Alias {
  char* name;
  char* text;
};
Alias* aliases = nullptr;
int alias_count = 0;
int alias_capacity = 0;

VelkKeyNameSource key_name_source = nullptr;
const char* os_key_names[velk_key_count];
bool os_key_names_built = false;

const char* os_key_name(int k) {
  if (!os_key_names_built) {
    for (int i = 0; i < velk_key_count; i++) {
      const char* name = key_name_source ? key_name_source(i) : nullptr;
      os_key_names[i] = intern_string(name ? name : "");
    }
    os_key_names_built = true;
  }
  return os_key_names[k];
}

int loose_char(int c) {
  if (c == '_' || std::isspace(static_cast<unsigned char>(c))) return ' ';
  return std::tolower(static_cast<unsigned char>(c));
}

using Matcher = bool (*)(const char*, const char*);
bool match_exact(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// One pass over the three dictionaries in their order; 0 when nothing matches.
int match_dictionaries(const char* name, Matcher match) {
  for (const NamedCode& s : special_names)
    if (match(name, s.name)) return s.k;
  for (int k = 0; k < velk_key_count; k++) {
    const char* os = os_key_name(k);
    if (os[0] && match(name, os)) return velk_code_key + k;
  }
  for (const NamedCode& b : builtin_key_names)
    if (match(name, b.name)) return velk_code_key + b.k;
  return 0;
}

// "0x" followed by hexadecimal digits only, at most 511.
int parse_hex_key(const char* name) {
  if (name[0] != '0' || (name[1] != 'x' && name[1] != 'X') || !std::isxdigit(static_cast<unsigned char>(name[2])))
    return -1;
  long value = 0;
  for (const char* p = name + 2; *p; p++) {
    if (!std::isxdigit(static_cast<unsigned char>(*p))) return -1;
    int digit = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : std::tolower(*p) - 'a' + 10;
    value = value * 16 + digit;
    if (value >= velk_key_count) return -1;
  }
  return static_cast<int>(value);
}

// A device name and an index in one of the two forms ("Dev.key[3]" / "Dev button 3").
// The index is read as a long so that a huge number cannot wrap into a small one.
bool parse_device_index(const char* name, const char* dot_form, const char* space_form, char* device,
                        long* index) {
  if (std::sscanf(name, dot_form, device, index) == 2) return true;
  return std::sscanf(name, space_form, device, index) == 2;
}

const char* resolve_alias(const char* name) {
  const char* text = velk_alias_lookup(name);
  return text ? text : name;
}

void device_acquire(VelkDevice* d) {
  if (d->acquired) return;
  d->acquired = !d->ops || !d->ops->acquire || d->ops->acquire(d);
}

void device_release(VelkDevice* d) {
  if (!d->acquired) return;
  if (d->ops && d->ops->release) d->ops->release(d);
  d->acquired = false;
}

void start_polling(VelkDevice* d) {
  // Start from the current state so that the first poll does not report stale changes.
  for (int b = 0; b < d->button_count; b++)
    d->buttons[b] = d->ops && d->ops->read_button ? static_cast<uint8_t>(d->ops->read_button(d, b) != 0) : 0;
  d->record_count = 0;
  d->records_lost = false;
  d->polling = true;
}

void push_locked(VelkInput* in, int code, int pressed, uint64_t time_ms) {
  if (in->count == velk_queue_size) {
    if (pressed) {
      in->dropped++;
      return;
    }
    // Make room for the release: the newest waiting press or character goes first; failing
    // that, an earlier release of the same code is superseded by this one.
    int victim = -1;
    for (int i = in->count - 1; i >= 0 && victim < 0; i--)
      if (in->queue[(in->head + i) % velk_queue_size].pressed) victim = i;
    for (int i = 0; i < in->count && victim < 0; i++)
      if (in->queue[(in->head + i) % velk_queue_size].code == code) victim = i;
    if (victim < 0) {
      in->dropped++;
      return;
    }
    for (int i = victim; i < in->count - 1; i++)
      in->queue[(in->head + i) % velk_queue_size] = in->queue[(in->head + i + 1) % velk_queue_size];
    in->count--;
    in->dropped++;
  }
  in->queue[(in->head + in->count) % velk_queue_size] = VelkEvent{code, pressed ? 1 : 0, time_ms};
  in->count++;
}

bool take_locked(VelkInput* in, VelkEvent* out, uint64_t due_ms) {
  if (in->count == 0) return false;
  const VelkEvent& e = in->queue[in->head];
  if (e.time_ms > due_ms) return false;
  *out = e;
  in->head = (in->head + 1) % velk_queue_size;
  in->count--;
  return true;
}

int read_cursor_axis(VelkDevice* d, int axis) {
  VelkInput* in = static_cast<VelkInput*>(d->user);
  int xy[2] = {0, 0};
  if (in->read_pointer) in->read_pointer(in, &xy[0], &xy[1]);
  return xy[axis];
}

const VelkDeviceOps cursor_ops = {nullptr, nullptr, read_cursor_axis, nullptr, nullptr};

}  // namespace

void velk_input_init(VelkInput* in) {
  in->head = in->count = in->dropped = 0;
  in->device_count = 0;
  in->axis_names = static_cast<const char**>(xcalloc(1, sizeof(const char*)));
  in->axis_name_count = 0;
  in->pump = nullptr;
  in->pump_context = nullptr;
  in->read_pointer = nullptr;
  // The cursor is not a controller: it is never offered to a binding capture.
  VelkDevice* cursor = static_cast<VelkDevice*>(xcalloc(1, sizeof(VelkDevice)));
  std::snprintf(cursor->name, sizeof cursor->name, "cursor");
  cursor->base = velk_device_base_for(in, cursor->name);
  cursor->axis_count = 2;
  cursor->ops = &cursor_ops;
  cursor->user = in;
  in->devices[in->device_count++] = cursor;

  static const char* const cursor_aliases[][2] = {
      {"cursor-x", "cursor.axis[0]"},   {"cursor-y", "cursor.axis[1]"},
      {"cursor-left", "Mouse Left"},    {"cursor-middle", "Mouse Middle"},
      {"cursor-right", "Mouse Right"},
  };
  for (const auto& a : cursor_aliases)
    if (!velk_alias_lookup(a[0])) velk_alias(a[0], a[1]);
}

void velk_input_shutdown(VelkInput* in) {
  for (int i = 0; i < in->device_count; i++) {
    VelkDevice* d = in->devices[i];
    if (d->ops && d->ops->destroy) {
      velk_log("Killing %s\n", d->name);
      if (d->adjust_grew) velk_log("Timestamp adjustment was %d\n", static_cast<int>(d->time_adjust_ms));
    }
    // Handles still open (a binding's axis) outlive the device; they read 0 from now on.
    for (VelkAxis* a = d->handles; a; a = a->next) a->device = nullptr;
    device_release(d);
    if (d->ops && d->ops->destroy) d->ops->destroy(d);
    free(d);
  }
  in->device_count = 0;
  free(in->axis_names);
  in->axis_names = nullptr;
  in->axis_name_count = 0;
  in->head = in->count = 0;
}

void velk_input_push(VelkInput* in, int code, int pressed, uint64_t time_ms) {
  std::lock_guard<std::mutex> guard(in->lock);
  push_locked(in, code, pressed, time_ms);
}

int velk_input_waiting(VelkInput* in) {
  std::lock_guard<std::mutex> guard(in->lock);
  return in->count;
}

int velk_next_event_stamped(VelkInput* in, VelkEvent* event, uint64_t due_ms) {
  if (in->pump) in->pump(in);
  {
    std::lock_guard<std::mutex> guard(in->lock);
    if (take_locked(in, event, due_ms)) return 1;
  }
  uint64_t now = velk_time_ms();
  for (int i = 0; i < in->device_count; i++)
    if (in->devices[i]->polling) velk_device_poll(in, in->devices[i], now);
  std::lock_guard<std::mutex> guard(in->lock);
  return take_locked(in, event, due_ms) ? 1 : 0;
}

int velk_next_event_until_ms(VelkInput* in, int* code, int* pressed, uint64_t due_ms) {
  VelkEvent e;
  if (!velk_next_event_stamped(in, &e, due_ms)) return 0;
  *code = e.code;
  *pressed = e.pressed;
  return 1;
}

int velk_next_event_until(VelkInput* in, int* code, int* pressed, long seconds, long microseconds) {
  long long ms = static_cast<long long>(seconds) * 1000 + microseconds / 1000;
  uint64_t due = ms > 0 ? static_cast<uint64_t>(ms) : 0;
  return velk_next_event_until_ms(in, code, pressed, due);
}

int velk_next_event(VelkInput* in, int* code, int* pressed) {
  return velk_next_event_until_ms(in, code, pressed, UINT64_MAX);
}

int velk_bind_key(VelkInput* in, const char* name) {
  if (!name) return 0;
  name = resolve_alias(name);
  if (int code = match_dictionaries(name, match_exact)) return code;
  if (int code = match_dictionaries(name, velk_names_match_loosely)) return code;
  int hex = parse_hex_key(name);
  if (hex >= 0) return velk_code_key + hex;
  char device_name[64];
  long n = -1;
  if (!parse_device_index(name, "%63[^.].key[%ld", "%63s button %ld", device_name, &n)) return 0;
  VelkDevice* d = velk_find_device(in, device_name);
  if (!d || n < 0 || n > 255 || n >= d->button_count) return 0;
  if (!d->polling) start_polling(d);
  d->buttons_bound = true;
  device_acquire(d);
  return d->base + static_cast<int>(n);
}

void velk_input_watch_buttons(VelkInput* in, bool on) {
  for (int i = 0; in && i < in->device_count; i++) {
    VelkDevice* d = in->devices[i];
    if (d->button_count == 0 || d->buttons_bound) continue;
    if (on && !d->polling) {
      start_polling(d);
      device_acquire(d);
    } else if (!on && d->polling) {
      d->polling = false;
      if (d->open_axes == 0) device_release(d);
    }
  }
}

const char* velk_key_name(VelkInput* in, int code) {
  for (const NamedCode& s : special_names)
    if (code == s.k) return intern_string(s.name);
  if (code >= velk_code_key && code < velk_code_key + velk_key_count) {
    int k = code - velk_code_key;
    const char* os = os_key_name(k);
    if (os[0]) return os;
    if (const char* b = velk_builtin_key_name(k)) return intern_string(b);
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", k);
    return intern_string(text);
  }
  for (int i = 0; in && i < in->device_count; i++) {
    const VelkDevice* d = in->devices[i];
    int b = code - d->base;
    if (code >= d->base && b < d->button_count && b <= 255) {
      char text[1100];
      std::snprintf(text, sizeof text, "%.1000s button %d", d->name, b);
      return intern_string(text);
    }
  }
  return nullptr;
}

VelkAxis* velk_open_axis(VelkInput* in, const char* name) {
  if (!name) return nullptr;
  name = resolve_alias(name);
  char device_name[64];
  long n = -1;
  if (!parse_device_index(name, "%63[^.].axis[%ld", "%63s axis %ld", device_name, &n)) return nullptr;
  VelkDevice* d = velk_find_device(in, device_name);
  if (!d || n < 0 || n >= d->axis_count) return nullptr;
  if (d->open_axes == 0 && !d->polling) {
    device_acquire(d);
    if (!d->acquired) return nullptr;
  }
  VelkAxis* axis = static_cast<VelkAxis*>(xmalloc(sizeof(VelkAxis)));
  *axis = VelkAxis{d, static_cast<int>(n), d->handles};
  d->handles = axis;
  d->open_axes++;
  return axis;
}

int velk_read_axis(VelkAxis* axis) {
  if (!axis || !axis->device) return 0;
  VelkDevice* d = axis->device;
  if (d->relative) {
    int moved = d->axis_values[axis->index];
    d->axis_values[axis->index] = 0;
    return moved;
  }
  if (d->ops && d->ops->read_axis) return d->ops->read_axis(d, axis->index);
  return d->axis_values[axis->index];
}

void velk_close_axis(VelkAxis* axis) {
  if (!axis) return;
  if (VelkDevice* d = axis->device) {
    for (VelkAxis** p = &d->handles; *p; p = &(*p)->next)
      if (*p == axis) {
        *p = axis->next;
        break;
      }
    if (--d->open_axes == 0 && !d->polling) device_release(d);
  }
  free(axis);
}

const char* const* velk_axis_names(VelkInput* in) {
  static const char* const none[] = {nullptr};
  return in && in->axis_names ? in->axis_names : none;
}

int velk_alias(const char* name, const char* alias_text) {
  if (const char* old = velk_alias_lookup(name)) {
    velk_log("Second alias for '%s' ('%s') ignored\n", name, old);
    return 0;
  }
  if (alias_count == alias_capacity) {
    int cap = alias_capacity ? alias_capacity * 2 : 16;
    Alias* grown = static_cast<Alias*>(std::realloc(aliases, sizeof(Alias) * static_cast<size_t>(cap)));
    if (!grown) {
      velk_log("Can't alias %s to %s -- out of memory\n", name, alias_text);
      return 0;
    }
    aliases = grown;
    alias_capacity = cap;
  }
  char* n = strdup(name);
  char* t = strdup(alias_text);
  if (!n || !t) {
    free(n);
    free(t);
    velk_log("Can't alias %s to %s -- out of memory\n", name, alias_text);
    return 0;
  }
  aliases[alias_count++] = Alias{n, t};
  return 1;
}

const char* velk_alias_lookup(const char* name) {
  for (int i = 0; i < alias_count; i++)
    if (std::strcmp(aliases[i].name, name) == 0) return aliases[i].text;
  return nullptr;
}

void velk_register_controller_aliases() {
  static const char* const table[][2] = {
      {"mouse-x", "Mouse.axis[0]"},          {"mouse-y", "Mouse.axis[1]"},
      {"mouse-left", "Mouse.key[0]"},        {"mouse-right", "Mouse.key[1]"},
      {"mouse-middle", "Mouse.key[2]"},      {"joystick-a-x", "Joystick1.axis[0]"},
      {"joystick-a-y", "Joystick1.axis[1]"}, {"joystick-a-1", "Joystick1.key[0]"},
      {"joystick-a-2", "Joystick1.key[1]"},  {"joystick-b-x", "Joystick2.axis[0]"},
      {"joystick-b-y", "Joystick2.axis[1]"}, {"joystick-b-1", "Joystick2.key[0]"},
      {"joystick-b-2", "Joystick2.key[1]"},
  };
  for (const auto& a : table)
    if (!velk_alias_lookup(a[0])) velk_alias(a[0], a[1]);
}

void velk_set_key_name_source(VelkKeyNameSource source) {
  key_name_source = source;
  os_key_names_built = false;
}

const char* velk_builtin_key_name(int k) {
  for (const NamedCode& b : builtin_key_names)
    if (b.k == k) return b.name;
  return nullptr;
}

bool velk_names_match_loosely(const char* a, const char* b) {
  for (;; a++, b++) {
    if (loose_char(*a) != loose_char(*b)) return false;
    if (!*a) return true;
  }
}

VelkDevice* velk_find_device(VelkInput* in, const char* name) {
  for (int i = 0; in && i < in->device_count; i++)
    if (std::strcmp(in->devices[i]->name, name) == 0) return in->devices[i];
  return nullptr;
}

int velk_device_base_for(VelkInput* in, const char* name) {
  unsigned s = 0, t = 0;
  for (int i = 0; name[i]; i++) {
    unsigned c = static_cast<unsigned char>(name[i]);
    if (i % 2 == 0) s += c;
    else t = (t + c) % 256;
  }
  uint32_t base = ((s + 256u * t) % 32768u) * 65536u;
  for (;;) {
    bool used = base == 0;
    for (int i = 0; i < in->device_count && !used; i++) used = in->devices[i]->base == static_cast<int>(base);
    if (!used) return static_cast<int>(base);
    base = (base + 65536u) % 2147483648u;
  }
}

VelkDevice* velk_input_add_device(VelkInput* in, const char* instance_name, const char* product_name,
                                  int axis_count, int button_count, bool relative,
                                  const VelkDeviceOps* ops, void* user) {
  velk_log("%s (%s)\n", instance_name, product_name ? product_name : "");
  if (axis_count <= 0 && button_count <= 0) {
    velk_log("Ignoring Dunsel device\n");
    return nullptr;
  }
  if (in->device_count == velk_max_devices) return nullptr;
  velk_log("%d axes, %d keys\n", axis_count, button_count);
  if (axis_count > velk_max_device_axes) {
    velk_log("Wow! This thing has a lot of axes!\nThe first ignored axis is called \"%s axis %d\"\n",
             instance_name, velk_max_device_axes);
    axis_count = velk_max_device_axes;
  }
  if (button_count > velk_max_device_buttons) {
    velk_log("Wow! This thing has a lot of buttons!\nThe first ignored button is called \"%s button %d\"\n",
             instance_name, velk_max_device_buttons);
    button_count = velk_max_device_buttons;
  }
  char base_name[64];
  int n = 0;
  for (const char* p = instance_name; *p && n < 50; p++)
    if (*p != ' ' && *p != '.') base_name[n++] = *p;
  base_name[n] = 0;
  VelkDevice* d = static_cast<VelkDevice*>(xcalloc(1, sizeof(VelkDevice)));
  std::snprintf(d->name, sizeof d->name, "%s", base_name);
  for (int suffix = 2; velk_find_device(in, d->name); suffix++)
    std::snprintf(d->name, sizeof d->name, "%.50s#%d", base_name, suffix);
  d->base = velk_device_base_for(in, d->name);
  d->axis_count = axis_count > 0 ? axis_count : 0;
  d->button_count = button_count > 0 ? button_count : 0;
  d->relative = relative;
  d->ops = ops;
  d->user = user;
  for (int a = 0; a < d->axis_count; a++) velk_log("axis %d is %s\n", a, relative ? "relative" : "absolute");
  in->devices[in->device_count++] = d;
  if (!relative) {
    in->axis_names = static_cast<const char**>(
        xrealloc(in->axis_names, sizeof(const char*) * static_cast<size_t>(in->axis_name_count + d->axis_count + 1)));
    for (int a = 0; a < d->axis_count; a++) {
      char text[240];
      std::snprintf(text, sizeof text, "%.200s axis %d", d->name, a);
      velk_log("Adding axis \"%s\"\n", text);
      in->axis_names[in->axis_name_count++] = intern_string(text);
    }
    in->axis_names[in->axis_name_count] = nullptr;
  }
  return d;
}

void velk_device_record_button(VelkDevice* d, int button, int pressed, uint64_t time_ms) {
  if (!d->polling || button < 0 || button >= d->button_count) return;
  if (d->record_count == velk_record_buffer_size) {
    d->records_lost = true;
    return;
  }
  d->records[d->record_count++] = VelkButtonRecord{button, pressed ? 1 : 0, time_ms};
}

void velk_device_record_axis(VelkDevice* d, int axis, int value) {
  if (axis < 0 || axis >= d->axis_count) return;
  if (d->relative) {
    long long sum = static_cast<long long>(d->axis_values[axis]) + value;
    d->axis_values[axis] = static_cast<int>(sum > INT_MAX ? INT_MAX : sum < INT_MIN ? INT_MIN : sum);
  } else {
    d->axis_values[axis] = value < -32767 ? -32767 : value > 32767 ? 32767 : value;
  }
}

void velk_device_poll(VelkInput* in, VelkDevice* d, uint64_t now_ms) {
  for (int i = 0; i < d->record_count; i++) {
    const VelkButtonRecord& r = d->records[i];
    if (d->buttons[r.button] == r.pressed) continue;
    d->buttons[r.button] = static_cast<uint8_t>(r.pressed);
    int64_t stamp = static_cast<int64_t>(r.time_ms) - d->time_adjust_ms;
    if (stamp > static_cast<int64_t>(now_ms)) {
      d->time_adjust_ms += stamp - static_cast<int64_t>(now_ms);
      d->adjust_grew = true;
      stamp = static_cast<int64_t>(now_ms);
    }
    velk_input_push(in, d->base + r.button, r.pressed, static_cast<uint64_t>(stamp < 0 ? 0 : stamp));
  }
  d->record_count = 0;
  if (d->records_lost) {
    // Changes were lost: compare the whole state instead and stamp what differs with now.
    d->records_lost = false;
    if (d->ops && d->ops->read_button) {
      for (int b = 0; b < d->button_count; b++) {
        uint8_t now_state = static_cast<uint8_t>(d->ops->read_button(d, b) != 0);
        if (now_state == d->buttons[b]) continue;
        d->buttons[b] = now_state;
        velk_input_push(in, d->base + b, now_state, now_ms);
      }
    }
  }
}

void velk_input_reset_for_tests() {
  for (int i = 0; i < alias_count; i++) {
    free(aliases[i].name);
    free(aliases[i].text);
  }
  free(aliases);
  aliases = nullptr;
  alias_count = alias_capacity = 0;
  key_name_source = nullptr;
  os_key_names_built = false;
}
