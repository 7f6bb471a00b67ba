// VELK input: event codes, the time-stamped event queue, input names, devices and axes.
#pragma once
#include <cstdint>
#include <mutex>

// Event codes.
constexpr int velk_code_key = 4096;            // + k, k = set-1 scan code (+ 256 when extended)
constexpr int velk_key_count = 512;
constexpr int velk_code_mouse_left = 8192;
constexpr int velk_code_mouse_middle = 8193;
constexpr int velk_code_mouse_right = 8194;
constexpr int velk_code_close = 57005;         // the window's close button
constexpr int velk_device_code_step = 65536;   // device bases are multiples of this

constexpr int velk_queue_size = 256;
constexpr int velk_record_buffer_size = 25;    // buffered button changes per device
constexpr int velk_max_device_axes = 100;
constexpr int velk_max_device_buttons = 500;
constexpr int velk_max_devices = 32;

struct VelkEvent {
  int code;
  int pressed;       // 1 pressed, 0 released
  uint64_t time_ms;  // velk_time_ms clock
};

struct VelkInput;
struct VelkDevice;
struct VelkAxis;

// What a device kind does; any entry may be null.
struct VelkDeviceOps {
  bool (*acquire)(VelkDevice* device);
  void (*release)(VelkDevice* device);
  // Current axis value for absolute devices that are read live (range -32767..32767).
  int (*read_axis)(VelkDevice* device, int axis);
  // Current button state (0 or 1), used when buffered changes were lost.
  int (*read_button)(VelkDevice* device, int button);
  void (*destroy)(VelkDevice* device);
};

struct VelkButtonRecord {
  int button;
  int pressed;
  uint64_t time_ms;  // the device's own time for the change
};

struct VelkDevice {
  char name[64];       // unique within the input; no spaces or dots
  int base;            // event code of button 0
  int button_count;
  int axis_count;
  int open_axes;       // open handles; the device is acquired while above 0 or polled
  bool polling;        // set once a button is bound: its changes become events
  bool buttons_bound;  // a binding named one of its buttons
  bool relative;       // axes report movement, not position
  bool acquired;
  bool records_lost;   // the record buffer overflowed: compare states at the next poll
  int axis_values[velk_max_device_axes];
  uint8_t buttons[velk_max_device_buttons];
  VelkButtonRecord records[velk_record_buffer_size];
  int record_count;
  int64_t time_adjust_ms;  // subtracted from record times so that no event is in the future
  bool adjust_grew;
  const VelkDeviceOps* ops;
  void* user;          // the backend's handle
  VelkAxis* handles;   // open axis handles
};

// An open axis. It stays valid until velk_close_axis, even past the shutdown of its input
// (it then reads 0).
struct VelkAxis {
  VelkDevice* device;  // null once the device is gone
  int index;
  VelkAxis* next;      // the device's other open handles
};

struct VelkInput {
  std::mutex lock;                 // guards the queue
  VelkEvent queue[velk_queue_size];
  int head;                        // oldest waiting event
  int count;
  int dropped;                     // events refused because the queue was full
  VelkDevice* devices[velk_max_devices];
  int device_count;
  const char** axis_names;         // absolute axes of all devices, in order; null-terminated
  int axis_name_count;
  // Dispatches waiting window messages; installed by the window backend. May be null.
  void (*pump)(VelkInput* input);
  void* pump_context;
  // The pointer position in drawable pixels for the "cursor" device. May be null.
  void (*read_pointer)(VelkInput* input, int* x, int* y);
};

// The game window's input, set while the window's input is open (the SDL backend's hooks);
// a headless run may point it at an input of its own that has no backend.
extern VelkInput* game_input;

// Sets up an empty input with the "cursor" device and registers the platform's cursor aliases.
void velk_input_init(VelkInput* input);
// Destroys every device ("Killing %s") and frees the axis name list.
void velk_input_shutdown(VelkInput* input);

// Queues one event. A full queue refuses presses and characters; a release is always kept
// (a lost release would leave a throttle held), dropping the newest waiting press instead.
void velk_input_push(VelkInput* input, int code, int pressed, uint64_t time_ms);
int velk_input_waiting(VelkInput* input);

// The oldest event whose time is not later than due_ms (see velk_next_event_until).
int velk_next_event_until_ms(VelkInput* input, int* code, int* pressed, uint64_t due_ms);
int velk_next_event_until(VelkInput* input, int* code, int* pressed, long seconds, long microseconds);
int velk_next_event(VelkInput* input, int* code, int* pressed);
// As velk_next_event_until_ms, also giving the event's time stamp.
int velk_next_event_stamped(VelkInput* input, VelkEvent* event, uint64_t due_ms);

// The name functions accept a null input (a run without a window): keys and the special names
// still resolve, controller devices and axes do not.
// Name to event code; 0 when unknown. Binding a controller button makes its device polled.
int velk_bind_key(VelkInput* input, const char* name);
// While a binding capture runs every device's buttons are polled, so that a button press can
// become the binding; afterwards only devices with a bound button stay polled.
void velk_input_watch_buttons(VelkInput* input, bool on);
// Code to its interned name, or null.
const char* velk_key_name(VelkInput* input, int code);
VelkAxis* velk_open_axis(VelkInput* input, const char* name);
// Raw value: -32767..32767 for a controller axis, the movement since the last read for a
// relative axis, pixels for the cursor axes.
int velk_read_axis(VelkAxis* axis);
void velk_close_axis(VelkAxis* axis);
const char* const* velk_axis_names(VelkInput* input);

// First registration wins; a second one logs and returns 0.
int velk_alias(const char* name, const char* alias_text);
const char* velk_alias_lookup(const char* name);
// The "mouse-" and "joystick-" aliases, registered once controllers are enumerated.
void velk_register_controller_aliases();

// The operating system's key names, k = 0..511 (null or "" when a key has none). The backend
// installs the source before the first name is needed; without one only built-in names exist.
using VelkKeyNameSource = const char* (*)(int k);
void velk_set_key_name_source(VelkKeyNameSource source);
// The first built-in name of key k, or null.
const char* velk_builtin_key_name(int k);
// Equal after lowering the case and reading white space and "_" as a space.
bool velk_names_match_loosely(const char* a, const char* b);

// Adds a device under its instance name (spaces and dots removed, "#2", "#3" ... appended while
// taken). Returns null when it has no buttons and no axes ("Ignoring Dunsel device") or the
// table is full. Absolute devices add their axes to the axis name list.
VelkDevice* velk_input_add_device(VelkInput* input, const char* instance_name, const char* product_name,
                                  int axis_count, int button_count, bool relative,
                                  const VelkDeviceOps* ops, void* user);
VelkDevice* velk_find_device(VelkInput* input, const char* name);
// The code base for a device name, moved on past bases in use.
int velk_device_base_for(VelkInput* input, const char* name);
// A buffered button change from the backend; overflow makes the next poll compare states.
void velk_device_record_button(VelkDevice* device, int button, int pressed, uint64_t time_ms);
// An axis change from the backend: stored, or summed for a relative device.
void velk_device_record_axis(VelkDevice* device, int axis, int value);
// Turns a polled device's buffered changes into events stamped on the clock (now_ms).
void velk_device_poll(VelkInput* input, VelkDevice* device, uint64_t now_ms);

// Tests only: forget the aliases and the key name table.
void velk_input_reset_for_tests();
