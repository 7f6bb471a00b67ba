// Track and demo lists from the file index.
#include "core/track_list.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/array.h"
#include "core/memory.h"
#include "platform/log.h"
#include "resources/data.h"
#include "resources/stream.h"

TrackList track_list;

namespace {

bool ends_with(const char* s, const char* suffix) {
  size_t n = strlen(s), m = strlen(suffix);
  return n >= m && strcmp(s + n - m, suffix) == 0;
}

const char* const terrain_names[] = {"/terrain.hf", "/terrain.hf.gz", "/terrain.hf.scram", "/terrain.hf.gz.scram"};

// The first line of "desc", at most 255 characters; null when the file is missing.
const char* read_display_name(const char* folder) {
  std::string name = std::string("@") + folder + "/desc";
  Stream* s = stream_open(name.c_str(), "rb");
  if (!s) return nullptr;
  char text[256];
  int n = 0;
  while (n < 255) {
    int c = stream_getc(s);
    if (c < 0 || c == '\r' || c == '\n' || c == 0) break;
    text[n++] = static_cast<char>(c);
  }
  text[n] = 0;
  stream_close(s);
  return intern_string(text);
}

}  // namespace

void track_list_build(TrackList* list, int debug_level) {
  track_list_free(list);
  Array<TrackEntry> tracks;
  Array<DemoEntry> demos;
  for (const char* const* p = data_file_list(); *p; ++p) {
    const char* file = *p;
    for (const char* suffix : terrain_names) {
      if (!ends_with(file, suffix)) continue;
      std::string folder(file, strlen(file) - strlen(suffix));
      const char* interned = intern_string(folder.c_str());
      // "terrain.hf" and "terrain.hf.gz" in one folder are one track.
      bool seen = false;
      for (int i = 0; i < tracks.count; ++i)
        if (strcasecmp(tracks.items[i].folder, interned) == 0) seen = true;
      if (seen) break;
      const char* display = read_display_name(interned);
      array_push(&tracks, TrackEntry{interned, display ? display : interned});
      break;
    }
    if (strncmp(file, "demos/", 6) == 0 && ends_with(file, ".kvdemo")) {
      const char* base = strrchr(file, '/') + 1;
      const char* dot = strrchr(base, '.');
      std::string name(base, static_cast<size_t>(dot - base));
      array_push(&demos, DemoEntry{intern_string(file), intern_string(name.c_str())});
    }
  }
  // A simple exchange sort keeps the order of equal names as the index gave them.
  for (int i = 0; i < tracks.count; ++i)
    for (int j = i + 1; j < tracks.count; ++j)
      if (strcasecmp(tracks.items[j].name, tracks.items[i].name) < 0) {
        TrackEntry t = tracks.items[i];
        tracks.items[i] = tracks.items[j];
        tracks.items[j] = t;
      }
  if (debug_level >= 1) {
    for (int i = 0; i < tracks.count; ++i) velk_log("%s -> %s\n", tracks.items[i].folder, tracks.items[i].name);
    for (int i = 0; i < demos.count; ++i) velk_log("%s -> %s\n", demos.items[i].file, demos.items[i].name);
  }
  list->tracks = tracks.items;
  list->track_count = tracks.count;
  list->selected = tracks.count ? 0 : -1;
  list->demos = demos.items;
  list->demo_count = demos.count;
  list->demo_page = 0;
}

void track_list_free(TrackList* list) {
  free(list->tracks);
  free(list->demos);
  *list = TrackList{};
  list->selected = -1;
}

int track_list_find(const TrackList* list, const char* folder) {
  if (!folder) return -1;
  for (int i = 0; i < list->track_count; ++i)
    if (strcmp(list->tracks[i].folder, folder) == 0) return i;
  return -1;
}

void track_list_select(TrackList* list, const char* folder) {
  int i = track_list_find(list, folder);
  if (i >= 0) list->selected = i;
}
