// Collision shapes: spheres fixed to a body, read from ".shp" files and cached by name.
#pragma once

struct ShapeSphere {
  float centre[3];  // ft, in the owning body's frame
  float radius;     // ft
  float friction;   // mu of contacts made by this sphere
  float stiffness;  // lbf/ft, shape-against-shape contacts only
  float damping;    // lbf s/ft, shape-against-shape contacts only
};

struct CollisionShape {
  const char* name;        // interned file name the shape was loaded by
  int sphere_count;        // 1..shape_max_spheres
  ShapeSphere* spheres;    // owned by this copy
  double* world_centres;   // 3 per sphere, ft, world frame; filled by the contact step
  float bound;             // ft: largest |centre| + radius
};

constexpr int shape_max_spheres = 1024;

// A private copy of the cached shape, or null when the file is missing or malformed.
CollisionShape* shape_load(const char* name);
void shape_free(CollisionShape* shape);
// Parses shape text already in memory (the loader and the fuzz target share it); null when bad.
CollisionShape* shape_parse(const char* text, const char* name);
// Forgets every cached shape (shutdown and tests).
void shape_cache_clear();

// The seven fixed shape files every bike uses, checked once at start-up against the digest of
// our generated data (kv_fixed_shapes_digest, from the build's digest source). The multiplayer
// client reports "Fixed file mismatch" while shape_files_ok is clear.
struct Digest;
extern bool shape_files_ok;
extern const char* const kv_fixed_shapes_digest;
void shape_files_check();
Digest shape_files_digest();  // RIPEMD-160 over their bytes, in their fixed order
