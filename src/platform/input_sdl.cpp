// VELK input on SDL2: scan codes to set-1 keys, text, mouse, joysticks and the pointer axes.
#include "platform/input_sdl.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/window_sdl.h"

namespace {

struct ScanKey {
  SDL_Scancode scancode;
  int key;  // set-1 code, + 256 for an extended key
};

const ScanKey scan_keys[] = {
    {SDL_SCANCODE_ESCAPE, 1}, {SDL_SCANCODE_1, 2}, {SDL_SCANCODE_2, 3}, {SDL_SCANCODE_3, 4},
    {SDL_SCANCODE_4, 5}, {SDL_SCANCODE_5, 6}, {SDL_SCANCODE_6, 7}, {SDL_SCANCODE_7, 8},
    {SDL_SCANCODE_8, 9}, {SDL_SCANCODE_9, 10}, {SDL_SCANCODE_0, 11}, {SDL_SCANCODE_MINUS, 12},
    {SDL_SCANCODE_EQUALS, 13}, {SDL_SCANCODE_BACKSPACE, 14}, {SDL_SCANCODE_TAB, 15},
    {SDL_SCANCODE_Q, 16}, {SDL_SCANCODE_W, 17}, {SDL_SCANCODE_E, 18}, {SDL_SCANCODE_R, 19},
    {SDL_SCANCODE_T, 20}, {SDL_SCANCODE_Y, 21}, {SDL_SCANCODE_U, 22}, {SDL_SCANCODE_I, 23},
    {SDL_SCANCODE_O, 24}, {SDL_SCANCODE_P, 25}, {SDL_SCANCODE_LEFTBRACKET, 26},
    {SDL_SCANCODE_RIGHTBRACKET, 27}, {SDL_SCANCODE_RETURN, 28}, {SDL_SCANCODE_LCTRL, 29},
    {SDL_SCANCODE_A, 30}, {SDL_SCANCODE_S, 31}, {SDL_SCANCODE_D, 32}, {SDL_SCANCODE_F, 33},
    {SDL_SCANCODE_G, 34}, {SDL_SCANCODE_H, 35}, {SDL_SCANCODE_J, 36}, {SDL_SCANCODE_K, 37},
    {SDL_SCANCODE_L, 38}, {SDL_SCANCODE_SEMICOLON, 39}, {SDL_SCANCODE_APOSTROPHE, 40},
    {SDL_SCANCODE_GRAVE, 41}, {SDL_SCANCODE_LSHIFT, 42}, {SDL_SCANCODE_BACKSLASH, 43},
    {SDL_SCANCODE_NONUSHASH, 43}, {SDL_SCANCODE_Z, 44}, {SDL_SCANCODE_X, 45},
    {SDL_SCANCODE_C, 46}, {SDL_SCANCODE_V, 47}, {SDL_SCANCODE_B, 48}, {SDL_SCANCODE_N, 49},
    {SDL_SCANCODE_M, 50}, {SDL_SCANCODE_COMMA, 51}, {SDL_SCANCODE_PERIOD, 52},
    {SDL_SCANCODE_SLASH, 53}, {SDL_SCANCODE_RSHIFT, 54}, {SDL_SCANCODE_KP_MULTIPLY, 55},
    {SDL_SCANCODE_LALT, 56}, {SDL_SCANCODE_SPACE, 57}, {SDL_SCANCODE_CAPSLOCK, 58},
    {SDL_SCANCODE_F1, 59}, {SDL_SCANCODE_F2, 60}, {SDL_SCANCODE_F3, 61}, {SDL_SCANCODE_F4, 62},
    {SDL_SCANCODE_F5, 63}, {SDL_SCANCODE_F6, 64}, {SDL_SCANCODE_F7, 65}, {SDL_SCANCODE_F8, 66},
    {SDL_SCANCODE_F9, 67}, {SDL_SCANCODE_F10, 68}, {SDL_SCANCODE_PAUSE, 69},
    {SDL_SCANCODE_SCROLLLOCK, 70}, {SDL_SCANCODE_KP_7, 71}, {SDL_SCANCODE_KP_8, 72},
    {SDL_SCANCODE_KP_9, 73}, {SDL_SCANCODE_KP_MINUS, 74}, {SDL_SCANCODE_KP_4, 75},
    {SDL_SCANCODE_KP_5, 76}, {SDL_SCANCODE_KP_6, 77}, {SDL_SCANCODE_KP_PLUS, 78},
    {SDL_SCANCODE_KP_1, 79}, {SDL_SCANCODE_KP_2, 80}, {SDL_SCANCODE_KP_3, 81},
    {SDL_SCANCODE_KP_0, 82}, {SDL_SCANCODE_KP_PERIOD, 83}, {SDL_SCANCODE_NONUSBACKSLASH, 86},
    {SDL_SCANCODE_F11, 87}, {SDL_SCANCODE_F12, 88}, {SDL_SCANCODE_KP_EQUALS, 89},
    {SDL_SCANCODE_F13, 100}, {SDL_SCANCODE_F14, 101}, {SDL_SCANCODE_F15, 102},
    {SDL_SCANCODE_F16, 103}, {SDL_SCANCODE_F17, 104}, {SDL_SCANCODE_F18, 105},
    {SDL_SCANCODE_F19, 106}, {SDL_SCANCODE_F20, 107}, {SDL_SCANCODE_F21, 108},
    {SDL_SCANCODE_F22, 109}, {SDL_SCANCODE_F23, 110}, {SDL_SCANCODE_INTERNATIONAL2, 112},
    {SDL_SCANCODE_INTERNATIONAL1, 115}, {SDL_SCANCODE_F24, 118},
    {SDL_SCANCODE_INTERNATIONAL4, 121}, {SDL_SCANCODE_INTERNATIONAL5, 123},
    {SDL_SCANCODE_INTERNATIONAL3, 125},
    // Extended keys.
    {SDL_SCANCODE_AUDIOPREV, 256 + 16}, {SDL_SCANCODE_AUDIONEXT, 256 + 25},
    {SDL_SCANCODE_KP_ENTER, 256 + 28}, {SDL_SCANCODE_RCTRL, 256 + 29},
    {SDL_SCANCODE_MUTE, 256 + 32}, {SDL_SCANCODE_AUDIOPLAY, 256 + 34},
    {SDL_SCANCODE_AUDIOSTOP, 256 + 36}, {SDL_SCANCODE_VOLUMEDOWN, 256 + 46},
    {SDL_SCANCODE_VOLUMEUP, 256 + 48}, {SDL_SCANCODE_KP_DIVIDE, 256 + 53},
    {SDL_SCANCODE_PRINTSCREEN, 256 + 55}, {SDL_SCANCODE_RALT, 256 + 56},
    {SDL_SCANCODE_NUMLOCKCLEAR, 256 + 69}, {SDL_SCANCODE_HOME, 256 + 71},
    {SDL_SCANCODE_UP, 256 + 72}, {SDL_SCANCODE_PAGEUP, 256 + 73}, {SDL_SCANCODE_LEFT, 256 + 75},
    {SDL_SCANCODE_RIGHT, 256 + 77}, {SDL_SCANCODE_END, 256 + 79}, {SDL_SCANCODE_DOWN, 256 + 80},
    {SDL_SCANCODE_PAGEDOWN, 256 + 81}, {SDL_SCANCODE_INSERT, 256 + 82},
    {SDL_SCANCODE_DELETE, 256 + 83}, {SDL_SCANCODE_LGUI, 256 + 91}, {SDL_SCANCODE_RGUI, 256 + 92},
    {SDL_SCANCODE_APPLICATION, 256 + 93},
};

// SDL sends no text for these keys; the menus and the chat line need them as characters.
struct ControlChar {
  SDL_Scancode scancode;
  int character;
};
const ControlChar control_chars[] = {
    {SDL_SCANCODE_BACKSPACE, 8}, {SDL_SCANCODE_TAB, 9},    {SDL_SCANCODE_RETURN, 13},
    {SDL_SCANCODE_KP_ENTER, 13}, {SDL_SCANCODE_ESCAPE, 27}, {SDL_SCANCODE_DELETE, 127},
};

struct SdlJoystick {
  SDL_Joystick* joystick;
  SDL_JoystickID id;
  VelkDevice* device;
};
SdlJoystick joysticks[velk_max_devices];
int joystick_count = 0;
bool joystick_subsystem = false;
VelkDevice* mouse_device = nullptr;
VelkSdlWindowHandler window_handler = nullptr;

// SDL stamps events with the low 32 bits of its tick clock.
uint64_t event_time(uint32_t stamp) {
  uint64_t now = velk_time_ms();
  uint64_t t = (now & ~uint64_t{0xFFFFFFFF}) | stamp;
  if (t > now && t >= (uint64_t{1} << 32)) t -= uint64_t{1} << 32;
  return t > now ? now : t;
}

const char* sdl_key_name(int k) {
  for (const ScanKey& s : scan_keys)
    if (s.key == k) return SDL_GetScancodeName(s.scancode);
  return nullptr;
}

void sdl_read_pointer(VelkInput*, int* x, int* y) {
  int mx = 0, my = 0;
  SDL_GetMouseState(&mx, &my);
  SDL_Window* window = SDL_GetMouseFocus();
  if (!window) window = SDL_GetKeyboardFocus();
  if (window) {
    // Menus hit-test in drawable pixels, which differ from window points on HiDPI screens.
    int ww = 0, wh = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(window, &ww, &wh);
    SDL_GL_GetDrawableSize(window, &dw, &dh);
    if (ww > 0 && wh > 0 && dw > 0 && dh > 0) {
      mx = static_cast<int>(static_cast<long long>(mx) * dw / ww);
      my = static_cast<int>(static_cast<long long>(my) * dh / wh);
    }
  }
  *x = mx;
  *y = my;
}

int joystick_read_axis(VelkDevice* device, int axis) {
  const SdlJoystick* j = static_cast<const SdlJoystick*>(device->user);
  int v = SDL_JoystickGetAxis(j->joystick, axis);
  return v < -32767 ? -32767 : v;
}

int joystick_read_button(VelkDevice* device, int button) {
  const SdlJoystick* j = static_cast<const SdlJoystick*>(device->user);
  return SDL_JoystickGetButton(j->joystick, button);
}

void joystick_destroy(VelkDevice* device) {
  SdlJoystick* j = static_cast<SdlJoystick*>(device->user);
  SDL_JoystickClose(j->joystick);
  j->joystick = nullptr;
  j->device = nullptr;
}

const VelkDeviceOps joystick_ops = {nullptr, nullptr, joystick_read_axis, joystick_read_button,
                                    joystick_destroy};

void mouse_destroy(VelkDevice*) { mouse_device = nullptr; }
const VelkDeviceOps mouse_ops = {nullptr, nullptr, nullptr, nullptr, mouse_destroy};

VelkDevice* joystick_device(SDL_JoystickID id) {
  for (int i = 0; i < joystick_count; i++)
    if (joysticks[i].device && joysticks[i].id == id) return joysticks[i].device;
  return nullptr;
}

void enumerate_joysticks(VelkInput* in) {
  int n = SDL_NumJoysticks();
  for (int i = 0; i < n && joystick_count < velk_max_devices; i++) {
    SDL_Joystick* joy = SDL_JoystickOpen(i);
    if (!joy) {
      velk_log("Can't create \"Joystick %d\"\n", i + 1);
      continue;
    }
    // Instance names follow the enumeration order so that "Joystick1.axis[0]" and the other
    // aliases find the first stick whatever its product name.
    char instance[32];
    std::snprintf(instance, sizeof instance, "Joystick %d", i + 1);
    const char* product = SDL_JoystickName(joy);
    SdlJoystick* slot = &joysticks[joystick_count];
    *slot = SdlJoystick{joy, SDL_JoystickInstanceID(joy), nullptr};
    VelkDevice* d = velk_input_add_device(in, instance, product ? product : "", SDL_JoystickNumAxes(joy),
                                          SDL_JoystickNumButtons(joy), false, &joystick_ops, slot);
    if (!d) {
      SDL_JoystickClose(joy);
      continue;
    }
    slot->device = d;
    joystick_count++;
  }
}

void queue_key(VelkInput* in, const SDL_KeyboardEvent& key, bool pressed) {
  int k = velk_sdl_scancode_to_key(key.keysym.scancode);
  uint64_t t = event_time(key.timestamp);
  if (k >= 0) velk_input_push(in, velk_code_key + k, pressed ? 1 : 0, t);
  if (!pressed) return;
  for (const ControlChar& c : control_chars)
    if (c.scancode == key.keysym.scancode) velk_input_push(in, c.character, 1, t);
}

void queue_text(VelkInput* in, const SDL_TextInputEvent& text) {
  uint64_t t = event_time(text.timestamp);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.text);
  while (*p) {
    unsigned cp;
    int extra;
    if (*p < 0x80) cp = *p, extra = 0;
    else if ((*p & 0xE0) == 0xC0) cp = *p & 0x1F, extra = 1;
    else if ((*p & 0xF0) == 0xE0) cp = *p & 0x0F, extra = 2;
    else if ((*p & 0xF8) == 0xF0) cp = *p & 0x07, extra = 3;
    else {
      p++;
      continue;
    }
    p++;
    bool ok = true;
    for (int i = 0; i < extra; i++, p++) {
      if ((*p & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (*p & 0x3F);
    }
    // Control characters come with their keys; text only brings printable ones.
    if (ok && cp <= 255 && cp >= 32 && cp != 127) velk_input_push(in, static_cast<int>(cp), 1, t);
  }
}

void pump_window(VelkInput* in) { velk_window_dispatch(static_cast<VelkWindow*>(in->pump_context)); }

void hook_open(VelkWindow* window) {
  VelkInput* in = new VelkInput();
  velk_input_init(in);
  in->pump = pump_window;
  in->pump_context = window;
  velk_input_sdl_open(in);
  velk_window_set_input(window, in);
  game_input = in;
}

void hook_close(VelkWindow* window) {
  VelkInput* in = static_cast<VelkInput*>(velk_window_input(window));
  if (!in) return;
  velk_input_sdl_close(in);
  velk_window_set_input(window, nullptr);
  if (game_input == in) game_input = nullptr;
  delete in;
}

void hook_event(VelkWindow* window, const SDL_Event* e) {
  if (VelkInput* in = static_cast<VelkInput*>(velk_window_input(window))) velk_input_sdl_event(in, e);
}

const VelkInputHooks input_hooks = {hook_open, hook_close, hook_event};

}  // namespace

void velk_input_sdl_install() { velk_set_input_hooks(&input_hooks); }

int velk_sdl_scancode_to_key(int scancode) {
  for (const ScanKey& s : scan_keys)
    if (s.scancode == scancode) return s.key;
  return -1;
}

void velk_input_sdl_open(VelkInput* in) {
  velk_set_clock_source(velk_sdl_ticks);
  velk_set_key_name_source(sdl_key_name);
  in->read_pointer = sdl_read_pointer;
  if (!in->pump) in->pump = velk_input_sdl_pump;
  if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_StartTextInput();

  if (!velk_option_bool("dinput", 1)) {
    velk_log("DirectInput disabled\n");
    return;
  }
  if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) {
      velk_log("Can't open direct input library\n");
      return;
    }
    joystick_subsystem = true;
  }
  SDL_JoystickEventState(SDL_ENABLE);
  velk_log("DirectInput roll call...\n");
  enumerate_joysticks(in);
  // The mouse as a device of its own (relative axes) only when every device kind is wanted.
  if (!velk_option_bool("dinputsticksonly", 1))
    mouse_device = velk_input_add_device(in, "Mouse", "System mouse", 2, 3, true, &mouse_ops, nullptr);
  velk_log("End of DirectInput roll call\n");
  velk_register_controller_aliases();
}

void velk_input_sdl_close(VelkInput* in) {
  velk_input_shutdown(in);
  joystick_count = 0;
  mouse_device = nullptr;
  if (joystick_subsystem) SDL_QuitSubSystem(SDL_INIT_JOYSTICK);
  joystick_subsystem = false;
  velk_set_key_name_source(nullptr);
  if (in->pump == velk_input_sdl_pump) in->pump = nullptr;
  in->read_pointer = nullptr;
}

bool velk_input_sdl_event(VelkInput* in, const SDL_Event* e) {
  switch (e->type) {
    case SDL_KEYDOWN:
      queue_key(in, e->key, true);
      return true;
    case SDL_KEYUP:
      queue_key(in, e->key, false);
      return true;
    case SDL_TEXTINPUT:
      queue_text(in, e->text);
      return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      int b = e->button.button;
      bool down = e->type == SDL_MOUSEBUTTONDOWN;
      uint64_t t = event_time(e->button.timestamp);
      if (b >= SDL_BUTTON_LEFT && b <= SDL_BUTTON_RIGHT)
        velk_input_push(in, velk_code_mouse_left + (b - SDL_BUTTON_LEFT), down ? 1 : 0, t);
      if (mouse_device) {
        // The mouse device numbers its buttons left, right, middle.
        static const int device_button[] = {0, 0, 2, 1};
        if (b >= SDL_BUTTON_LEFT && b <= SDL_BUTTON_RIGHT)
          velk_device_record_button(mouse_device, device_button[b], down ? 1 : 0, t);
      }
      return true;
    }
    case SDL_MOUSEMOTION:
      if (mouse_device) {
        velk_device_record_axis(mouse_device, 0, e->motion.xrel);
        velk_device_record_axis(mouse_device, 1, e->motion.yrel);
      }
      return true;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
      if (VelkDevice* d = joystick_device(e->jbutton.which))
        velk_device_record_button(d, e->jbutton.button, e->type == SDL_JOYBUTTONDOWN ? 1 : 0,
                                  event_time(e->jbutton.timestamp));
      return true;
    case SDL_JOYAXISMOTION:
    case SDL_JOYHATMOTION:
    case SDL_JOYBALLMOTION:
    case SDL_JOYDEVICEADDED:
    case SDL_JOYDEVICEREMOVED:
      return true;
    case SDL_QUIT:
      velk_input_push(in, velk_code_close, 1, event_time(e->quit.timestamp));
      return false;
    default:
      return false;
  }
}

void velk_input_sdl_pump(VelkInput* in) {
  SDL_Event e;
  while (SDL_PollEvent(&e))
    if (!velk_input_sdl_event(in, &e) && window_handler) window_handler(&e);
}

void velk_input_sdl_set_window_handler(VelkSdlWindowHandler handler) { window_handler = handler; }
