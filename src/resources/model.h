// ".vm" models: reading, the cache by name, level-of-detail companions, tangents, processor
// skinning, environment coordinates and the POV-Ray export. Drawing lives in model_gl.cpp.
#pragma once
#include <cstdint>

struct Stream;

// One mesh; the first mesh of a chain stands for the whole model.
struct Model {
  char* name;             // the data name the model was loaded by (every mesh has a copy)
  Model* next;            // next mesh of the same model
  int generation;         // the cache generation when last requested (first mesh)
  bool reflective;        // first mesh: some mesh of the model has mode -1
  uint32_t display_list;  // 0 when none
  int vertex_count, triangle_count, bone_count;
  float colour[4];
  float mode;             // specular exponent (>= 0), -1 reflection mesh, -2 self-lit
  // Per vertex; with bones the positions, normals and tangents hold 2V entries: the drawn
  // (skinned) values first, then the bind pose.
  float* positions;       // 3 floats, model frame, ft
  float* normals;         // 3 floats
  float* tangents;        // 3 floats
  float* uvs;             // 2 floats, v already flipped (1 - v of the file)
  float* weights;         // 4 floats, only with bones
  int32_t* bones;         // 4 bone numbers, only with bones
  int32_t* triangles;     // 3 vertex indices each
  float lod_threshold;    // as a lower-detail version: used from this distance on
  Model* lod_next;        // next lower-detail version (first meshes only)
};

constexpr float model_mode_reflection = -1.0f;
constexpr float model_mode_self_lit = -2.0f;
// A file asking for more than these is refused as damaged.
constexpr int model_max_vertices = 1 << 20;
constexpr int model_max_triangles = 1 << 21;
constexpr int model_max_bones = 256;

extern int model_generation;          // advanced by the race restart with the texture generation
extern bool model_reflections;        // the "reflections" setting
extern double model_lod_scale;        // "--lod-scale" or from "model_detail"
extern double model_lod_bias;         // "--lod-bias"
extern int64_t model_drawn_vertices;  // render statistics, grown by every mesh draw
extern int64_t model_drawn_triangles;

Model* model_load(const char* name);
Model* model_read(const char* name);
void model_free(Model* model);  // every mesh and lower-detail version; display lists too
const char* model_name(const Model* model);
bool model_reflects(const Model* model);
void model_purge();

// The version to draw at distance d (ft) from the world pass's camera.
const Model* model_choose_lod(const Model* model, double distance);
// Rotations are row-major 3 x 3 whose columns are the images of the x, y and z axes.
// Skins a mesh with bones on the processor: fills the drawn half of positions, normals and
// tangents from the bind half. Does nothing unless bone_count equals the mesh's.
void model_skin(Model* mesh, const float (*bind_joints)[3], const float (*joints)[3],
                const float (*rotations)[9], int bone_count);
// Environment-map coordinates of a reflection mesh seen from camera, written over its uvs.
void model_environment_uvs(Model* mesh, const float camera[3], const float position[3], const float rotation[9]);
void model_compute_tangents(Model* mesh);
bool model_export_pov(const Model* mesh, Stream* s);

// ---- The display-list seam, filled by the GL side ----
struct ModelGpuOps {
  uint32_t (*compile)(const Model* mesh);  // 0 when the mesh is to be drawn without a list
  void (*release)(uint32_t list);
};
// Installing ops compiles every cached mesh that has no list yet.
void model_set_gpu_ops(const ModelGpuOps* ops);

int model_cache_count();
void model_reset_for_tests();
