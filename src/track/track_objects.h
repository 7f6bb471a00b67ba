// Track objects: billboards, statues with their bins, flaggers, lighting and television cameras.
#pragma once
#include <cstdint>

#include "core/array.h"
#include "track/terrain.h"

struct Model;
struct CollisionShape;

struct Billboard {
  float x, y, z;      // ft, bottom centre; y absolute
  float height;       // ft
  float y_offset;     // ft above the ground, as in the file
  float aspect;       // width / height
  int sort_key;       // the world pass recomputes it every frame
  TextureId texture;
  uint8_t r, g, b, a;
  const char* texture_name;  // interned file name without the colour prefix; null = none
};

struct Statue {
  Model* model;
  CollisionShape* shape;  // owned by the statue
  TextureId texture, normal_texture, specular_texture;
  float x, y, z;       // ft, y absolute
  float y_offset;      // ft above the ground
  float angle;         // radians; >= 3.25 faces the camera, <= -2 pi stands upright
  float orientation[9];  // rows h', u, w
  float face_distance;
  int last_contact_tick;
  const char* model_name;    // interned names asked for, kept even when loading failed
  const char* texture_name;
  const char* shape_name;
};

struct StartFlagger {
  int billboard;
  TextureId textures[5];
  float p1[3], p2[3];  // y above the ground
  float walk_seconds;
};

struct LapFlagger {
  int billboard;
  TextureId textures[4];
};

struct Marshal {
  int billboard;
  TextureId normal_texture, alert_texture;
  int gates[4];  // -1 = none
};

struct Flaggers {
  bool has_start, has_lap;
  StartFlagger start;
  LapFlagger lap;
  Array<Marshal> marshals;
};

constexpr int max_flare_elements = 8;

struct FlareElement {
  float a, b;
  float colour[3];
  float size;
  TextureId texture;
};

struct Flare {
  float anchor[3];
  bool at_infinity;  // anchored by flare_vector
  int element_count;
  FlareElement elements[max_flare_elements];
};

enum SkyFace : int { sky_north = 0, sky_east, sky_south, sky_west, sky_up, sky_env, sky_face_count };

struct Lighting {
  float sun_vector[3];  // unit, towards the sun
  float sun_color[3];
  float ambient[3];
  float global_ambient[3];
  const char* sky_names[sky_face_count];  // interned; null = default
  TextureId sky[sky_face_count];
  Array<Flare> flares;
  float fog_colour[3];
  float fog_density;
  bool dynamic_lighting;
  float near_plane, far_plane;  // ft
};

struct TvCamera {
  float x, y, z;  // ft, y absolute
  float fov;      // degrees
  float autofovsize;
};

constexpr int statue_bin_side = 8;
constexpr int roost_particle_count = 2000;
constexpr int gate_camera_count = 256;

struct TrackObjects {
  Array<Billboard> billboards;  // roost particles, flaggers, then the file's billboards
  int roost_billboard_first;
  int first_file_billboard;
  Array<Statue> statues;        // start gates, then the file's statues
  int first_file_statue;
  Array<int> statue_bins[statue_bin_side * statue_bin_side];  // row (z) major
  Flaggers flaggers;
  Array<TvCamera> cameras;
  int gate_cameras[gate_camera_count];  // -1 = none
};

extern TrackObjects track_objects;
extern Lighting lighting;

// Objects are placed on the loaded track's terrain (track_terrain).
int billboard_add(float x, float y, float z, float height, float aspect, const char* texture);
int statue_add(float x, float y, float z, float angle, const char* model, const char* texture,
               const char* shape);
void statue_reground(Statue* statue);
void statue_bins_rebuild();
// Bin index along one axis for a coordinate, over the middle three quarters of the square.
int statue_bin_index(float c, float extent);

void billboards_read(const char* path);
void statues_read(const char* path);
void flaggers_read(const char* path);
void lighting_reset();
// Resets the lighting, reads the file when there is one, then applies fog and sky either way.
void lighting_read(const char* path);
void cameras_read(const char* path);
bool billboards_save(const char* folder);
bool statues_save(const char* folder);

void track_objects_init();  // empty lists, no cameras
void track_objects_free();  // every list and the statues' shapes
