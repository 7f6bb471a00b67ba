// Display modes: the cached mode list, the desktop size, the full-screen fit and the video mode choices.
#include "platform/window_modes.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/memory.h"
#include "platform/log.h"

namespace {

const VelkModeSource* mode_source = nullptr;
VelkDisplayMode* cached_modes = nullptr;
VelkDisplayMode empty_list[1] = {{0, 0, 0, 0}};
bool desktop_known = false;
int desktop_w = 640, desktop_h = 480;

bool usable_depth(int depth) {
  return depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
}

bool sane_mode(const VelkDisplayMode& m) {
  return m.width > 0 && m.height > 0 && m.width <= 65536 && m.height <= 65536;
}

void build_cache() {
  if (cached_modes) return;
  desktop_known = false;
  desktop_w = 640;
  desktop_h = 480;
  if (!mode_source) {
    cached_modes = empty_list;
    return;
  }
  VelkDisplayMode desktop = {0, 0, 0, 0};
  bool have_desktop = mode_source->desktop && mode_source->desktop(&desktop) && sane_mode(desktop);
  if (have_desktop) {
    desktop_known = true;
    desktop_w = desktop.width;
    desktop_h = desktop.height;
  }
  int count = mode_source->count ? mode_source->count() : 0;
  if (count < 0) count = 0;
  // A driver reporting absurd counts must not make us allocate without bound.
  if (count > 4096) count = 4096;
  VelkDisplayMode* reported = static_cast<VelkDisplayMode*>(xcalloc(count + 1, sizeof(VelkDisplayMode)));
  int got = 0;
  for (int i = 0; i < count; ++i) {
    VelkDisplayMode m = {0, 0, 0, 0};
    if (mode_source->get && mode_source->get(i, &m) && sane_mode(m)) reported[got++] = m;
  }
  cached_modes = static_cast<VelkDisplayMode*>(xcalloc(got + 2, sizeof(VelkDisplayMode)));
  velk_build_mode_list(have_desktop ? &desktop : nullptr, reported, got, cached_modes);
  free(reported);
}

}  // namespace

void velk_set_display_mode_source(const VelkModeSource* source) {
  mode_source = source;
}

int velk_build_mode_list(const VelkDisplayMode* desktop, const VelkDisplayMode* reported, int count,
                         VelkDisplayMode* out) {
  int n = 0;
  if (desktop) {
    if (usable_depth(desktop->depth)) {
      out[n++] = *desktop;
      velk_log("Registry mode is %dx%dx%d@%dhz\n", desktop->width, desktop->height, desktop->depth,
               desktop->refresh);
    } else {
      velk_log("Registry mode is %dx%dx%d@%dhz (ignored)\n", desktop->width, desktop->height,
               desktop->depth, desktop->refresh);
    }
  }
  for (int i = 0; i < count; ++i) {
    const VelkDisplayMode& m = reported[i];
    if (!usable_depth(m.depth)) {
      velk_log("Found mode %dx%dx%d@%dhz (ignored)\n", m.width, m.height, m.depth, m.refresh);
      continue;
    }
    bool seen = false;
    for (int j = 0; j < n && !seen; ++j)
      seen = out[j].width == m.width && out[j].height == m.height && out[j].depth == m.depth;
    // Refresh rates would otherwise multiply the list.
    if (seen) continue;
    out[n++] = m;
    velk_log("Found mode %dx%dx%d@%dhz\n", m.width, m.height, m.depth, m.refresh);
  }
  out[n] = VelkDisplayMode{0, 0, 0, 0};
  return n;
}

const VelkDisplayMode* velk_display_modes() {
  build_cache();
  return cached_modes;
}

void velk_desktop_size(int* width, int* height) {
  build_cache();
  *width = desktop_w;
  *height = desktop_h;
}

void velk_fullscreen_fit(const VelkDisplayMode* list, int width, int height, int desktop_width,
                         int desktop_height, int* out_width, int* out_height) {
  *out_width = desktop_width;
  *out_height = desktop_height;
  if (width == 0 || height == 0) return;
  long best = LONG_MAX;
  for (const VelkDisplayMode* m = list; m && m->width != 0; ++m) {
    if (m->width < width || m->height < height) continue;
    long waste = static_cast<long>(m->width) + m->height - width - height;
    if (waste < best) {
      best = waste;
      *out_width = m->width;
      *out_height = m->height;
    }
  }
}

int velk_video_mode_choices(const VelkDisplayMode* list, VelkVideoModeChoice* out, int max) {
  int n = 0;
  auto add = [&](const char* name, int w, int h) {
    if (n < max) out[n] = VelkVideoModeChoice{intern_string(name), w, h};
    ++n;
  };
  add("Default Fullscreen", 0, 0);
  add("Windowed", 0, 0);
  if (list && list[0].width != 0) {
    int depth = list[0].depth;
    for (const VelkDisplayMode* m = list; m->width != 0; ++m) {
      if (m->depth != depth) continue;
      char name[32];
      snprintf(name, sizeof name, "%dx%d", m->width, m->height);
      add(name, m->width, m->height);
    }
  }
  return n;
}

namespace {

VelkVideoModeChoice* choice_list = nullptr;
const char** choice_names = nullptr;
int choice_count = 0;

void build_choices() {
  if (choice_list) return;
  const VelkDisplayMode* modes = velk_display_modes();
  int n = velk_video_mode_choices(modes, nullptr, 0);
  choice_list = static_cast<VelkVideoModeChoice*>(xcalloc(n, sizeof(VelkVideoModeChoice)));
  choice_names = static_cast<const char**>(xcalloc(n, sizeof(const char*)));
  choice_count = velk_video_mode_choices(modes, choice_list, n);
  for (int i = 0; i < choice_count; ++i) choice_names[i] = choice_list[i].name;
}

}  // namespace

const VelkVideoModeChoice* velk_video_mode_list(int* count) {
  build_choices();
  if (count) *count = choice_count;
  return choice_list;
}

const char* const* velk_video_mode_names(int* count) {
  build_choices();
  if (count) *count = choice_count;
  return choice_names;
}

void velk_display_modes_reset_for_tests() {
  free(choice_list);
  free(choice_names);
  choice_list = nullptr;
  choice_names = nullptr;
  choice_count = 0;
  if (cached_modes && cached_modes != empty_list) free(cached_modes);
  cached_modes = nullptr;
}
