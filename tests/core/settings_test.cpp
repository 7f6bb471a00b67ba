// The settings file: round trips, value kinds and their edge cases, presets, derived values,
// texture lists, bindings and their capture.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/bindings.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/session.h"
#include "core/settings.h"
#include "core/setup_file.h"
#include "platform/input.h"
#include "resources/data.h"
#include "test_support.h"

namespace {

struct SettingsFixture : ::testing::Test {
  DataRootsFixture roots;
  Settings s;
  void SetUp() override {
    session_init_bindings(&session);
    bindings_reset_defaults(&session);
    settings_set_defaults(&s);
    texture_lists_build_all(&s.setup);
  }
  void TearDown() override {
    for (ChannelBinding& c : session.channel_bindings) binding_clear(&c.binding);
    for (KeyBinding& b : session.command_bindings) binding_clear(&b);
  }
  void line(const char* key, const char* value) { settings_read_line(&s, &session, key, value); }
  std::string config_path() const { return roots.home + "config"; }
  void read_text(const std::string& text) {
    write_file(config_path(), text);
    ASSERT_TRUE(settings_read_file(&s, &session, "@config"));
  }
};

TEST_F(SettingsFixture, WriteReadWriteIsByteIdentical) {
  s.xres = 1024;
  s.laps = 12;
  s.slots[3] = 4;
  s.setup.roll_damping = 33.25;
  std::snprintf(s.setup.name, sizeof s.setup.name, "Rider");
  std::snprintf(s.server_name_hist[2], sizeof s.server_name_hist[2], "race.example");
  s.track = intern_string("hills");
  ASSERT_TRUE(binding_parse(bindings_find(&session, "throttle_key"), "(0.0625,0.9375)Joystick1 axis 0"));
  ASSERT_TRUE(settings_write_file(&s, &session, "@config"));
  std::string first = read_file(config_path());

  Settings again;
  settings_set_defaults(&again);
  bindings_reset_defaults(&session);
  ASSERT_TRUE(settings_read_file(&again, &session, "@config"));
  ASSERT_TRUE(settings_write_file(&again, &session, "@config"));
  EXPECT_EQ(read_file(config_path()), first);
  EXPECT_EQ(again.xres, 1024);
  EXPECT_STREQ(again.track, "hills");
  EXPECT_EQ(again.setup.roll_damping, 33.25);

  // The fixed order: the plain integers first, the setup in the middle, the bindings last.
  EXPECT_EQ(first.rfind("xres=1024\nyres=480\ndraw_fps=0\ndraw_time=0\ndraw_ping=1\nspy=0\ntrack=hills\n"
                        "record=No\nskill=Novice\nminutes=0.000000\nlaps=12.000000\nslot00=Empty\n", 0), 0u);
  EXPECT_NE(first.find("slot03=Robot (4 stroke)\n"), std::string::npos);
  size_t abort_at = first.find("time_trial_abort=Yes\nbike=450sxf(2013)\nname=Rider\n");
  size_t video_at = first.find("rider_mass_distribution=0.330000\nvideo_mode=Default Fullscreen\nserver_name=");
  size_t history_at = first.find("server_name_hist02=race.example\n");
  size_t bindings_at = first.find("demo_backups=0\nthrottle_key=(0.062500,0.937500)Joystick1 axis 0\n"
                                  "front_brake_key=(k)c\n");
  EXPECT_NE(abort_at, std::string::npos);
  EXPECT_LT(abort_at, video_at);
  EXPECT_LT(video_at, history_at);
  EXPECT_LT(history_at, bindings_at);
  EXPECT_NE(first.find("server_name_hist15=\n"), std::string::npos);
  EXPECT_TRUE(first.ends_with("\nconsole_key=(k)t\nscreenshot_key=(k)s\n"));
  EXPECT_EQ(first.find("use_fbo"), std::string::npos);
}

TEST_F(SettingsFixture, ValuesByKind) {
  struct Case {
    const char* key;
    const char* value;
    double expected;
    double Settings::*number;
    int Settings::*integer;
  } cases[] = {
      {"laps", "70", 50, &Settings::laps, nullptr},
      {"laps", "abc", 5, &Settings::laps, nullptr},
      {"laps", "nan", 5, &Settings::laps, nullptr},
      {"laps", "inf", 5, &Settings::laps, nullptr},
      {"laps", "1e999", 5, &Settings::laps, nullptr},
      {"laps", "-3", 0, &Settings::laps, nullptr},
      {"laps", " 7.5", 7.5, &Settings::laps, nullptr},
      {"fov", "9", 10, &Settings::fov, nullptr},
      {"xres", "10", 64, nullptr, &Settings::xres},
      {"xres", "99999", 16384, nullptr, &Settings::xres},
      {"xres", "800x", 800, nullptr, &Settings::xres},
      {"xres", "abc", 640, nullptr, &Settings::xres},
      {"xres", "99999999999", 640, nullptr, &Settings::xres},
      {"message_lines", "5000", console_ring_size, nullptr, &Settings::message_lines},
      {"message_lines", "-4", 0, nullptr, &Settings::message_lines},
      {"draw_ping", "-7", -7, nullptr, &Settings::draw_ping},
      {"record", "Yes", 1, nullptr, &Settings::record},
      {"record", "yes", 0, nullptr, &Settings::record},  // choices are exact
      {"skill", "Expert", 2, nullptr, &Settings::skill},
      {"Laps", "7", 5, &Settings::laps, nullptr},         // keys are exact
      {"use_fbo", "No", 1, nullptr, &Settings::render_texture},
      {"use_fbo", "Yes", 2, nullptr, &Settings::render_texture},
      {"use_fbo", "maybe", 0, nullptr, &Settings::render_texture},
  };
  for (const Case& c : cases) {
    settings_set_defaults(&s);
    line(c.key, c.value);
    double got = c.number ? s.*c.number : s.*c.integer;
    EXPECT_EQ(got, c.expected) << c.key << "=" << c.value;
  }
}

TEST_F(SettingsFixture, TextsAndHistory) {
  std::string long_name(200, 'n');
  line("server_name", long_name.c_str());
  EXPECT_EQ(std::string(s.server_name), long_name.substr(0, 127));
  std::string h126(126, 'h'), h127(127, 'h');
  line("server_name_hist00", h126.c_str());
  line("server_name_hist01", h127.c_str());
  EXPECT_EQ(std::string(s.server_name_hist[0]), h126);
  EXPECT_STREQ(s.server_name_hist[1], "");
  line("track", "dunes");
  EXPECT_EQ(s.track, intern_string("dunes"));
}

TEST_F(SettingsFixture, FileLinesLongLinesAndLaterLinesWin) {
  std::string tail_as_line = std::string(1100, 'x') + "laps=9\n";
  std::string exactly_1023 = "minutes=3" + std::string(1023 - 9, ' ') + "\n";
  read_text("laps=7\r\n" + tail_as_line + exactly_1023 + "no equals sign\nfov=100\nfov=120\n=5\nmessage_lines=12\nskill=Amateur");
  EXPECT_EQ(s.laps, 7);      // the long line's tail was not read as a line of its own
  EXPECT_EQ(s.minutes, 3);   // 1023 characters still fit
  EXPECT_EQ(s.fov, 120);
  EXPECT_EQ(s.skill, 1);     // last line without a line feed
  EXPECT_EQ(console_message_lines, 12);
}

TEST_F(SettingsFixture, MissingFileKeepsTheDefaultsAndWriteCreatesTheFolder) {
  EXPECT_FALSE(settings_read_file(&s, &session, "@config"));
  EXPECT_EQ(s.laps, 5);
  std::filesystem::remove_all(roots.home);
  ASSERT_TRUE(settings_write_file(&s, &session, "@config"));
  EXPECT_TRUE(file_exists(config_path()));
  EXPECT_FALSE(file_exists(config_path() + ".tmp"));
}

TEST_F(SettingsFixture, FailedWriteLeavesTheOldFile) {
  // A folder where the file should be: the rename fails and nothing is lost or left behind.
  std::filesystem::create_directories(config_path());
  write_file(config_path() + "/keep", "old");
  EXPECT_FALSE(settings_write_file(&s, &session, "@config"));
  EXPECT_EQ(read_file(config_path() + "/keep"), "old");
  EXPECT_FALSE(file_exists(config_path() + ".tmp"));
}

TEST_F(SettingsFixture, BikeAliasesAndTextureLists) {
  for (const char* name : {"crf250/rider_body-red.png", "rider_body-red_norm.png", "rider_body-blue.png.scram",
                           "rider_body-blue_spec.png.scram", "rider_body-x.jpg", "other-rider_body-y.png",
                           "crf250-works.png", "kx250f-green.png"})
    write_file(roots.home + name, "x");
  data_reset_for_tests();
  texture_lists_build_all(&s.setup);
  const TextureList& rider = texture_lists[texture_list_rider_body];
  std::map<std::string, std::string> got;
  for (int i = 1; i < rider.choices.count; i++) got[rider.choices.texts[i]] = rider.files[i];
  EXPECT_STREQ(rider.choices.texts[0], "default");
  EXPECT_EQ(rider.files[0], nullptr);
  EXPECT_EQ(got, (std::map<std::string, std::string>{{"red", "@crf250/rider_body-red.png"},
                                                     {"blue", "@rider_body-blue.png"}}));

  line("bike_texture", "works");  // not a choice of the current bike: ignored
  EXPECT_EQ(s.setup.bike_texture, 0);
  line("bike", "crf250");
  EXPECT_STREQ(bike_menu_table[s.setup.bike].name, "crf250(2008)");
  line("bike_texture", "works");
  EXPECT_STREQ(texture_lists[texture_list_bike].choices.texts[s.setup.bike_texture], "works");
  // An unknown bike keeps the model, rebuilds its list and resets its graphics.
  line("bike", "nosuchbike");
  EXPECT_STREQ(bike_menu_table[s.setup.bike].name, "crf250(2008)");
  EXPECT_EQ(s.setup.bike_texture, 0);
  line("bike", "kx250f");
  EXPECT_STREQ(bike_menu_table[s.setup.bike].name, "kx250f(2008)");
  ASSERT_EQ(texture_lists[texture_list_bike].choices.count, 2);
  EXPECT_STREQ(texture_lists[texture_list_bike].choices.texts[1], "green");
}

TEST_F(SettingsFixture, GraphicsPresetsAndTheirDetection) {
  EXPECT_EQ(graphics_preset_current(&s), preset_compatibility);
  EXPECT_STREQ(graphics_preset_label(&s), "Current Settings: Compatibility");
  const char* labels[] = {"Current Settings: Compatibility", "Current Settings: High FPS",
                          "Current Settings: Normal", "Current Settings: High Detail"};
  for (int p = 0; p < preset_count; p++) {
    graphics_preset_apply(&s, p);
    EXPECT_EQ(graphics_preset_current(&s), p);
    EXPECT_STREQ(graphics_preset_label(&s), labels[p]);
  }
  graphics_preset_apply(&s, preset_high_fps);
  EXPECT_EQ(s.render_texture, 2);
  EXPECT_EQ(s.use_shader, 0);
  EXPECT_EQ(s.roost_density, 0);
  s.model_detail = 26;
  EXPECT_EQ(graphics_preset_current(&s), -1);
  EXPECT_STREQ(graphics_preset_label(&s), "Current Settings: Custom");
}

TEST_F(SettingsFixture, DerivedValues) {
  DerivedValues d;
  settings_derive(&s, &d);  // Compatibility
  EXPECT_DOUBLE_EQ(d.ground_detail_scale, 0.125 / 70);
  EXPECT_EQ(d.ground_texture_reduction, 1);
  EXPECT_EQ(d.ground_texture_size, 64);
  EXPECT_DOUBLE_EQ(d.model_lod_scale, 1.0);
  EXPECT_DOUBLE_EQ(d.model_lod_bias, 0);
  EXPECT_EQ(d.model_texture_reduction, 1);
  EXPECT_EQ(d.roost_rate, 1000);
  EXPECT_TRUE(d.ground_mipmaps);

  s.ground_detail = 0;  // a divisor: never below 1
  s.model_detail = 20;
  s.ground_texture_dim = 5;
  s.ground_texture_detail = 0;
  s.roost_density = 455.9;
  settings_derive(&s, &d);
  EXPECT_DOUBLE_EQ(d.ground_detail_scale, 0.125);
  EXPECT_EQ(d.ground_texture_size, 1024);
  EXPECT_EQ(d.ground_texture_reduction, 10);
  EXPECT_DOUBLE_EQ(d.model_lod_scale, 1.6 * 1.6 * 1.6);
  EXPECT_DOUBLE_EQ(d.model_lod_bias, 25);
  EXPECT_EQ(d.roost_rate, 455);
  s.model_detail = 0;
  settings_derive(&s, &d);
  EXPECT_DOUBLE_EQ(d.model_lod_scale, 8);
  EXPECT_DOUBLE_EQ(d.model_lod_bias, 50);
}

TEST_F(SettingsFixture, BindingValues) {
  KeyBinding* b = bindings_find(&session, "throttle_key");
  ASSERT_TRUE(b);
  EXPECT_STREQ(b->key_name, "x");
  struct Case {
    const char* value;
    const char* key;
    const char* axis;
    float start, end;
  } cases[] = {
      {"(k)right ctrl", "right ctrl", nullptr, 0, 1},
      {"right ctrl", "right ctrl", nullptr, 0, 1},
      {"  (k)up", "up", nullptr, 0, 1},
      {"(0.1,0.9)Joystick1.axis[0]", nullptr, "Joystick1.axis[0]", 0.1f, 0.9f},
      {"(-0.0625,-0.9375)Pad axis 2", nullptr, "Pad axis 2", -0.0625f, -0.9375f},
      {"(k)", nullptr, nullptr, 0, 1},
  };
  for (const Case& c : cases) {
    line("throttle_key", c.value);
    EXPECT_STREQ(b->key_name, c.key) << c.value;
    EXPECT_STREQ(b->axis_name, c.axis) << c.value;
    EXPECT_EQ(b->range_start, c.start) << c.value;
    EXPECT_EQ(b->range_end, c.end) << c.value;
  }
  // Refused: equal range ends (a division by zero) and ranges that are not finite.
  line("throttle_key", "(0.2,0.8)Pad axis 0");
  for (const char* refused : {"(0.5,0.5)Pad axis 1", "(nan,1)Pad axis 1", "(0,inf)Pad axis 1"}) {
    EXPECT_FALSE(binding_parse(b, refused)) << refused;
    EXPECT_STREQ(b->axis_name, "Pad axis 0");
    EXPECT_EQ(b->range_start, 0.2f);
  }
}

// An input with one stick whose axes tests set directly.
struct CaptureFixture : SettingsFixture {
  VelkInput input;
  VelkDevice* pad = nullptr;
  void SetUp() override {
    SettingsFixture::SetUp();
    velk_input_reset_for_tests();
    velk_input_init(&input);
    pad = velk_input_add_device(&input, "Joystick 1", "test", 3, 4, false, nullptr, nullptr);
    bindings_resolve(&session, &input);
    fixed_keys_resolve(&input);
  }
  void TearDown() override {
    binding_capture_cancel();
    bindings_close_axes(&session);
    fixed_keys_close();
    SettingsFixture::TearDown();
    velk_input_shutdown(&input);
    velk_input_reset_for_tests();
  }
  void tick_with(std::initializer_list<std::pair<int, int>> events) {
    for (float& c : session.channels) c = 0;
    for (auto [code, pressed] : events) {
      if (!binding_capture_event(&input, code, pressed)) bindings_key_event(&session, code, pressed);
    }
    bindings_tick(&session, &input);
  }
};

TEST_F(CaptureFixture, KeysDriveTheChannels) {
  int x = velk_bind_key(&input, "x"), left = velk_bind_key(&input, "left"), right = velk_bind_key(&input, "right");
  int up = velk_bind_key(&input, "up");
  EXPECT_EQ(bindings_find(&session, "throttle_key")->key_code, x);
  tick_with({{x, 1}, {left, 1}, {up, 1}});
  EXPECT_EQ(session.channels[channel_throttle], 1);
  EXPECT_EQ(session.channels[channel_steer], 1);
  EXPECT_EQ(session.channels[channel_shift], 1);
  tick_with({{right, 1}, {up, 0}});
  EXPECT_EQ(session.channels[channel_steer], 0);  // left and right cancel
  EXPECT_EQ(session.channels[channel_throttle], 1);  // still held
  EXPECT_EQ(session.channels[channel_shift], 0);
  tick_with({{x, 0}, {0, 1}});  // character 0 is nobody's key
  EXPECT_EQ(session.channels[channel_throttle], 0);
}

TEST_F(CaptureFixture, CaptureBindsAKeyAndEscCancels) {
  KeyBinding* b = bindings_find(&session, "clutch_key");
  binding_capture_start(b, &input);
  EXPECT_TRUE(binding_capture_active());
  int q = velk_bind_key(&input, "q");
  EXPECT_FALSE(binding_capture_event(&input, q, 0));   // releases are ignored
  EXPECT_FALSE(binding_capture_event(&input, 'q', 1)); // so are characters
  EXPECT_TRUE(binding_capture_event(&input, q, 1));
  EXPECT_FALSE(binding_capture_active());
  EXPECT_STREQ(b->key_name, "Q");
  EXPECT_EQ(b->key_code, q);

  binding_capture_start(b, &input);
  EXPECT_TRUE(binding_capture_event(&input, fixed_keys.esc, 1));
  EXPECT_FALSE(binding_capture_active());
  EXPECT_STREQ(b->key_name, "Q");
}

TEST_F(CaptureFixture, CaptureBindsTheLargestDeflectionAndSkipsOffCentreAxes) {
  KeyBinding* throttle = bindings_find(&session, "throttle_key");
  pad->axis_values[0] = 30000;  // a pedal resting at its end: never a candidate
  binding_capture_start(throttle, &input);
  EXPECT_EQ(pad->open_axes, 2);
  pad->axis_values[1] = 10000;  // below half its travel
  tick_with({});
  EXPECT_TRUE(binding_capture_active());
  pad->axis_values[1] = 17000;
  pad->axis_values[2] = -20000;
  tick_with({});
  EXPECT_FALSE(binding_capture_active());
  EXPECT_STREQ(throttle->axis_name, "Joystick1 axis 2");
  EXPECT_EQ(throttle->key_name, nullptr);
  EXPECT_EQ(throttle->range_start, -0.0625f);
  EXPECT_EQ(throttle->range_end, -0.9375f);
  EXPECT_EQ(pad->open_axes, 1);  // the other watched axes were closed

  pad->axis_values[2] = -16384;  // -0.5: (−0.5 + 0.0625) / (−0.875) = 0.5
  tick_with({});
  EXPECT_FLOAT_EQ(session.channels[channel_throttle], 0.5f);
  pad->axis_values[2] = 1000;
  tick_with({});
  EXPECT_EQ(session.channels[channel_throttle], 0);

  // Written with six decimals, read back to the same axis.
  settings_write_file(&s, &session, "@config");
  EXPECT_NE(read_file(config_path()).find("throttle_key=(-0.062500,-0.937500)Joystick1 axis 2\n"),
            std::string::npos);
}

TEST_F(CaptureFixture, InputTickTakesTheDueEventsAndPassesThemOn) {
  int x = velk_bind_key(&input, "x");
  velk_input_push(&input, x, 1, 100);
  velk_input_push(&input, velk_code_mouse_left, 1, 100);
  velk_input_push(&input, x, 0, 500);
  struct Seen {
    std::vector<std::pair<int, bool>> events;
  } seen;
  auto handler = [](void* c, int code, int, bool captured) {
    static_cast<Seen*>(c)->events.push_back({code, captured});
  };
  input_tick(&session, &input, 200, false, handler, &seen);
  EXPECT_EQ(session.channels[channel_throttle], 1);
  EXPECT_TRUE(session.cursor_left_held);
  EXPECT_EQ(seen.events.size(), 2u);
  // A capture takes the key, and the handler hears that it did.
  binding_capture_start(bindings_find(&session, "pause_key"), &input);
  velk_input_push(&input, velk_bind_key(&input, "p"), 1, 600);
  input_tick(&session, &input, 0, true, handler, &seen);  // the frame's last tick takes all
  ASSERT_EQ(seen.events.size(), 4u);
  EXPECT_FALSE(seen.events[2].second);  // the release of x
  EXPECT_TRUE(seen.events[3].second);
  EXPECT_EQ(session.channels[channel_throttle], 0);
  EXPECT_STREQ(bindings_find(&session, "pause_key")->key_name, "P");
  input_tick(&session, nullptr, 0, true, nullptr, nullptr);  // headless: sums only
  EXPECT_EQ(session.channels[channel_throttle], 0);
}

}  // namespace
