// track_load / track_free: a track folder's files in their fixed order, and the track digest.
#include "track/track.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "bike/shape.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/options.h"
#include "platform/log.h"
#include "resources/stream.h"
#include "track/timing_gates.h"
#include "track/track_assets.h"
#include "track/track_objects.h"

Terrain track_terrain;
const char* track_name = nullptr;
const char* track_display_name = nullptr;
Digest track_digest;
TextureId track_map_texture = 0;

namespace {

// Feeds a whole file to the digest in 1024-byte blocks; a file that won't open adds nothing.
void digest_path(DigestContext* ctx, const char* path) {
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  uint8_t block[1024];
  for (;;) {
    size_t got = stream_read(s, block, sizeof block);
    if (got == 0) break;
    digest_update(ctx, block, got);
  }
  stream_close(s);
}

void digest_file(DigestContext* ctx, const char* folder, const char* name) {
  char path[1100];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  digest_path(ctx, path);
}

void debug_texture_memory(const char* when) {
  if (options.debug_level >= 1)
    velk_log("%lu bytes texture memory used after %s creation\n", static_cast<unsigned long>(track_texture_memory()),
             when);
}

void free_everything() {
  if (track_settings.editor && track_graphics.editor_release) track_graphics.editor_release();
  timing_gates_free();
  track_objects_free();
  terrain_free(&track_terrain);
  track_map_texture = 0;
}

}  // namespace

Stream* track_open_file(const char* folder, const char* name, const char* mode, bool required) {
  char path[1100];
  snprintf(path, sizeof path, "%s/%s", folder, name);
  Stream* s = stream_open(path, mode);
  if (!s && required) console_printf("Can't open '%.950s'", path);
  return s;
}

void track_read_display_name(const char* name, char* out, int size) {
  snprintf(out, static_cast<size_t>(size), "%s", name);
  char path[1100];
  snprintf(path, sizeof path, "@%s/desc", name);
  Stream* s = stream_open(path, "rb");
  if (!s) return;
  char line[256];
  int len = 0;
  for (;;) {
    int c = stream_getc(s);
    if (c < 0 || c == '\r' || c == '\n' || c == 0) break;
    if (len + 1 < static_cast<int>(sizeof line)) line[len++] = static_cast<char>(c);
  }
  line[len] = 0;
  stream_close(s);
  if (len > 0) snprintf(out, static_cast<size_t>(size), "%s", line);
}

void track_settings_from_options(const Options* o) {
  if (o->detail >= 0.0) track_settings.detail_threshold = static_cast<float>(o->detail);
  track_settings.editor = o->editor;
}

bool track_load(const char* name) {
  // One track at a time: whatever was loaded before goes first.
  if (track_name || track_terrain.heights) track_free();
  if (!name || !*name || strlen(name) > 900) {
    track_name = track_display_name = nullptr;
    return false;
  }
  char folder[1000];
  snprintf(folder, sizeof folder, "@%s", name);
  char display[256];
  track_read_display_name(name, display, sizeof display);
  track_name = intern_string(name);
  track_display_name = intern_string(display);

  DigestContext ctx;
  digest_begin(&ctx);
  track_objects_init();
  if (track_graphics.loading_screen) track_graphics.loading_screen();

  for (const char* f : {"tilemap", "terrain.hf", "terrain.png", "texturelist", "tileinfo"}) digest_file(&ctx, folder, f);
  if (options.debug_level >= 1) velk_log("Loading '%s'\n", folder);

  char path[1100];
  snprintf(path, sizeof path, "%s/lighting", folder);
  lighting_read(path);

  if (!terrain_load(&track_terrain, folder, track_settings.ground_method)) {
    free_everything();
    track_name = track_display_name = nullptr;
    return false;
  }
  if (options.debug_level >= 1)
    velk_log("%lu bytes texture memory used after hf creation\n", static_cast<unsigned long>(track_texture_memory()));

  digest_file(&ctx, folder, "timing_gates");
  snprintf(path, sizeof path, "%s/timing_gates", folder);
  timing_gates_load(path);

  // The roost particles draw through billboards of their own at the front of the list.
  track_objects.roost_billboard_first = track_objects.billboards.count;
  for (int k = 0; k < roost_particle_count; ++k) {
    Billboard b{};
    b.height = 1.0f;
    b.aspect = 1.0f;
    b.r = b.g = b.b = b.a = 255;
    array_push(&track_objects.billboards, b);
  }

  snprintf(path, sizeof path, "%s/flaggers", folder);
  flaggers_read(path);
  debug_texture_memory("flagger");
  snprintf(path, sizeof path, "%s/billboards", folder);
  billboards_read(path);
  debug_texture_memory("billboard");
  digest_file(&ctx, folder, "statues");
  snprintf(path, sizeof path, "%s/statues", folder);
  statues_read(path);
  debug_texture_memory("statue");

  snprintf(path, sizeof path, "%s/map.png", folder);
  track_map_texture = track_texture_load(path);
  statue_bins_rebuild();
  if (track_settings.editor && track_graphics.editor_attach) track_graphics.editor_attach(&track_terrain);

  // Every distinct shape file once, in the order the statues first name them.
  for (int k = 0; k < track_objects.statues.count; ++k) {
    const char* shape = track_objects.statues.items[k].shape_name;
    if (!shape) continue;
    bool seen = false;
    for (int j = 0; j < k && !seen; ++j) seen = track_objects.statues.items[j].shape_name == shape;
    if (!seen) digest_path(&ctx, shape);
  }
  track_digest = digest_end(&ctx);

  snprintf(path, sizeof path, "%s/cameras", folder);
  cameras_read(path);
  return true;
}

void track_free() {
  velk_log("Deallocating track\n");
  free_everything();
  track_name = track_display_name = nullptr;
  velk_log("Finished deallocating track\n");
}
