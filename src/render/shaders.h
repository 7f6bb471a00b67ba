// The seven GLSL programs, the current-program cache and the shared uniforms (environment, bones).
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

constexpr int shader_slot_count = 8;  // slot 0 is the fixed-function pipeline
constexpr int shader_max_bones = 10;

enum ShaderSlot : int {
  shader_fixed = 0,
  shader_lit = 1,
  shader_env = 2,
  shader_norm_lit = 3,
  shader_norm_env = 4,
  shader_norm_spec_lit = 5,
  shader_terrain_normals = 6,
  shader_terrain = 7,
};

// The "Use Shader Programs" setting; gl_startup stores what it was given.
extern bool shaders_wanted;

// Compiles and links slots 1..7 (needs both shader extensions). Any failure logs the info logs,
// deletes every program and leaves the shaders off. Leaves slot 0 current.
bool shaders_build();
// Detaches and deletes every program and shader; slot 0 becomes current.
void shaders_free();
// Wanted, capable and all seven programs built: the other render modules test this.
bool shaders_active();
// Terrain lighting by program: shaders active and a "Shaders/..." terrain method requested.
bool shaders_for_terrain(bool shader_method_requested);

// Makes slot 0..7 current unless it already is; other values are ignored, and so is a slot above
// 0 while the programs are not built. Each real switch is counted.
void shader_use(int slot);
int shader_current();
long shader_switch_count();  // switches since start-up (render statistics)
GLhandleARB shader_program(int slot);  // 0 for slot 0, out-of-range slots or unbuilt programs

// Uploads "envmat" into slots 2 and 4, then makes slot 0 current. m is row-major (m[3 * row +
// col]); the programs see the same matrix.
void shader_set_env_matrix(const float m[9]);
// For the current slot (nothing for slot 0): "nbones" = count and, when count > 0, "bone_c" and
// "bone_t" (count x 3 floats) and "bone_r" (count x 9 floats, each row-major: the columns are the
// images of the x, y and z axes). At most shader_max_bones bones are used.
void shader_set_bones(int count, const float* centres, const float* translations,
                      const float* rotations);

// The current-program cache on its own (no GL): true when slot must be made current; counts it.
struct ShaderCache {
  int current;
  long switches;
};
bool shader_cache_select(ShaderCache* cache, int slot);

// One program's sources, each stage in pieces joined in order (a null piece ends the list);
// shaders_build uses the built-in table of seven.
constexpr int shader_source_parts = 5;
struct ShaderSource {
  const char* name;
  const char* vertex[shader_source_parts];
  const char* fragment[shader_source_parts];
};
extern const ShaderSource shader_sources[shader_slot_count - 1];
// Tests: builds from another table of seven (to see a compile error handled).
bool shaders_build_from(const ShaderSource* sources);
