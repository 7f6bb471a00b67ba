// ".vm" model reading, the model cache with its level-of-detail companions, tangents, processor
// skinning, environment coordinates and the POV-Ray "mesh2" export.
#include "resources/model.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>

#include "core/array.h"
#include "core/console.h"
#include "core/memory.h"
#include "core/options.h"
#include "resources/data.h"
#include "resources/stream.h"

int model_generation = 0;
bool model_reflections = true;
double model_lod_scale = 1.0;
double model_lod_bias = 0.0;
int64_t model_drawn_vertices = 0;
int64_t model_drawn_triangles = 0;

namespace {

Array<Model*> cache;
const ModelGpuOps* gpu_ops = nullptr;

// Numbers separated by white space, one token at a time. A token longer than any number is an
// error, never silently cut into two numbers.
struct Tokens {
  Stream* s;
  char buf[64];

  // False at the end of the text or on an overlong token.
  bool next() {
    int c = stream_getc(s);
    while (c >= 0 && isspace(c)) c = stream_getc(s);
    if (c < 0) return false;
    size_t n = 0;
    while (c >= 0 && !isspace(c)) {
      if (n + 1 >= sizeof buf) return false;
      buf[n++] = char(c);
      c = stream_getc(s);
    }
    buf[n] = 0;
    return true;
  }

  // Skips one word of any length (the unused word of a version 2 header).
  bool skip_word() {
    int c = stream_getc(s);
    while (c >= 0 && isspace(c)) c = stream_getc(s);
    if (c < 0) return false;
    while (c >= 0 && !isspace(c)) c = stream_getc(s);
    return true;
  }

  bool number(float* out) {
    if (!next()) return false;
    char* end = nullptr;
    double v = strtod(buf, &end);
    if (end == buf || *end != 0 || !std::isfinite(v) || std::fabs(v) > 3.0e38) return false;
    *out = float(v);
    return true;
  }

  bool integer(int* out, long lo, long hi) {
    if (!next()) return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(buf, &end, 10);
    if (end == buf || *end != 0 || errno == ERANGE || v < lo || v > hi) return false;
    *out = int(v);
    return true;
  }
};

Model* new_mesh(const char* name, int vertices, int triangles, int bones) {
  Model* m = static_cast<Model*>(xcalloc(1, sizeof(Model)));
  m->name = xstrdup(name);
  m->vertex_count = vertices;
  m->triangle_count = triangles;
  m->bone_count = bones;
  const size_t v = size_t(vertices), halves = bones > 0 ? 2 : 1;
  m->positions = static_cast<float*>(xcalloc(v * 3 * halves + 1, sizeof(float)));
  m->normals = static_cast<float*>(xcalloc(v * 3 * halves + 1, sizeof(float)));
  m->tangents = static_cast<float*>(xcalloc(v * 3 * halves + 1, sizeof(float)));
  m->uvs = static_cast<float*>(xcalloc(v * 2 + 1, sizeof(float)));
  if (bones > 0) {
    m->weights = static_cast<float*>(xcalloc(v * 4, sizeof(float)));
    m->bones = static_cast<int32_t*>(xcalloc(v * 4, sizeof(int32_t)));
  }
  m->triangles = static_cast<int32_t*>(xcalloc(size_t(triangles) * 3 + 1, sizeof(int32_t)));
  return m;
}

void free_mesh(Model* m) {
  if (m->display_list && gpu_ops) gpu_ops->release(m->display_list);
  free(m->name);
  free(m->positions);
  free(m->normals);
  free(m->tangents);
  free(m->uvs);
  free(m->weights);
  free(m->bones);
  free(m->triangles);
  free(m);
}

// The four largest positive weights of one vertex, normalised; bone 0 alone when none.
// Returns the number of positive weights seen.
int keep_weights(const float* all, int bone_count, float w[4], int32_t b[4]) {
  int positive = 0;
  for (int i = 0; i < 4; i++) {
    w[i] = 0;
    b[i] = 0;
  }
  for (int j = 0; j < bone_count; j++) {
    if (!(all[j] > 0)) continue;
    positive++;
    int slot = -1;
    for (int i = 0; i < 4 && slot < 0; i++)
      if (w[i] == 0) slot = i;
    if (slot < 0) {
      slot = 0;
      for (int i = 1; i < 4; i++)
        if (w[i] < w[slot]) slot = i;
      if (!(all[j] > w[slot])) continue;
    }
    w[slot] = all[j];
    b[slot] = j;
  }
  float sum = w[0] + w[1] + w[2] + w[3];
  if (positive == 0 || !(sum > 0)) {
    for (int i = 0; i < 4; i++) {
      w[i] = 0.25f;
      b[i] = 0;
    }
    return positive;
  }
  for (int i = 0; i < 4; i++) w[i] /= sum;
  return positive;
}

// Reads V vertices and T triangles into a mesh; false on any read or range error.
bool read_mesh_data(Tokens* t, Model* m, const char* model_name) {
  const int V = m->vertex_count, B = m->bone_count;
  float* all = B > 0 ? static_cast<float*>(xmalloc(sizeof(float) * size_t(B))) : nullptr;
  bool warned = false;
  bool ok = true;
  for (int i = 0; i < V && ok; i++) {
    float* p = m->positions + size_t(i) * 3;
    float* n = m->normals + size_t(i) * 3;
    float* uv = m->uvs + size_t(i) * 2;
    ok = t->number(&p[0]) && t->number(&p[1]) && t->number(&p[2]) && t->number(&n[0]) &&
         t->number(&n[1]) && t->number(&n[2]) && t->number(&uv[0]) && t->number(&uv[1]);
    uv[1] = 1.0f - uv[1];
    for (int j = 0; j < B && ok; j++) ok = t->number(&all[j]);
    if (ok && B > 0) {
      if (keep_weights(all, B, m->weights + size_t(i) * 4, m->bones + size_t(i) * 4) > 4 && !warned) {
        console_printf("Warning: vertex with more than 4 bone influences in '%.900s'", model_name);
        warned = true;
      }
    }
  }
  free(all);
  for (int i = 0; i < m->triangle_count * 3 && ok; i++)
    ok = t->integer(&m->triangles[i], 0, long(V) - 1);
  return ok;
}

void finish_mesh(Model* m) {
  model_compute_tangents(m);
  if (m->bone_count > 0) {
    const size_t n = size_t(m->vertex_count) * 3;
    memcpy(m->positions + n, m->positions, n * sizeof(float));
    memcpy(m->normals + n, m->normals, n * sizeof(float));
    memcpy(m->tangents + n, m->tangents, n * sizeof(float));
  }
  if (gpu_ops) m->display_list = gpu_ops->compile(m);
}

void compile_all(Model* model) {
  for (Model* lod = model; lod; lod = lod->lod_next)
    for (Model* m = lod; m; m = m->next)
      if (!m->display_list) m->display_list = gpu_ops->compile(m);
}

void add_lod_versions(Model* model, const char* name) {
  const char* file = name + 1;
  const char* dot = strrchr(file, '.');
  const char* slash = strrchr(file, '/');
  const size_t base = (dot && (!slash || dot > slash)) ? size_t(dot - file) : strlen(file);
  std::string loaded;  // the names already read, so "x_lod5.vm" and "x_lod5.vm.gz" count once
  for (const char* const* list = data_file_list(); *list; list++) {
    const char* e = *list;
    if (strncasecmp(e, file, base) != 0 || strncasecmp(e + base, "_lod", 4) != 0) continue;
    const char* p = e + base + 4;
    if (!isdigit(static_cast<unsigned char>(*p))) continue;
    int n = 0;
    while (isdigit(static_cast<unsigned char>(*p))) {
      if (n < 1000) n = n * 10 + (*p - '0');
      p++;
    }
    // Beyond 2^100 ft no camera ever gets; such a name is not a real companion.
    if (*p == 0 || n > 100) continue;
    std::string lod_name = std::string("@") + e;
    // The opener finds the compressed and scrambled variants itself; asked for by their own
    // names they would be read undecoded.
    for (const char* suffix : {".scram", ".gz"}) {
      const size_t n = strlen(suffix);
      if (lod_name.size() > n && lod_name.compare(lod_name.size() - n, n, suffix) == 0) lod_name.resize(lod_name.size() - n);
    }
    const std::string key = "\n" + lod_name + "\n";
    if (loaded.find(key) != std::string::npos) continue;
    loaded += key;
    Model* version = model_read(lod_name.c_str());
    if (!version) continue;
    version->lod_threshold = std::ldexp(1.0f, n);
    version->generation = model->generation;
    Model** pp = &model->lod_next;
    while (*pp && (*pp)->lod_threshold < version->lod_threshold) pp = &(*pp)->lod_next;
    version->lod_next = *pp;
    *pp = version;
  }
}

float length3(const float v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

void rotate(const float r[9], const float v[3], float out[3]) {
  for (int i = 0; i < 3; i++) out[i] = r[i * 3] * v[0] + r[i * 3 + 1] * v[1] + r[i * 3 + 2] * v[2];
}

}  // namespace

Model* model_read(const char* name) {
  Stream* s = stream_open(name, "rb");
  if (!s) return nullptr;
  Tokens t{s, {}};
  int c = stream_peekc(s);
  while (c >= 0 && isspace(c)) {
    stream_getc(s);
    c = stream_peekc(s);
  }
  Model* first = nullptr;
  if (c == 'V') {
    int version = 0, bones = 0;
    bool ok = t.next() && strncmp(t.buf, "VM", 2) == 0;
    if (ok) {
      if (t.buf[2] == 0) {
        ok = t.integer(&version, 1, 2);
      } else {
        char* end = nullptr;
        long v = strtol(t.buf + 2, &end, 10);
        ok = *end == 0 && (v == 1 || v == 2);
        version = int(v);
      }
    }
    if (ok && version == 2) ok = t.integer(&bones, 0, model_max_bones) && t.skip_word();
    Model** tail = &first;
    while (ok) {
      float mode, second, rgb[3];
      int V, T;
      if (!t.number(&mode) || !t.number(&second) || !t.number(&rgb[0]) || !t.number(&rgb[1]) ||
          !t.number(&rgb[2]) || !t.integer(&V, 0, model_max_vertices) || !t.integer(&T, 0, model_max_triangles))
        break;
      Model* m = new_mesh(name, V, T, bones);
      m->mode = mode;
      m->colour[0] = rgb[0];
      m->colour[1] = rgb[1];
      m->colour[2] = rgb[2];
      m->colour[3] = mode >= 0 ? 1.0f : second;
      if (!read_mesh_data(&t, m, name)) {
        free_mesh(m);
        if (!first) ok = false;
        break;
      }
      finish_mesh(m);
      *tail = m;
      tail = &m->next;
    }
    if (!ok && first) {
      model_free(first);
      first = nullptr;
    }
  } else {
    int V, T;
    if (t.integer(&V, 0, model_max_vertices) && t.integer(&T, 0, model_max_triangles)) {
      Model* m = new_mesh(name, V, T, 0);
      m->colour[0] = m->colour[1] = m->colour[2] = m->colour[3] = 1.0f;
      m->mode = 32;
      if (read_mesh_data(&t, m, name)) {
        finish_mesh(m);
        first = m;
      } else {
        free_mesh(m);
      }
    }
  }
  stream_close(s);
  if (!first) return nullptr;
  for (Model* m = first; m; m = m->next)
    if (m->mode == model_mode_reflection) first->reflective = true;
  return first;
}

void model_free(Model* model) {
  while (model) {
    Model* lod = model->lod_next;
    for (Model* m = model; m;) {
      Model* next = m->next;
      free_mesh(m);
      m = next;
    }
    model = lod;
  }
}

Model* model_load(const char* name) {
  for (int i = 0; i < cache.count; i++) {
    Model* m = cache.items[i];
    if (strcmp(m->name, name) != 0) {
      if (strcasecmp(m->name, name) != 0) continue;
      console_printf("Warning: case mismatch on '%.900s'", name);
    }
    m->generation = model_generation;
    return m;
  }
  Model* m = model_read(name);
  if (!m) return nullptr;
  m->generation = model_generation;
  array_push(&cache, m);
  if (name[0] == '@') add_lod_versions(m, name);
  return m;
}

const char* model_name(const Model* model) { return model ? model->name : nullptr; }

bool model_reflects(const Model* model) { return model && model_reflections && model->reflective; }

void model_purge() {
  for (int i = cache.count - 1; i >= 0; i--) {
    Model* m = cache.items[i];
    if (m->generation == 0 || m->generation == model_generation) continue;
    if (options.debug_level >= 1) console_printf("deleting model %.900s", m->name);
    model_free(m);
    memmove(&cache.items[i], &cache.items[i + 1], sizeof(Model*) * size_t(cache.count - i - 1));
    cache.count--;
  }
}

const Model* model_choose_lod(const Model* model, double distance) {
  const Model* chosen = model;
  const double d = distance * model_lod_scale;
  for (const Model* v = model->lod_next; v; v = v->lod_next) {
    const double k = v->lod_threshold - model_lod_bias;
    if (k > 0 && d * d < k * k) break;
    chosen = v;
  }
  return chosen;
}

void model_compute_tangents(Model* m) {
  const int V = m->vertex_count;
  float* tan = m->tangents;
  memset(tan, 0, sizeof(float) * size_t(V) * 3);
  const float tiny = std::ldexp(1.0f, -20);
  for (int i = 0; i < m->triangle_count; i++) {
    const int32_t* tri = m->triangles + size_t(i) * 3;
    const float* p0 = m->positions + size_t(tri[0]) * 3;
    const float* p1 = m->positions + size_t(tri[1]) * 3;
    const float* p2 = m->positions + size_t(tri[2]) * 3;
    const float* t0 = m->uvs + size_t(tri[0]) * 2;
    const float* t1 = m->uvs + size_t(tri[1]) * 2;
    const float* t2 = m->uvs + size_t(tri[2]) * 2;
    float e1[3], e2[3], t[3];
    for (int k = 0; k < 3; k++) {
      e1[k] = p1[k] - p0[k];
      e2[k] = p2[k] - p0[k];
    }
    const float du1 = t1[0] - t0[0], dv1 = t1[1] - t0[1];
    const float du2 = t2[0] - t0[0], dv2 = t2[1] - t0[1];
    const float det = du1 * dv2 - du2 * dv1;
    if (std::fabs(det) >= tiny) {
      float b[3];
      for (int k = 0; k < 3; k++) {
        t[k] = (e1[k] * dv2 - e2[k] * dv1) / det;
        b[k] = (e2[k] * du1 - e1[k] * du2) / det;
      }
      // Keep the tangent frame's handedness consistent with the winding of the triangle.
      const float tb[3] = {t[1] * b[2] - t[2] * b[1], t[2] * b[0] - t[0] * b[2], t[0] * b[1] - t[1] * b[0]};
      const float n[3] = {e2[1] * e1[2] - e2[2] * e1[1], e2[2] * e1[0] - e2[0] * e1[2], e2[0] * e1[1] - e2[1] * e1[0]};
      if (tb[0] * n[0] + tb[1] * n[1] + tb[2] * n[2] >= 0)
        for (int k = 0; k < 3; k++) t[k] = -t[k];
    } else {
      const float l1 = length3(e1), l2 = length3(e2);
      if (l1 == 0 && l2 == 0) {
        t[0] = tiny;
        t[1] = t[2] = 0;
      } else {
        const float* e = l2 >= l1 ? e2 : e1;
        const float l = l2 >= l1 ? l2 : l1;
        for (int k = 0; k < 3; k++) t[k] = e[k] / l * tiny;
      }
    }
    for (int v = 0; v < 3; v++)
      for (int k = 0; k < 3; k++) tan[size_t(tri[v]) * 3 + k] += t[k];
  }
  for (int i = 0; i < V; i++) {
    float* t = tan + size_t(i) * 3;
    const float l = length3(t);
    // A vertex that no triangle uses keeps a zero tangent rather than a NaN one.
    if (l > 0 && std::isfinite(l))
      for (int k = 0; k < 3; k++) t[k] /= l;
    else
      t[0] = t[1] = t[2] = 0;
  }
}

void model_skin(Model* m, const float (*bind_joints)[3], const float (*joints)[3],
                const float (*rotations)[9], int bone_count) {
  if (m->bone_count == 0 || bone_count != m->bone_count) return;
  const size_t V = size_t(m->vertex_count);
  for (size_t i = 0; i < V; i++) {
    float p[3] = {0, 0, 0}, n[3] = {0, 0, 0}, t[3] = {0, 0, 0};
    const float* bp = m->positions + (V + i) * 3;
    const float* bn = m->normals + (V + i) * 3;
    const float* bt = m->tangents + (V + i) * 3;
    for (int k = 0; k < 4; k++) {
      const float w = m->weights[i * 4 + k];
      const int b = m->bones[i * 4 + k];
      if (!(w > 0) || b < 0 || b >= bone_count) continue;
      const float rel[3] = {bp[0] - bind_joints[b][0], bp[1] - bind_joints[b][1], bp[2] - bind_joints[b][2]};
      float rp[3], rn[3], rt[3];
      rotate(rotations[b], rel, rp);
      rotate(rotations[b], bn, rn);
      rotate(rotations[b], bt, rt);
      for (int c = 0; c < 3; c++) {
        p[c] += w * (rp[c] + joints[b][c]);
        n[c] += w * rn[c];
        t[c] += w * rt[c];
      }
    }
    const float ln = length3(n), lt = length3(t);
    for (int c = 0; c < 3; c++) {
      m->positions[i * 3 + c] = p[c];
      m->normals[i * 3 + c] = ln > 0 ? n[c] / ln : 0;
      m->tangents[i * 3 + c] = lt > 0 ? t[c] / lt : 0;
    }
  }
}

void model_environment_uvs(Model* m, const float camera[3], const float position[3], const float r[9]) {
  const float c[3] = {position[0] - camera[0], position[1] - camera[1], position[2] - camera[2]};
  float cm[3];
  for (int j = 0; j < 3; j++) cm[j] = r[j] * c[0] + r[3 + j] * c[1] + r[6 + j] * c[2];
  const double two_pi = 6.283185307179586;
  for (int i = 0; i < m->vertex_count; i++) {
    const float* p = m->positions + size_t(i) * 3;
    const float* n = m->normals + size_t(i) * 3;
    const float e[3] = {cm[0] + p[0], cm[1] + p[1], cm[2] + p[2]};
    const float en = e[0] * n[0] + e[1] * n[1] + e[2] * n[2];
    const float refl[3] = {e[0] - 2 * en * n[0], e[1] - 2 * en * n[1], e[2] - 2 * en * n[2]};
    float w[3];
    rotate(r, refl, w);
    float* uv = m->uvs + size_t(i) * 2;
    const float l = length3(w);
    const double h = std::sqrt(double(w[0]) * w[0] + double(w[2]) * w[2]);
    // Straight up or down (or a zero vector) has no azimuth: the map's centre or rim is as good.
    if (!(l > 0) || !(h > 0)) {
      uv[0] = uv[1] = 0.5f;
      continue;
    }
    double y = w[1] / l;
    y = y > 1 ? 1 : y < -1 ? -1 : y;
    const double theta = std::acos(y) / two_pi;
    uv[0] = float(0.5 + theta * (w[0] / l) / (h / l));
    uv[1] = float(0.5 + theta * (w[2] / l) / (h / l));
  }
}

bool model_export_pov(const Model* m, Stream* s) {
  bool ok = stream_printf(s, "mesh2 {\n") >= 0;
  const int V = m->vertex_count, T = m->triangle_count;
  const float* blocks[2] = {m->positions, m->normals};
  const char* titles[2] = {"\tvertex_vectors {\n", "\tnormal_vectors {\n"};
  for (int b = 0; b < 2; b++) {
    ok = ok && stream_printf(s, "%s\t\t%d\n", titles[b], V) >= 0;
    for (int i = 0; i < V && ok; i++) {
      const float* v = blocks[b] + size_t(i) * 3;
      ok = stream_printf(s, "\t\t<%f,%f,%f>%s\n", v[0], v[1], v[2], i + 1 < V ? "," : "") >= 0;
    }
    ok = ok && stream_printf(s, "\t}\n") >= 0;
  }
  ok = ok && stream_printf(s, "\tuv_vectors {\n\t\t%d\n", V) >= 0;
  for (int i = 0; i < V && ok; i++)
    ok = stream_printf(s, "\t\t<%f,%f>%s\n", m->uvs[i * 2], m->uvs[i * 2 + 1], i + 1 < V ? "," : "") >= 0;
  ok = ok && stream_printf(s, "\t}\n\tface_indices {\n\t\t%d\n", T) >= 0;
  for (int i = 0; i < T && ok; i++) {
    const int32_t* t = m->triangles + size_t(i) * 3;
    ok = stream_printf(s, "\t\t<%d,%d,%d>%s\n", t[0], t[1], t[2], i + 1 < T ? "," : "") >= 0;
  }
  ok = ok && stream_printf(s, "\t}\n}\n") >= 0;
  return ok;
}

void model_set_gpu_ops(const ModelGpuOps* ops) {
  gpu_ops = ops;
  if (!ops) return;
  for (int i = 0; i < cache.count; i++) compile_all(cache.items[i]);
}

int model_cache_count() { return cache.count; }

void model_reset_for_tests() {
  for (int i = 0; i < cache.count; i++) model_free(cache.items[i]);
  array_free(&cache);
  gpu_ops = nullptr;
  model_generation = 0;
  model_drawn_vertices = 0;
  model_drawn_triangles = 0;
}
