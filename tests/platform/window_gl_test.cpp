// The SDL window under Xvfb: sizes, frames, mode changes, closing and the front-end entries.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>

#include "core/frontend.h"
#include "core/session.h"
#include "platform/window_sdl.h"

namespace {

bool have_display() {
  return getenv("DISPLAY") != nullptr;
}

// X servers settle sizes and mapping asynchronously: dispatch until the condition holds (or give
// up after a bounded number of rounds, and let the assertion report it).
template <typename Cond>
bool settle(VelkWindow* w, Cond cond) {
  for (int i = 0; i < 200; ++i) {
    velk_window_dispatch(w);
    if (cond()) return true;
    SDL_Delay(10);
  }
  return cond();
}

bool frame_size(VelkWindow* w, int* width, int* height) {
  const VelkFrameSize* s = velk_begin_frame(w);
  if (!s) return false;
  *width = s->width;
  *height = s->height;
  return velk_end_frame(w);
}

bool frame_is(VelkWindow* w, int width, int height) {
  int fw = 0, fh = 0;
  return frame_size(w, &fw, &fh) && fw == width && fh == height;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) GTEST_SKIP() << "no display";
  }
  void TearDown() override {
    velk_window_close(window);
    window = nullptr;
  }
  VelkWindow* window = nullptr;
};

TEST_F(WindowTest, WindowedRequestGivesThatClientSize) {
  window = velk_window_open("Kelvane test", 800, 600, 24, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(velk_window_fullscreen(window));
  ASSERT_TRUE(settle(window, [&] { return frame_is(window, 800, 600); }));
}

TEST_F(WindowTest, FrameLockPairing) {
  window = velk_window_open("Kelvane test", 320, 240, 16, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(velk_end_frame(window)) << "end without begin";
  ASSERT_TRUE(settle(window, [&] {
    const VelkFrameSize* s = velk_begin_frame(window);
    return s && s->width > 0;
  }));
  EXPECT_EQ(velk_begin_frame(window), nullptr) << "second begin while the frame is held";
  EXPECT_TRUE(velk_end_frame(window));
  EXPECT_FALSE(velk_end_frame(window));
  EXPECT_EQ(velk_begin_frame(nullptr), nullptr);
  EXPECT_FALSE(velk_end_frame(nullptr));
}

TEST_F(WindowTest, HiddenWindowIsNotDrawn) {
  window = velk_window_open("Kelvane test", 320, 240, 24, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  SDL_HideWindow(velk_window_sdl(window));
  EXPECT_TRUE(settle(window, [&] { return velk_begin_frame(window) == nullptr; }));
  SDL_ShowWindow(velk_window_sdl(window));
  EXPECT_TRUE(settle(window, [&] { return frame_is(window, 320, 240); }));
}

TEST_F(WindowTest, ModeRequestsWaitForTheFrameAndSwitch) {
  window = velk_window_open("Kelvane test", 400, 300, 24, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(settle(window, [&] { return frame_is(window, 400, 300); }));

  int dw = 0, dh = 0;
  velk_desktop_size(&dw, &dh);
  const VelkFrameSize* s = velk_begin_frame(window);
  ASSERT_NE(s, nullptr);
  // Full screen at the desktop size: no display mode change, just a full-screen window.
  velk_request_mode(window, 0, 0, 24 | velk_flag_fullscreen);
  velk_window_dispatch(window);
  EXPECT_FALSE(velk_window_fullscreen(window)) << "changed in the middle of a frame";
  EXPECT_TRUE(velk_end_frame(window));
  EXPECT_TRUE(settle(window, [&] { return velk_window_fullscreen(window) && frame_is(window, dw, dh); }));

  velk_request_mode(window, 640, 480, 24);
  EXPECT_TRUE(settle(window, [&] { return !velk_window_fullscreen(window) && frame_is(window, 640, 480); }));
}

// Opened full screen: the fitted mode's size (the desktop here, where no listed mode is closer).
TEST_F(WindowTest, OpenFullscreenAtTheFittedSize) {
  int dw = 0, dh = 0, fw = 0, fh = 0;
  velk_sdl_install_mode_source();
  velk_desktop_size(&dw, &dh);
  velk_fullscreen_fit(velk_display_modes(), 800, 600, dw, dh, &fw, &fh);
  window = velk_window_open("Kelvane test", 800, 600, 24 | velk_flag_fullscreen, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(velk_window_fullscreen(window));
  EXPECT_TRUE(settle(window, [&] { return frame_is(window, fw, fh); })) << fw << "x" << fh;
}

TEST_F(WindowTest, ModeListFromTheDisplay) {
  velk_sdl_install_mode_source();
  velk_display_modes_reset_for_tests();
  const VelkDisplayMode* list = velk_display_modes();
  ASSERT_NE(list[0].width, 0);
  int dw = 0, dh = 0;
  velk_desktop_size(&dw, &dh);
  EXPECT_EQ(list[0].width, dw);
  EXPECT_EQ(list[0].height, dh);
  for (const VelkDisplayMode* m = list; m->width != 0; ++m) {
    for (const VelkDisplayMode* n = m + 1; n->width != 0; ++n)
      EXPECT_FALSE(m->width == n->width && m->height == n->height && m->depth == n->depth);
  }
}

int close_calls = 0;

TEST_F(WindowTest, CloseFromTheFrameCallsTheHandlerOnce) {
  window = velk_window_open("Kelvane test", 320, 240, 24, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  close_calls = 0;
  velk_window_set_close_handler(window, [] { ++close_calls; });
  SDL_Event e = {};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(velk_window_sdl(window));
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  e = {};
  e.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
  velk_window_dispatch(window);
  EXPECT_EQ(close_calls, 1);
  EXPECT_TRUE(velk_window_close_requested(window));
  EXPECT_EQ(velk_begin_frame(window), nullptr);
}

// Every event reaches the input layer's hook, window events included.
int hook_events = 0, hook_opens = 0, hook_closes = 0;
const VelkInputHooks counting_hooks = {
    [](VelkWindow*) { ++hook_opens; },
    [](VelkWindow*) { ++hook_closes; },
    [](VelkWindow*, const SDL_Event* e) {
      if (e->type == SDL_USEREVENT) ++hook_events;
    },
};

TEST_F(WindowTest, InputHooksSeeOpenEventsAndClose) {
  hook_events = hook_opens = hook_closes = 0;
  velk_set_input_hooks(&counting_hooks);
  window = velk_window_open("Kelvane test", 320, 240, 24, 0, 16, 0, 0);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(hook_opens, 1);
  SDL_Event e = {};
  e.type = SDL_USEREVENT;
  SDL_PushEvent(&e);
  SDL_PushEvent(&e);
  velk_window_dispatch(window);
  EXPECT_EQ(hook_events, 2);
  velk_window_close(window);
  window = nullptr;
  EXPECT_EQ(hook_closes, 1);
  velk_set_input_hooks(nullptr);
}

TEST_F(WindowTest, FrontendEntriesAndQuitOnClose) {
  Frontend f = {};
  ASSERT_TRUE(frontend_sdl_install(&f));
  ASSERT_NE(f.window_create, nullptr);
  ASSERT_NE(f.window_destroy, nullptr);
  ASSERT_NE(f.begin_frame, nullptr);
  ASSERT_NE(f.end_frame, nullptr);
  ASSERT_NE(f.init_gl, nullptr);
  ASSERT_NE(f.pump_events, nullptr);
  EXPECT_EQ(f.audio_open, nullptr) << "audio is not the window's";

  session.quit = false;
  ASSERT_TRUE(f.window_create("Kelvane", 320, 240, 16, false, 16));
  ASSERT_NE(game_window, nullptr);
  FrameSize size = {0, 0};
  bool drawn = false;
  for (int i = 0; i < 200 && !drawn; ++i) {
    f.pump_events();
    drawn = f.begin_frame(&size);
    if (!drawn) SDL_Delay(10);
  }
  ASSERT_TRUE(drawn);
  EXPECT_EQ(size.width, 320);
  EXPECT_EQ(size.height, 240);
  EXPECT_TRUE(f.init_gl());
  EXPECT_TRUE(f.end_frame());

  SDL_Event e = {};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  e.window.windowID = SDL_GetWindowID(velk_window_sdl(game_window));
  SDL_PushEvent(&e);
  f.pump_events();
  EXPECT_TRUE(session.quit);
  session.quit = false;
  f.window_destroy();
  EXPECT_EQ(game_window, nullptr);
  f.window_destroy();  // twice is harmless
}

}  // namespace
