// Loading and freeing the one track in play: its folder's files in their fixed order and the
// digest that identifies it to a server.
#pragma once
#include "core/digest.h"
#include "track/terrain.h"

struct Stream;

extern Terrain track_terrain;
extern const char* track_name;          // interned folder name; null when no track is loaded
extern const char* track_display_name;  // "desc" first line, or the folder name
extern Digest track_digest;
extern TextureId track_map_texture;

// Loads the track folder "@" + name (decompressed variants included), freeing the track
// loaded before. On failure everything the load created is freed and the name is cleared.
bool track_load(const char* name);
void track_free();
// Opens folder + "/" + name; prints "Can't open '...'" when required and it fails.
Stream* track_open_file(const char* folder, const char* name, const char* mode, bool required);
// "@" + name + "/desc" first line into out, or name itself when there is none.
void track_read_display_name(const char* name, char* out, int size);
// The command line's share of the track settings: "--detail" and "--editor".
struct Options;
void track_settings_from_options(const Options* o);
