// The installed tracks and the recorded demos, as the menus offer them.
#pragma once

struct TrackEntry {
  const char* folder;   // interned folder name, as "--track" names it
  const char* name;     // interned display name: the first line of "desc", or the folder
};

struct DemoEntry {
  const char* file;     // interned data name below the roots, "demos/x.kvdemo"
  const char* name;     // interned display name: file name without folder and extension
};

struct TrackList {
  TrackEntry* tracks;
  int track_count;
  int selected;         // index into tracks, -1 when none
  DemoEntry* demos;
  int demo_count;
  int demo_page;        // the playback menu shows pages of 20
};

extern TrackList track_list;

// Builds both lists from data_file_list; tracks sorted by display name, case-insensitively.
void track_list_build(TrackList* list, int debug_level);
void track_list_free(TrackList* list);
// Selects the first track whose folder equals the name exactly; leaves the selection otherwise.
void track_list_select(TrackList* list, const char* folder);
// Index of the track with this folder name, or -1.
int track_list_find(const TrackList* list, const char* folder);
