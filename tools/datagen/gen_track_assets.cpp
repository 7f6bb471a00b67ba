// Small assets of the generated tracks: PNG textures, ".vm" box models and ".shp" shapes.
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gen_track_assets.h"

namespace {

void png_append(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}

void png_flush_nothing(png_structp) {}

}  // namespace

uint32_t gen_hash(int x, int z, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(z) * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return h ^ (h >> 16);
}

float gen_random(int x, int z, uint32_t seed) {
  return static_cast<float>(gen_hash(x, z, seed) & 0xFFFFFF) / 16777216.0f;
}

float gen_smoothstep(float t) {
  if (t <= 0.0f) return 0.0f;
  if (t >= 1.0f) return 1.0f;
  return t * t * (3.0f - 2.0f * t);
}

float gen_value_noise(float x, float z, float cell, uint32_t seed) {
  float gx = x / cell, gz = z / cell;
  int ix = static_cast<int>(std::floor(gx)), iz = static_cast<int>(std::floor(gz));
  float fx = gen_smoothstep(gx - static_cast<float>(ix)), fz = gen_smoothstep(gz - static_cast<float>(iz));
  float a = gen_random(ix, iz, seed), b = gen_random(ix + 1, iz, seed);
  float c = gen_random(ix, iz + 1, seed), d = gen_random(ix + 1, iz + 1, seed);
  return (a + (b - a) * fx) * (1.0f - fz) + (c + (d - c) * fx) * fz;
}

std::vector<uint8_t> gen_png(int width, int height, int channels, const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info || setjmp(png_jmpbuf(png))) {
    fprintf(stderr, "kelvane_datagen: PNG encoding failed\n");
    exit(1);
  }
  png_set_write_fn(png, &out, png_append, png_flush_nothing);
  int type = channels == 4 ? PNG_COLOR_TYPE_RGBA : channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int r = 0; r < height; ++r)
    png_write_row(png, const_cast<png_bytep>(pixels.data() + static_cast<size_t>(r) * width * channels));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

void gen_texture(GenContext* ctx, const std::string& name, int size, uint32_t seed, const TexturePaint& paint) {
  std::vector<uint8_t> px(static_cast<size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      // Noise that wraps at the texture edge, so ground tiles repeat without seams.
      float n1 = 0, n2 = 0;
      for (int k = 0; k < 2; ++k) {
        int cell = k == 0 ? 16 : 4;
        int cells = size / cell;
        float gx = static_cast<float>(x) / cell, gy = static_cast<float>(y) / cell;
        int ix = static_cast<int>(gx), iy = static_cast<int>(gy);
        float fx = gen_smoothstep(gx - ix), fy = gen_smoothstep(gy - iy);
        auto at = [&](int i, int j) { return gen_random(i % cells, j % cells, seed + static_cast<uint32_t>(k)); };
        float v = (at(ix, iy) * (1 - fx) + at(ix + 1, iy) * fx) * (1 - fy) + (at(ix, iy + 1) * (1 - fx) + at(ix + 1, iy + 1) * fx) * fy;
        (k == 0 ? n1 : n2) = v;
      }
      float speck = gen_random(x, y, seed + 7);
      uint8_t rgba[4];
      paint(x, y, n1, n2, speck, rgba);
      for (int c = 0; c < 4; ++c) px[(static_cast<size_t>(y) * size + x) * 4 + c] = rgba[c];
    }
  }
  std::vector<uint8_t> png = gen_png(size, size, 4, px);
  gen_write_file(ctx, name, png.data(), png.size());
}

TexturePaint gen_ground_paint(int r, int g, int b, float grain, float pebbles) {
  return [=](int, int, float n1, float n2, float speck, uint8_t out[4]) {
    float shade = 0.82f + 0.22f * n1 + grain * (n2 - 0.5f);
    if (speck > 1.0f - pebbles) shade *= 1.25f;
    else if (speck < pebbles * 0.6f) shade *= 0.78f;
    int c[3] = {r, g, b};
    for (int k = 0; k < 3; ++k) {
      float v = static_cast<float>(c[k]) * shade;
      out[k] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    out[3] = 255;
  };
}

void VmModel::box(float x0, float y0, float z0, float x1, float y1, float z1, float u_scale) {
  struct Face {
    float n[3];
    int corners[4];  // indices into the 8 corners, counter-clockwise seen from outside
  };
  float cx[2] = {x0, x1}, cy[2] = {y0, y1}, cz[2] = {z0, z1};
  auto corner = [&](int k, float out[3]) {
    out[0] = cx[k & 1];
    out[1] = cy[(k >> 1) & 1];
    out[2] = cz[(k >> 2) & 1];
  };
  static const Face faces[6] = {
      {{1, 0, 0}, {1, 3, 7, 5}},  {{-1, 0, 0}, {4, 6, 2, 0}}, {{0, 1, 0}, {2, 6, 7, 3}},
      {{0, -1, 0}, {0, 1, 5, 4}}, {{0, 0, 1}, {4, 5, 7, 6}},  {{0, 0, -1}, {0, 2, 3, 1}},
  };
  static const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  for (const Face& f : faces) {
    int base = static_cast<int>(vertices.size());
    for (int k = 0; k < 4; ++k) {
      Vertex v{};
      corner(f.corners[k], v.p);
      for (int a = 0; a < 3; ++a) v.n[a] = f.n[a];
      v.uv[0] = uv[k][0] * u_scale;
      v.uv[1] = uv[k][1];
      vertices.push_back(v);
    }
    triangles.push_back({base, base + 1, base + 2});
    triangles.push_back({base, base + 2, base + 3});
  }
}

void VmModel::cone(float x, float y0, float z, float radius, float height, int sides) {
  int base = static_cast<int>(vertices.size());
  float slope = radius / height;
  for (int k = 0; k < sides; ++k) {
    float a0 = 6.2831853f * static_cast<float>(k) / static_cast<float>(sides);
    float a1 = 6.2831853f * static_cast<float>(k + 1) / static_cast<float>(sides);
    float am = 0.5f * (a0 + a1);
    float nl = std::sqrt(1.0f + slope * slope);
    float n[3] = {std::cos(am) / nl, slope / nl, std::sin(am) / nl};
    Vertex v0{{x + radius * std::cos(a0), y0, z + radius * std::sin(a0)}, {n[0], n[1], n[2]}, {0, 0}};
    Vertex v1{{x + radius * std::cos(a1), y0, z + radius * std::sin(a1)}, {n[0], n[1], n[2]}, {1, 0}};
    Vertex top{{x, y0 + height, z}, {n[0], n[1], n[2]}, {0.5f, 1}};
    int i = base + 3 * k;
    vertices.push_back(v0);
    vertices.push_back(top);
    vertices.push_back(v1);
    triangles.push_back({i, i + 1, i + 2});
  }
}

std::string VmModel::text() const {
  std::string s = "VM1\n";
  char line[256];
  snprintf(line, sizeof line, "%g 1 %g %g %g %d %d\n", static_cast<double>(mode), static_cast<double>(colour[0]),
           static_cast<double>(colour[1]), static_cast<double>(colour[2]), static_cast<int>(vertices.size()),
           static_cast<int>(triangles.size()));
  s += line;
  for (const Vertex& v : vertices) {
    // The reader stores 1 - v, so the file carries the flipped coordinate.
    snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", static_cast<double>(v.p[0]),
             static_cast<double>(v.p[1]), static_cast<double>(v.p[2]), static_cast<double>(v.n[0]),
             static_cast<double>(v.n[1]), static_cast<double>(v.n[2]), static_cast<double>(v.uv[0]),
             static_cast<double>(1.0f - v.uv[1]));
    s += line;
  }
  for (const Tri& t : triangles) {
    snprintf(line, sizeof line, "%d %d %d\n", t.a, t.b, t.c);
    s += line;
  }
  return s;
}

std::string gen_shape_text(const std::vector<ShapeBall>& balls) {
  std::string s = std::to_string(balls.size()) + "\n";
  char line[160];
  for (const ShapeBall& b : balls) {
    snprintf(line, sizeof line, "%g %g %g\n%g %g %g %g\n", static_cast<double>(b.x), static_cast<double>(b.y),
             static_cast<double>(b.z), static_cast<double>(b.radius), static_cast<double>(b.friction),
             static_cast<double>(b.stiffness), static_cast<double>(b.damping));
    s += line;
  }
  return s;
}
