// Input names, aliases, devices, axes and the time-stamped event queue, without a backend.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/input.h"

namespace {

struct InputFixture : ::testing::Test {
  VelkInput input;
  void SetUp() override {
    velk_input_reset_for_tests();
    velk_input_init(&input);
  }
  void TearDown() override {
    velk_input_shutdown(&input);
    velk_input_reset_for_tests();
  }
  VelkDevice* add(const char* name, int axes, int buttons, bool relative = false,
                  const VelkDeviceOps* ops = nullptr) {
    return velk_input_add_device(&input, name, "test pad", axes, buttons, relative, ops, nullptr);
  }
  std::vector<VelkEvent> drain(uint64_t due = UINT64_MAX) {
    std::vector<VelkEvent> out;
    VelkEvent e;
    while (velk_next_event_stamped(&input, &e, due)) out.push_back(e);
    return out;
  }
};

TEST_F(InputFixture, KeyNamesResolveExactlyLooselyAndByNumber) {
  struct Case {
    const char* name;
    int code;
  } cases[] = {
      {"right ctrl", 4096 + 285}, {"RIGHT_CTRL", 4096 + 285}, {"Right\tCtrl", 4096 + 285},
      {"keypad enter", 4096 + 284}, {"0x1d", 4096 + 29},     {"0x1ff", 4096 + 511},
      {"x", 4096 + 45},           {"esc", 4096 + 1},         {"pause", 4096 + 69},
      {"page up", 4096 + 329},    {"Space", 4096 + 57},      {" ", 4096 + 57},
      {"\\", 4096 + 43},          {"num lock", 4096 + 325},  {"Close", 57005},
      {"Mouse Right", 8194},      {"cursor-left", 8192},     {"cursor-right", 8194},
      {"0x200", 0},               {"0x1dz", 0},              {"0x", 0},
      {"right  ctrl", 0},         {"bogus", 0},              {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(velk_bind_key(&input, c.name), c.code) << "'" << c.name << "'";
  EXPECT_EQ(velk_bind_key(&input, nullptr), 0);
  // Without an input (no window): keys still resolve, devices do not exist.
  EXPECT_EQ(velk_bind_key(nullptr, "right ctrl"), 4096 + 285);
  EXPECT_EQ(velk_bind_key(nullptr, "Pad.key[0]"), 0);
  EXPECT_EQ(velk_open_axis(nullptr, "cursor-x"), nullptr);
  EXPECT_STREQ(velk_key_name(nullptr, 4096 + 285), "Right Ctrl");
  EXPECT_EQ(velk_axis_names(nullptr)[0], nullptr);
}

const char* fake_os_name(int k) {
  if (k == 1) return "Escape";
  if (k == 28) return "Return";
  if (k == 45) return "X";
  return nullptr;
}

TEST_F(InputFixture, OperatingSystemNamesComeFirstAndBuiltInsStillMatch) {
  velk_set_key_name_source(fake_os_name);
  EXPECT_EQ(velk_bind_key(&input, "Return"), 4096 + 28);
  EXPECT_EQ(velk_bind_key(&input, "enter"), 4096 + 28);  // the built-in dictionary
  EXPECT_EQ(velk_bind_key(&input, "esc"), 4096 + 1);
  EXPECT_STREQ(velk_key_name(&input, 4096 + 1), "Escape");
  EXPECT_STREQ(velk_key_name(&input, 4096 + 29), "Left Ctrl");  // no system name: built-in
  EXPECT_STREQ(velk_key_name(&input, 4096 + 84), "0x54");       // neither
  // Interned: the same text for the same code.
  EXPECT_EQ(velk_key_name(&input, 4096 + 84), velk_key_name(&input, 4096 + 84));
  EXPECT_STREQ(velk_key_name(&input, 57005), "Close");
  EXPECT_STREQ(velk_key_name(&input, 8193), "Mouse Middle");
  EXPECT_EQ(velk_key_name(&input, 100), nullptr);
  EXPECT_EQ(velk_key_name(&input, 4096 + 512), nullptr);
}

TEST_F(InputFixture, DevicesGetUniqueNamesAndBases) {
  VelkDevice* a = add("Game Pad", 2, 8);
  VelkDevice* b = add("Game Pad", 2, 8);
  VelkDevice* c = add("Joy.Stick 1", 1, 1);
  ASSERT_TRUE(a && b && c);
  EXPECT_STREQ(a->name, "GamePad");
  EXPECT_STREQ(b->name, "GamePad#2");
  EXPECT_STREQ(c->name, "JoyStick1");
  EXPECT_NE(a->base, b->base);
  for (VelkDevice* d : {a, b, c}) {
    EXPECT_EQ(d->base % 65536, 0);
    EXPECT_GE(d->base, 65536);
    EXPECT_LE(d->base, 2147418112);
  }
  EXPECT_EQ(add("Nothing", 0, 0), nullptr);  // no buttons and no axes
  // s = 'a' = 97, t = 'b' = 98: (97 + 256 * 98) mod 32768 = 25185.
  EXPECT_EQ(velk_device_base_for(&input, "ab"), 25185 * 65536);
}

TEST_F(InputFixture, ControllerButtonNames) {
  VelkDevice* d = add("GamePad", 2, 300);
  ASSERT_TRUE(d);
  int code = velk_bind_key(&input, "GamePad.key[3]");
  EXPECT_EQ(code, d->base + 3);
  EXPECT_EQ(velk_bind_key(&input, "GamePad button 3"), code);
  EXPECT_TRUE(d->polling);
  EXPECT_STREQ(velk_key_name(&input, code), "GamePad button 3");
  EXPECT_EQ(velk_bind_key(&input, velk_key_name(&input, code)), code);
  for (const char* bad : {"GamePad.key[-1]", "GamePad button -3", "GamePad.key[256]",
                          "GamePad.key[4294967299]", "Nobody.key[0]", "GamePad.key[x]"})
    EXPECT_EQ(velk_bind_key(&input, bad), 0) << bad;
  VelkDevice* small = add("Small", 0, 4);
  EXPECT_EQ(velk_bind_key(&input, "Small.key[3]"), small->base + 3);
  EXPECT_EQ(velk_bind_key(&input, "Small.key[4]"), 0);  // beyond its buttons
}

TEST_F(InputFixture, AxesOpenByNameAndListOnlyAbsoluteAxes) {
  VelkDevice* pad = add("Joystick 1", 2, 2);
  add("Mouse", 2, 3, true);
  ASSERT_TRUE(pad);
  const char* const* names = velk_axis_names(&input);
  std::vector<std::string> listed;
  for (int i = 0; names[i]; i++) listed.push_back(names[i]);
  EXPECT_EQ(listed, (std::vector<std::string>{"Joystick1 axis 0", "Joystick1 axis 1"}));

  pad->axis_values[1] = -1234;
  VelkAxis* a = velk_open_axis(&input, "Joystick1.axis[1]");
  VelkAxis* b = velk_open_axis(&input, "Joystick1 axis 1");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(velk_read_axis(a), -1234);
  EXPECT_EQ(velk_read_axis(b), -1234);
  EXPECT_EQ(pad->open_axes, 2);
  velk_close_axis(a);
  velk_close_axis(b);
  EXPECT_EQ(pad->open_axes, 0);
  for (const char* bad : {"Joystick1.axis[2]", "Joystick1.axis[-1]", "Nobody.axis[0]", "Joystick1"})
    EXPECT_EQ(velk_open_axis(&input, bad), nullptr) << bad;

  // The controller aliases name the first and second stick.
  velk_register_controller_aliases();
  VelkAxis* aliased = velk_open_axis(&input, "joystick-a-y");
  ASSERT_TRUE(aliased);
  EXPECT_EQ(velk_read_axis(aliased), -1234);
  velk_close_axis(aliased);
  EXPECT_EQ(velk_bind_key(&input, "joystick-a-2"), pad->base + 1);
  EXPECT_EQ(velk_open_axis(&input, "joystick-b-x"), nullptr);  // no second stick
}

TEST_F(InputFixture, CursorAxesReadThePointer) {
  input.read_pointer = [](VelkInput*, int* x, int* y) {
    *x = 320;
    *y = 200;
  };
  VelkAxis* x = velk_open_axis(&input, "cursor-x");
  VelkAxis* y = velk_open_axis(&input, "cursor-y");
  ASSERT_TRUE(x && y);
  EXPECT_EQ(velk_read_axis(x), 320);
  EXPECT_EQ(velk_read_axis(y), 200);
  velk_close_axis(x);
  velk_close_axis(y);
  EXPECT_EQ(velk_axis_names(&input)[0], nullptr);  // never offered to a capture
}

TEST_F(InputFixture, RelativeAxisGivesTheMovementOnce) {
  VelkDevice* mouse = add("Mouse", 2, 3, true);
  VelkAxis* x = velk_open_axis(&input, "Mouse.axis[0]");
  ASSERT_TRUE(x);
  velk_device_record_axis(mouse, 0, 5);
  velk_device_record_axis(mouse, 0, 3);
  EXPECT_EQ(velk_read_axis(x), 8);
  EXPECT_EQ(velk_read_axis(x), 0);
  velk_close_axis(x);
}

TEST(InputAliases, FirstRegistrationWins) {
  velk_input_reset_for_tests();
  EXPECT_EQ(velk_alias("pedal", "Pedals.axis[0]"), 1);
  EXPECT_EQ(velk_alias("pedal", "Pedals.axis[1]"), 0);
  EXPECT_STREQ(velk_alias_lookup("pedal"), "Pedals.axis[0]");
  EXPECT_EQ(velk_alias_lookup("nothing"), nullptr);
  velk_input_reset_for_tests();
}

TEST_F(InputFixture, QueueIsFirstInFirstOutAndHonoursTheDueTime) {
  velk_input_push(&input, 4096 + 45, 1, 100);
  velk_input_push(&input, 'x', 1, 100);
  velk_input_push(&input, 4096 + 45, 0, 150);
  velk_input_push(&input, 4096 + 46, 1, 300);
  std::vector<VelkEvent> first = drain(200);
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].code, 4096 + 45);
  EXPECT_EQ(first[0].pressed, 1);
  EXPECT_EQ(first[1].code, 'x');
  EXPECT_EQ(first[2].pressed, 0);
  // Stamped after the due time: it waits for a later tick.
  EXPECT_EQ(velk_input_waiting(&input), 1);
  int code = 0, pressed = 0;
  EXPECT_EQ(velk_next_event_until(&input, &code, &pressed, 0, 299000), 0);
  EXPECT_EQ(velk_next_event_until(&input, &code, &pressed, 0, 300000), 1);
  EXPECT_EQ(code, 4096 + 46);
  EXPECT_EQ(velk_next_event(&input, &code, &pressed), 0);
}

TEST_F(InputFixture, FullQueueDropsPressesButKeepsReleases) {
  for (int i = 0; i < velk_queue_size; i++) velk_input_push(&input, 4096 + (i % 200), 1, i);
  velk_input_push(&input, 4096 + 300, 1, 1000);  // refused
  EXPECT_EQ(velk_input_waiting(&input), velk_queue_size);
  velk_input_push(&input, 4096 + 45, 0, 1001);   // kept: the newest press gives way
  EXPECT_EQ(velk_input_waiting(&input), velk_queue_size);
  std::vector<VelkEvent> all = drain();
  ASSERT_EQ(all.size(), static_cast<size_t>(velk_queue_size));
  EXPECT_EQ(all.back().code, 4096 + 45);
  EXPECT_EQ(all.back().pressed, 0);
  EXPECT_EQ(all[velk_queue_size - 2].time_ms, 254u);  // press 255 was the one dropped
  for (const VelkEvent& e : all) EXPECT_NE(e.code, 4096 + 300);

  // Releases only: a later release of the same key replaces the earlier one.
  for (int i = 0; i < velk_queue_size; i++) velk_input_push(&input, 4096 + i, 0, i);
  velk_input_push(&input, 4096 + 7, 0, 5000);
  all = drain();
  ASSERT_EQ(all.size(), static_cast<size_t>(velk_queue_size));
  EXPECT_EQ(all.back().code, 4096 + 7);
  EXPECT_EQ(all.back().time_ms, 5000u);
  int sevens = 0;
  for (const VelkEvent& e : all) sevens += e.code == 4096 + 7;
  EXPECT_EQ(sevens, 1);
}

int fake_button_state[8];
int read_fake_button(VelkDevice*, int b) { return fake_button_state[b]; }
const VelkDeviceOps fake_ops = {nullptr, nullptr, nullptr, read_fake_button, nullptr};

TEST_F(InputFixture, BufferedButtonChangesBecomeStampedEventsOnceBound) {
  std::memset(fake_button_state, 0, sizeof fake_button_state);
  VelkDevice* d = add("Pad", 0, 8, false, &fake_ops);
  ASSERT_TRUE(d);
  velk_device_record_button(d, 1, 1, 100);  // not polled yet: nothing is kept
  velk_device_poll(&input, d, 1000);
  EXPECT_EQ(velk_input_waiting(&input), 0);

  ASSERT_EQ(velk_bind_key(&input, "Pad.key[1]"), d->base + 1);
  velk_device_record_button(d, 1, 1, 100);
  velk_device_record_button(d, 1, 1, 120);  // no change: no event
  velk_device_record_button(d, 1, 0, 900);
  velk_device_poll(&input, d, 1000);
  std::vector<VelkEvent> e = drain();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].code, d->base + 1);
  EXPECT_EQ(e[0].pressed, 1);
  EXPECT_EQ(e[0].time_ms, 100u);
  EXPECT_EQ(e[1].pressed, 0);
  EXPECT_EQ(e[1].time_ms, 900u);

  // A device clock ahead of ours: the adjustment grows so that nothing is in the future.
  velk_device_record_button(d, 2, 1, 5000);
  velk_device_poll(&input, d, 1000);
  velk_device_record_button(d, 2, 0, 5100);
  velk_device_poll(&input, d, 2000);
  e = drain();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].time_ms, 1000u);
  EXPECT_EQ(e[1].time_ms, 1100u);
  EXPECT_TRUE(d->adjust_grew);

  // More changes than the buffer holds: the state is compared instead.
  for (int i = 0; i < velk_record_buffer_size + 5; i++) velk_device_record_button(d, 3, i % 2, 1500);
  fake_button_state[3] = 1;
  fake_button_state[4] = 1;
  velk_device_poll(&input, d, 3000);
  e = drain();
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e.back().code, d->base + 4);
  EXPECT_EQ(e.back().time_ms, 3000u);
  EXPECT_EQ(d->buttons[3], 1);
}

TEST_F(InputFixture, EmptyQueuePollsBoundDevices) {
  std::memset(fake_button_state, 0, sizeof fake_button_state);
  VelkDevice* d = add("Pad", 0, 2, false, &fake_ops);
  ASSERT_EQ(velk_bind_key(&input, "Pad button 0"), d->base);
  velk_device_record_button(d, 0, 1, 0);
  int code = 0, pressed = 0;
  ASSERT_EQ(velk_next_event(&input, &code, &pressed), 1);
  EXPECT_EQ(code, d->base);
  EXPECT_EQ(pressed, 1);
}

TEST(InputShutdown, OpenAxesOutliveTheirDevice) {
  velk_input_reset_for_tests();
  VelkInput input;
  velk_input_init(&input);
  VelkDevice* d = velk_input_add_device(&input, "Pad", "", 2, 0, false, nullptr, nullptr);
  d->axis_values[0] = 500;
  VelkAxis* a = velk_open_axis(&input, "Pad.axis[0]");
  VelkAxis* b = velk_open_axis(&input, "Pad.axis[1]");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(velk_read_axis(a), 500);
  velk_close_axis(b);
  velk_input_shutdown(&input);
  EXPECT_EQ(velk_read_axis(a), 0);
  velk_close_axis(a);
  velk_input_reset_for_tests();
}

}  // namespace
