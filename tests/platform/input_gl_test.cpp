// VELK input through SDL: pushed keyboard, text and mouse events, and virtual joysticks that
// are enumerated, read, stamped and bound by capture into the control channels; then the
// window's own path.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/bindings.h"
#include "core/session.h"
#include "platform/clock.h"
#include "platform/input.h"
#include "platform/input_sdl.h"
#include "platform/log.h"
#include "platform/window.h"
#include "platform/window_modes.h"
#include "platform/window_sdl.h"

namespace {

struct SdlInputFixture : ::testing::Test {
  VelkInput input;
  std::vector<SDL_Joystick*> sticks;

  // Virtual sticks must exist before the input enumerates them.
  virtual int virtual_sticks() const { return 0; }
  // VELK_OPTIONS for the input's switches, or null.
  virtual const char* switches() const { return nullptr; }

  void SetUp() override {
    if (switches()) {
      setenv("VELK_OPTIONS", switches(), 1);
      velk_log_reset_for_tests();
    }
    // Events and joysticks only: pushed events need no display, and leaving video alone keeps
    // the window tests of this program on their own driver.
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK), 0) << SDL_GetError();
    for (int i = 0; i < virtual_sticks(); i++) {
      int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 3, 4, 0);
      ASSERT_GE(index, 0) << SDL_GetError();
    }
    velk_input_reset_for_tests();
    velk_input_init(&input);
    velk_input_sdl_open(&input);
    for (int i = 0; i < virtual_sticks(); i++) sticks.push_back(SDL_JoystickOpen(i));
    session_init_bindings(&session);
    bindings_reset_defaults(&session);
    bindings_resolve(&session, &input);
    fixed_keys_resolve(&input);
  }

  void TearDown() override {
    binding_capture_cancel();
    bindings_close_axes(&session);
    fixed_keys_close();
    for (ChannelBinding& c : session.channel_bindings) binding_clear(&c.binding);
    for (KeyBinding& b : session.command_bindings) binding_clear(&b);
    for (SDL_Joystick* j : sticks) SDL_JoystickClose(j);
    velk_input_sdl_close(&input);
    for (int i = virtual_sticks() - 1; i >= 0; i--) SDL_JoystickDetachVirtual(i);
    SDL_QuitSubSystem(SDL_INIT_EVENTS | SDL_INIT_JOYSTICK);
    velk_input_reset_for_tests();
    if (switches()) {
      unsetenv("VELK_OPTIONS");
      velk_log_reset_for_tests();
    }
  }

  void push_key(SDL_Scancode scancode, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = scancode;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
  }

  // What the main loop does in one tick: the tick's events, then the watch and the sums.
  void tick() {
    for (float& c : session.channels) c = 0;
    VelkEvent e;
    while (velk_next_event_stamped(&input, &e, velk_time_ms())) {
      if (!binding_capture_event(&input, e.code, e.pressed)) bindings_key_event(&session, e.code, e.pressed);
    }
    bindings_tick(&session, &input);
  }

  std::vector<VelkEvent> drain() {
    std::vector<VelkEvent> out;
    VelkEvent e;
    while (velk_next_event_stamped(&input, &e, UINT64_MAX)) out.push_back(e);
    return out;
  }
};

TEST_F(SdlInputFixture, KeyboardEventsReachTheChannels) {
  EXPECT_STREQ(velk_key_name(&input, 4096 + 45), "X");
  EXPECT_STREQ(velk_key_name(&input, 4096 + 1), "Escape");
  EXPECT_EQ(velk_bind_key(&input, "right ctrl"), 4096 + 285);
  EXPECT_EQ(velk_bind_key(&input, "enter"), 4096 + 28);
  EXPECT_EQ(bindings_find(&session, "dab_key")->key_code, 4096 + 285);

  push_key(SDL_SCANCODE_X, true);
  push_key(SDL_SCANCODE_LEFT, true);
  push_key(SDL_SCANCODE_UP, true);
  tick();
  EXPECT_EQ(session.channels[channel_throttle], 1);
  EXPECT_EQ(session.channels[channel_steer], 1);
  EXPECT_EQ(session.channels[channel_shift], 1);
  push_key(SDL_SCANCODE_UP, false);
  push_key(SDL_SCANCODE_LEFT, false);
  push_key(SDL_SCANCODE_RIGHT, true);
  push_key(SDL_SCANCODE_DOWN, true);
  tick();
  EXPECT_EQ(session.channels[channel_steer], -1);
  EXPECT_EQ(session.channels[channel_shift], -1);
  EXPECT_EQ(session.channels[channel_throttle], 1);
  push_key(SDL_SCANCODE_X, false);
  push_key(SDL_SCANCODE_RCTRL, true);
  tick();
  EXPECT_EQ(session.channels[channel_throttle], 0);
  EXPECT_EQ(session.channels[channel_dab], 1);
}

TEST_F(SdlInputFixture, DefaultKeysAndEveryKeyNameRoundTrip) {
  struct Case {
    const char* name;
    int k;
  } defaults[] = {{"left", 331}, {"right", 333}, {"x", 45}, {"c", 46}, {"v", 47}, {"up", 328},
                  {"down", 336}, {"z", 44}, {"right ctrl", 285}, {"b", 48}, {"n", 49}, {"m", 50},
                  {"s", 31}, {"t", 20}, {"[", 26}, {"]", 27}, {"/", 53}, {"\\", 43}, {".", 52},
                  {"pause", 69}, {"enter", 28}, {"keypad enter", 284}, {"esc", 1}, {"page up", 329},
                  {"page down", 337}};
  for (const Case& c : defaults) EXPECT_EQ(velk_bind_key(&input, c.name), 4096 + c.k) << c.name;
  // A captured key is stored by its name; that name must lead back to the same key.
  for (int k = 0; k < velk_key_count; k++) {
    const char* name = velk_key_name(&input, 4096 + k);
    ASSERT_TRUE(name) << k;
    EXPECT_EQ(velk_bind_key(&input, name), 4096 + k) << k << " '" << name << "'";
  }
  EXPECT_EQ(velk_sdl_scancode_to_key(SDL_SCANCODE_KP_ENTER), 284);
  EXPECT_EQ(velk_sdl_scancode_to_key(SDL_SCANCODE_UNKNOWN), -1);
}

TEST_F(SdlInputFixture, CharactersControlKeysMouseAndClose) {
  push_key(SDL_SCANCODE_BACKSPACE, true);
  SDL_Event text{};
  text.type = SDL_TEXTINPUT;
  SDL_strlcpy(text.text.text, "a\xc3\xa9\xe2\x82\xac", sizeof text.text.text);  // a, é (233), €
  ASSERT_EQ(SDL_PushEvent(&text), 1);
  push_key(SDL_SCANCODE_RETURN, true);
  push_key(SDL_SCANCODE_RETURN, false);
  push_key(SDL_SCANCODE_KP_ENTER, true);
  SDL_Event click{};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.button = SDL_BUTTON_RIGHT;
  ASSERT_EQ(SDL_PushEvent(&click), 1);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&quit), 1);

  std::vector<VelkEvent> e = drain();
  std::vector<std::pair<int, int>> got;
  for (const VelkEvent& v : e) got.push_back({v.code, v.pressed});
  std::vector<std::pair<int, int>> want = {
      {4096 + 14, 1}, {8, 1}, {'a', 1}, {233, 1}, {4096 + 28, 1}, {13, 1},
      {4096 + 28, 0}, {4096 + 284, 1}, {13, 1}, {8194, 1}, {57005, 1}};
  EXPECT_EQ(got, want);
  // A control character carries its key's time stamp.
  ASSERT_GE(e.size(), 2u);
  EXPECT_EQ(e[0].time_ms, e[1].time_ms);
  for (const VelkEvent& v : e) EXPECT_LE(v.time_ms, velk_time_ms());
}

struct VirtualStickFixture : SdlInputFixture {
  int virtual_sticks() const override { return 2; }
  void set_axis(int stick, int axis, int value) {
    SDL_JoystickSetVirtualAxis(sticks[stick], axis, static_cast<Sint16>(value));
    SDL_JoystickUpdate();
  }
  void set_button(int stick, int button, bool down) {
    SDL_JoystickSetVirtualButton(sticks[stick], button, down ? 1 : 0);
    SDL_JoystickUpdate();
  }
};

TEST_F(VirtualStickFixture, SticksAreNamedByOrderAndReadByName) {
  ASSERT_TRUE(velk_find_device(&input, "Joystick1"));
  ASSERT_TRUE(velk_find_device(&input, "Joystick2"));
  std::vector<std::string> names;
  for (const char* const* n = velk_axis_names(&input); *n; n++) names.push_back(*n);
  EXPECT_EQ(names, (std::vector<std::string>{"Joystick1 axis 0", "Joystick1 axis 1", "Joystick1 axis 2",
                                             "Joystick2 axis 0", "Joystick2 axis 1", "Joystick2 axis 2"}));
  VelkAxis* y = velk_open_axis(&input, "joystick-a-y");
  VelkAxis* bx = velk_open_axis(&input, "Joystick2.axis[0]");
  ASSERT_TRUE(y && bx);
  set_axis(0, 1, -32768);
  set_axis(1, 0, 12345);
  EXPECT_EQ(velk_read_axis(y), -32767);  // the raw range is symmetric
  EXPECT_EQ(velk_read_axis(bx), 12345);
  velk_close_axis(y);
  velk_close_axis(bx);
}

TEST_F(VirtualStickFixture, BoundButtonsBecomeStampedEvents) {
  set_button(0, 3, true);  // no button of the stick is bound yet: no event
  EXPECT_TRUE(drain().empty());
  int code = velk_bind_key(&input, "joystick-a-2");
  VelkDevice* d = velk_find_device(&input, "Joystick1");
  ASSERT_EQ(code, d->base + 1);
  set_button(0, 1, true);
  uint64_t before = velk_time_ms();
  std::vector<VelkEvent> e = drain();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].code, code);
  EXPECT_EQ(e[0].pressed, 1);
  EXPECT_LE(e[0].time_ms, before);
  set_button(0, 1, false);
  e = drain();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].pressed, 0);
  EXPECT_STREQ(velk_key_name(&input, code), "Joystick1 button 1");
}

TEST_F(VirtualStickFixture, CaptureBindsAxesAndButtonsThatDriveTheChannels) {
  KeyBinding* throttle = bindings_find(&session, "throttle_key");
  KeyBinding* left = bindings_find(&session, "left_key");
  KeyBinding* upshift = bindings_find(&session, "upshift_key");

  binding_capture_start(throttle, &input);
  set_axis(1, 2, 30000);
  tick();
  ASSERT_FALSE(binding_capture_active());
  EXPECT_STREQ(throttle->axis_name, "Joystick2 axis 2");
  EXPECT_EQ(throttle->range_start, 0.0625f);
  EXPECT_EQ(throttle->range_end, 0.9375f);

  binding_capture_start(left, &input);
  set_axis(0, 0, -30000);
  tick();
  ASSERT_FALSE(binding_capture_active());
  EXPECT_STREQ(left->axis_name, "Joystick1 axis 0");
  EXPECT_EQ(left->range_start, -0.0625f);

  binding_capture_start(upshift, &input);
  set_button(0, 2, true);
  tick();
  ASSERT_FALSE(binding_capture_active());
  EXPECT_STREQ(upshift->key_name, "Joystick1 button 2");
  set_button(0, 2, false);
  tick();

  set_axis(1, 2, 32767);
  set_axis(0, 0, -32768);
  set_button(0, 2, true);
  tick();
  EXPECT_EQ(session.channels[channel_throttle], 1);
  EXPECT_EQ(session.channels[channel_steer], 1);
  EXPECT_EQ(session.channels[channel_shift], 1);
  set_axis(1, 2, 0);
  set_axis(0, 0, 0);
  set_button(0, 2, false);
  tick();
  EXPECT_EQ(session.channels[channel_throttle], 0);
  EXPECT_EQ(session.channels[channel_steer], 0);
  EXPECT_EQ(session.channels[channel_shift], 0);
}

// The game's path: the window opens the input through the hooks and its dispatch feeds it.
TEST(WindowInput, TheWindowOpensPumpsAndClosesTheInput) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
  velk_input_reset_for_tests();
  velk_input_sdl_install();
  VelkWindow* window = velk_window_open("Kelvane test", 320, 240, 24, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  ASSERT_NE(game_input, nullptr);
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.scancode = SDL_SCANCODE_Z;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  int code = 0, pressed = 0, found = 0;
  while (velk_next_event(game_input, &code, &pressed))
    if (code == 4096 + 44 && pressed) found++;
  EXPECT_EQ(found, 1);
  velk_window_close(window);
  EXPECT_EQ(game_input, nullptr);
  velk_set_input_hooks(nullptr);
  velk_input_reset_for_tests();
  velk_display_modes_reset_for_tests();  // the window cached the modes it saw
}

struct AllDevicesFixture : SdlInputFixture {
  int virtual_sticks() const override { return 1; }
  const char* switches() const override { return "[dinputsticksonly:off]"; }
};

TEST_F(AllDevicesFixture, TheMouseIsARelativeDevice) {
  ASSERT_TRUE(velk_find_device(&input, "Mouse"));
  ASSERT_TRUE(velk_find_device(&input, "Joystick1"));
  VelkAxis* x = velk_open_axis(&input, "mouse-x");
  ASSERT_TRUE(x);
  int left = velk_bind_key(&input, "mouse-left");
  ASSERT_NE(left, 0);
  SDL_Event motion{};
  motion.type = SDL_MOUSEMOTION;
  motion.motion.xrel = 5;
  ASSERT_EQ(SDL_PushEvent(&motion), 1);
  ASSERT_EQ(SDL_PushEvent(&motion), 1);
  SDL_Event click{};
  click.type = SDL_MOUSEBUTTONDOWN;
  click.button.button = SDL_BUTTON_LEFT;
  ASSERT_EQ(SDL_PushEvent(&click), 1);
  std::vector<VelkEvent> e = drain();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].code, velk_code_mouse_left);  // the window's button
  EXPECT_EQ(e[1].code, left);                  // and the device's
  EXPECT_EQ(velk_read_axis(x), 10);
  EXPECT_EQ(velk_read_axis(x), 0);
  velk_close_axis(x);
  // Relative axes are never offered to a capture.
  for (const char* const* n = velk_axis_names(&input); *n; n++) EXPECT_EQ(std::string(*n).find("Mouse"), std::string::npos);
}

struct NoControllersFixture : SdlInputFixture {
  int virtual_sticks() const override { return 1; }
  const char* switches() const override { return "[dinput:off]"; }
};

TEST_F(NoControllersFixture, KeyboardStillWorksWithoutControllers) {
  EXPECT_EQ(velk_find_device(&input, "Joystick1"), nullptr);
  EXPECT_EQ(velk_alias_lookup("joystick-a-x"), nullptr);
  EXPECT_EQ(velk_axis_names(&input)[0], nullptr);
  push_key(SDL_SCANCODE_X, true);
  tick();
  EXPECT_EQ(session.channels[channel_throttle], 1);
}

}  // namespace
