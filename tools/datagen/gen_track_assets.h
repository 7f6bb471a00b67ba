// Shared pieces of the track generators: deterministic noise, textures, box models and shapes.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "datagen.h"

uint32_t gen_hash(int x, int z, uint32_t seed);
float gen_random(int x, int z, uint32_t seed);  // [0, 1)
float gen_smoothstep(float t);                  // 0 below 0, 1 above 1
float gen_value_noise(float x, float z, float cell, uint32_t seed);  // [0, 1), smooth

std::vector<uint8_t> gen_png(int width, int height, int channels, const std::vector<uint8_t>& pixels);

// Paints one texel from two octaves of wrapping noise and a per-texel random value.
using TexturePaint = std::function<void(int x, int y, float n1, float n2, float speck, uint8_t rgba[4])>;
void gen_texture(GenContext* ctx, const std::string& name, int size, uint32_t seed, const TexturePaint& paint);
TexturePaint gen_ground_paint(int r, int g, int b, float grain, float pebbles);

struct VmModel {
  struct Vertex {
    float p[3], n[3], uv[2];
  };
  struct Tri {
    int a, b, c;
  };
  float mode = 8.0f;  // specular exponent
  float colour[3] = {1, 1, 1};
  std::vector<Vertex> vertices;
  std::vector<Tri> triangles;
  void box(float x0, float y0, float z0, float x1, float y1, float z1, float u_scale = 1.0f);
  void cone(float x, float y0, float z, float radius, float height, int sides);
  std::string text() const;  // single-mesh "VM1" file
};

struct ShapeBall {
  float x, y, z, radius, friction, stiffness, damping;
};
std::string gen_shape_text(const std::vector<ShapeBall>& balls);
