// The seven GLSL programs, the current-program cache and the shared uniforms (environment, bones).
#include "render/shaders.h"

#include <cstdlib>

#include "core/memory.h"
#include "platform/log.h"
#include "render/gl_caps.h"

// GLSL 1.10 through the ARB shader objects, so no "#version" line: every shader starts with the
// bone limit. Texture coordinate sets: 0 surface, 1 tangent, 2 bone weights, 3 bone indices.
namespace {

const char head[] = "#define MAX_BONE 10\n";

// Skinned transform shared by slots 1..5. Writes gl_Position, normal and viewer (eye space) and
// returns the eye-space tangent (not normalised).
const char skin_vs[] = R"(
uniform int nbones;
uniform vec3 bone_c[MAX_BONE];
uniform vec3 bone_t[MAX_BONE];
uniform mat3 bone_r[MAX_BONE];
varying vec3 normal;
varying vec3 viewer;

int bone_index(float f) {
  int b = int(f);
  if (b < 0) b = 0;
  if (b > MAX_BONE - 1) b = MAX_BONE - 1;
  return b;
}

void add_bone(float w, float f, inout vec3 p, inout vec3 n, inout vec3 t) {
  int b = bone_index(f);
  p += w * (bone_r[b] * (gl_Vertex.xyz - bone_c[b]) + bone_t[b]);
  n += w * (bone_r[b] * gl_Normal);
  t += w * (bone_r[b] * gl_MultiTexCoord1.xyz);
}

vec3 skin_transform() {
  vec3 t;
  vec4 eye;
  if (nbones > 0) {
    vec3 p = vec3(0.0);
    vec3 n = vec3(0.0);
    t = vec3(0.0);
    add_bone(gl_MultiTexCoord2.x, gl_MultiTexCoord3.x, p, n, t);
    add_bone(gl_MultiTexCoord2.y, gl_MultiTexCoord3.y, p, n, t);
    add_bone(gl_MultiTexCoord2.z, gl_MultiTexCoord3.z, p, n, t);
    add_bone(gl_MultiTexCoord2.w, gl_MultiTexCoord3.w, p, n, t);
    gl_Position = gl_ModelViewProjectionMatrix * vec4(p, 1.0);
    eye = gl_ModelViewMatrix * vec4(p, 1.0);
    normal = normalize(gl_NormalMatrix * n);
  } else {
    gl_Position = ftransform();
    eye = gl_ModelViewMatrix * gl_Vertex;
    normal = normalize(gl_NormalMatrix * gl_Normal);
    t = gl_MultiTexCoord1.xyz;
  }
  viewer = eye.xyz / eye.w;
  return gl_NormalMatrix * t;
}
)";

// Lighting terms of slots 1, 3 and 5: light 0 is directional.
const char light_vs[] = R"(
varying vec3 light;
varying vec4 ambient;
varying vec4 diffuse;

void lighting_terms() {
  light = normalize(gl_LightSource[0].position.xyz);
  diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;
  ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient
          + gl_LightModel.ambient * gl_FrontMaterial.ambient;
  ambient.a = min(ambient.a, 1.0);
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
}
)";

const char fog_fs[] = R"(
float fog_factor() {
  float z = gl_FragCoord.z / gl_FragCoord.w;
  return clamp(exp2(-1.442695 * gl_Fog.density * z), 0.0, 1.0);
}
)";

// Per-pixel Phong of slots 1, 3 and 5. The lit colour is clamped before the texture as the
// fixed-function pipeline does, and its alpha is the diffuse alpha, so that both paths blend alike.
const char phong_fs[] = R"(
uniform sampler2D tex;
varying vec3 normal;
varying vec3 viewer;
varying vec3 light;
varying vec4 ambient;
varying vec4 diffuse;

vec4 shade(vec3 n, vec3 spec_colour, float shininess) {
  vec3 l = normalize(light);
  float ndl = dot(n, l);
  vec4 c = vec4(ambient.rgb, diffuse.a);
  vec3 highlight = vec3(0.0);
  if (ndl > 0.0) {
    c.rgb += diffuse.rgb * ndl;
    float r = max(dot(reflect(normalize(viewer), n), l), 0.0);
    highlight = spec_colour * gl_LightSource[0].specular.rgb * pow(r, max(shininess, 0.0001));
  }
  c = clamp(c, 0.0, 1.0) * texture2D(tex, gl_TexCoord[0].st);
  c.rgb += highlight;
  return vec4(mix(gl_Fog.color.rgb, c.rgb, fog_factor()), c.a);
}
)";

// Angular environment map centred on straight up: the horizon is the circle of radius 0.25.
const char env_common_fs[] = R"(
uniform sampler2D tex;
uniform mat3 envmat;
varying vec3 normal;
varying vec3 viewer;

vec4 reflection(vec3 n) {
  vec3 r = normalize(envmat * reflect(viewer, n));
  float h = length(r.xz);
  vec2 dir = h > 0.0 ? r.xz / h : vec2(0.0);
  vec2 uv = dir * (acos(clamp(r.y, -1.0, 1.0)) / 6.2831853) + 0.5;
  return texture2D(tex, uv) * gl_Color;
}
)";

const char nmap_fs[] = R"(
uniform sampler2D nmap;
varying vec3 tangent;

vec3 mapped_normal() {
  vec3 n = normalize(normal);
  vec3 t = tangent - n * dot(n, tangent);
  float tl = length(t);
  t = tl > 0.0 ? t / tl : vec3(0.0);
  vec3 b = cross(n, t);
  vec3 m = texture2D(nmap, gl_TexCoord[0].st).rgb * 2.0 - 1.0;
  vec3 r = t * m.x + b * m.y + n * m.z;
  float rl = length(r);
  return rl > 0.0 ? r / rl : n;
}
)";

const char lit_vs_main[] = R"(
void main() {
  skin_transform();
  lighting_terms();
}
)";

const char lit_fs_main[] = R"(
void main() {
  gl_FragColor = shade(normalize(normal), gl_FrontMaterial.specular.rgb, gl_FrontMaterial.shininess);
}
)";

const char env_vs_main[] = R"(
void main() {
  skin_transform();
  gl_FrontColor = gl_Color;
}
)";

const char env_fs_main[] = R"(
void main() {
  gl_FragColor = reflection(normalize(normal));
}
)";

const char norm_lit_vs_main[] = R"(
varying vec3 tangent;
void main() {
  tangent = skin_transform();
  lighting_terms();
}
)";

const char norm_lit_fs_main[] = R"(
void main() {
  gl_FragColor = shade(mapped_normal(), gl_FrontMaterial.specular.rgb, gl_FrontMaterial.shininess);
}
)";

const char norm_env_vs_main[] = R"(
varying vec3 tangent;
void main() {
  tangent = skin_transform();
  gl_FrontColor = gl_Color;
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
}
)";

const char norm_env_fs_main[] = R"(
void main() {
  gl_FragColor = reflection(mapped_normal());
}
)";

const char norm_spec_lit_fs_main[] = R"(
uniform sampler2D smap;
void main() {
  vec4 s = texture2D(smap, gl_TexCoord[0].st);
  float e = s.a * 128.0 + 0.125;
  if (e >= 127.875) e = gl_FrontMaterial.shininess;
  gl_FragColor = shade(mapped_normal(), s.rgb, e);
}
)";

// Composing the ground normal texture: tile normals (turned with the tile texture on screen) are
// expressed in the frame of the terrain normal underneath.
const char terrain_normals_vs_main[] = R"(
varying vec2 base_uv;
void main() {
  gl_Position = ftransform();
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
  vec4 b = gl_TextureMatrix[1] * gl_Vertex;
  base_uv = b.xy / b.w;
}
)";

const char terrain_normals_fs_main[] = R"(
uniform sampler2D tex;
uniform sampler2D base;
varying vec2 base_uv;
void main() {
  vec4 tc = texture2D(tex, gl_TexCoord[0].st);
  // Channels are x, z, y.
  vec3 t = vec3(tc.r, tc.b, tc.g) * 2.0 - 1.0;
  t.x = -t.x;
  vec2 d = vec2(dFdx(gl_TexCoord[0].s), dFdy(gl_TexCoord[0].s));
  float dl = length(d);
  vec2 a = dl > 0.0 ? d / dl : vec2(1.0, 0.0);
  t.xz = vec2(a.x * t.x - a.y * t.z, a.y * t.x + a.x * t.z);

  vec4 bc = texture2D(base, base_uv);
  vec3 up;
  up.x = bc.r * 2.0 - 1.0;
  up.z = bc.b * 2.0 - 1.0;
  up.y = sqrt(max(1.0 - up.x * up.x - up.z * up.z, 0.0));
  up = normalize(up);
  vec3 xa = vec3(1.0, 0.0, 0.0) - up * up.x;
  float xl = length(xa);
  xa = xl > 0.0 ? xa / xl : vec3(0.0, 0.0, -1.0);
  vec3 za = cross(xa, up);
  vec3 n = xa * t.x + up * t.y + za * t.z;

  float h = length(n.xz);
  if (h > 126.0 / 128.0) {
    n.xz *= (126.0 / 128.0) / h;
    n.y = 0.0;
  }
  gl_FragColor = vec4(n.x * 0.5 + 0.5, bc.g, n.z * 0.5 + 0.5, tc.a);
}
)";

const char terrain_vs_main[] = R"(
varying vec3 viewer;
varying vec3 light;
varying vec4 ambient;
varying vec4 diffuse;
void main() {
  gl_Position = ftransform();
  vec4 eye = gl_ModelViewMatrix * gl_Vertex;
  viewer = eye.xyz / eye.w;
  light = normalize(gl_LightSource[0].position.xyz);
  diffuse = gl_FrontMaterial.diffuse * gl_LightSource[0].diffuse;
  ambient = gl_FrontMaterial.ambient * gl_LightSource[0].ambient;
  ambient.a = min(ambient.a, 1.0);
  gl_TexCoord[0] = gl_TextureMatrix[0] * gl_MultiTexCoord0;
}
)";

// The normal/shadow map holds the normal's x and z in red and blue and the light value in green.
const char terrain_fs_main[] = R"(
uniform sampler2D tex;
uniform sampler2D nmap;
uniform sampler2D smap;
varying vec3 viewer;
varying vec3 light;
varying vec4 ambient;
varying vec4 diffuse;
void main() {
  vec2 uv = gl_TexCoord[0].st;
  vec4 ns = texture2D(nmap, uv);
  vec3 n;
  n.x = ns.r * 2.0 - 1.0;
  n.z = ns.b * 2.0 - 1.0;
  n.y = sqrt(max(1.0 - n.x * n.x - n.z * n.z, 0.0));
  float g = ns.g;
  n = normalize(gl_NormalMatrix * n);
  vec3 l = normalize(light);
  float ndl = dot(n, l);
  vec4 c = vec4(ambient.rgb, diffuse.a);
  vec3 highlight = vec3(0.0);
  if (ndl > 0.0) {
    c.rgb += diffuse.rgb * ndl * g;
    vec4 s = texture2D(smap, uv);
    float r = max(dot(reflect(normalize(viewer), n), l), 0.0);
    highlight = s.r * gl_LightSource[0].specular.rgb * pow(r, s.g * 128.0 + 0.125) * g;
  }
  c = clamp(c, 0.0, 1.0) * texture2D(tex, uv);
  c.rgb += highlight;
  gl_FragColor = vec4(mix(gl_Fog.color.rgb, c.rgb, fog_factor()), c.a);
}
)";

struct ProgramSlot {
  GLhandleARB program, vertex, fragment;
  GLint nbones, bone_c, bone_t, bone_r, envmat;
  bool bones_looked_up, env_looked_up;
};

ProgramSlot slots[shader_slot_count];
bool built = false;
ShaderCache cache = {0, 0};

bool procs_ready() {
  const GlProcs& p = gl_procs;
  return p.CreateShaderObjectARB && p.CreateProgramObjectARB && p.DeleteObjectARB &&
         p.ShaderSourceARB && p.CompileShaderARB && p.AttachObjectARB && p.DetachObjectARB &&
         p.LinkProgramARB && p.UseProgramObjectARB && p.GetInfoLogARB &&
         p.GetObjectParameterivARB && p.GetUniformLocationARB && p.Uniform1iARB &&
         p.Uniform3fvARB && p.UniformMatrix3fvARB;
}

void log_info(const char* what, const char* name, GLhandleARB object) {
  GLint length = 0;
  gl_procs.GetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
  if (length <= 1) return;
  if (length > 65536) length = 65536;
  char* text = static_cast<char*>(xmalloc(length + 1));
  GLsizei got = 0;
  gl_procs.GetInfoLogARB(object, length, &got, text);
  if (got < 0) got = 0;
  if (got > length) got = length;
  text[got] = '\0';
  if (got > 0) velk_log("%s for %s:\n%s\n", what, name, text);
  free(text);
}

bool status_ok(GLhandleARB object, GLenum which) {
  GLint ok = 0;
  gl_procs.GetObjectParameterivARB(object, which, &ok);
  return ok != 0;
}

void delete_all() {
  bool any = false;
  for (const ProgramSlot& s : slots) any |= s.program || s.vertex || s.fragment;
  built = false;
  cache.current = 0;
  // Nothing to delete means no GL call, so this is safe without a current context.
  if (!any || !procs_ready()) return;
  gl_procs.UseProgramObjectARB(0);
  for (ProgramSlot& s : slots) {
    if (s.program) {
      if (s.vertex) gl_procs.DetachObjectARB(s.program, s.vertex);
      if (s.fragment) gl_procs.DetachObjectARB(s.program, s.fragment);
      gl_procs.DeleteObjectARB(s.program);
    }
    if (s.vertex) gl_procs.DeleteObjectARB(s.vertex);
    if (s.fragment) gl_procs.DeleteObjectARB(s.fragment);
    s = ProgramSlot{};
  }
}

GLsizei part_count(const char* const* parts) {
  GLsizei n = 0;
  while (n < shader_source_parts && parts[n]) ++n;
  return n;
}

bool build_slot(ProgramSlot* s, const ShaderSource& src) {
  const GlProcs& p = gl_procs;
  s->vertex = p.CreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
  s->fragment = p.CreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
  if (!s->vertex || !s->fragment) return false;
  // The entry point takes a non-const array of pointers; copies keep the table const.
  const GLcharARB* vs[shader_source_parts];
  const GLcharARB* fs[shader_source_parts];
  for (int i = 0; i < shader_source_parts; ++i) vs[i] = src.vertex[i], fs[i] = src.fragment[i];
  p.ShaderSourceARB(s->vertex, part_count(src.vertex), vs, nullptr);
  p.ShaderSourceARB(s->fragment, part_count(src.fragment), fs, nullptr);
  p.CompileShaderARB(s->vertex);
  log_info("vertex shader status", src.name, s->vertex);
  if (!status_ok(s->vertex, GL_OBJECT_COMPILE_STATUS_ARB)) return false;
  p.CompileShaderARB(s->fragment);
  log_info("fragment shader status", src.name, s->fragment);
  if (!status_ok(s->fragment, GL_OBJECT_COMPILE_STATUS_ARB)) return false;
  s->program = p.CreateProgramObjectARB();
  if (!s->program) return false;
  p.AttachObjectARB(s->program, s->vertex);
  p.AttachObjectARB(s->program, s->fragment);
  p.LinkProgramARB(s->program);
  log_info("link status", src.name, s->program);
  return status_ok(s->program, GL_OBJECT_LINK_STATUS_ARB);
}

void bind_samplers() {
  static const struct {
    const char* name;
    int unit;
  } samplers[] = {{"tex", 0}, {"nmap", 1}, {"smap", 2}, {"base", 1}};
  for (int i = 1; i < shader_slot_count; ++i) {
    gl_procs.UseProgramObjectARB(slots[i].program);
    for (const auto& sm : samplers) {
      GLint loc = gl_procs.GetUniformLocationARB(slots[i].program, sm.name);
      if (loc >= 0) gl_procs.Uniform1iARB(loc, sm.unit);
    }
  }
  gl_procs.UseProgramObjectARB(0);
}

void transpose3(const float* row_major, float* column_major) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) column_major[c * 3 + r] = row_major[r * 3 + c];
}

}  // namespace

const ShaderSource shader_sources[shader_slot_count - 1] = {
    {"lit", {head, skin_vs, light_vs, lit_vs_main},
     {head, fog_fs, phong_fs, lit_fs_main}},
    {"env", {head, skin_vs, env_vs_main},
     {head, env_common_fs, env_fs_main}},
    {"norm_lit", {head, skin_vs, light_vs, norm_lit_vs_main},
     {head, fog_fs, phong_fs, nmap_fs, norm_lit_fs_main}},
    {"norm_env", {head, skin_vs, norm_env_vs_main},
     {head, env_common_fs, nmap_fs, norm_env_fs_main}},
    {"norm_spec_lit", {head, skin_vs, light_vs, norm_lit_vs_main},
     {head, fog_fs, phong_fs, nmap_fs, norm_spec_lit_fs_main}},
    {"terrain_normals", {head, terrain_normals_vs_main},
     {head, terrain_normals_fs_main}},
    {"terrain", {head, terrain_vs_main},
     {head, fog_fs, terrain_fs_main}},
};

bool shaders_wanted = true;

bool shader_cache_select(ShaderCache* c, int slot) {
  if (slot < 0 || slot >= shader_slot_count || slot == c->current) return false;
  c->current = slot;
  ++c->switches;
  return true;
}

bool shaders_build_from(const ShaderSource* sources) {
  if (!gl_caps.vertex_shader || !gl_caps.fragment_shader || !gl_caps.shader_objects || !procs_ready())
    return false;
  delete_all();
  for (int i = 1; i < shader_slot_count; ++i) {
    if (!build_slot(&slots[i], sources[i - 1])) {
      delete_all();
      return false;
    }
    slots[i].nbones = slots[i].bone_c = slots[i].bone_t = slots[i].bone_r = slots[i].envmat = -1;
  }
  bind_samplers();
  built = true;
  cache.current = 0;
  return true;
}

bool shaders_build() {
  return shaders_build_from(shader_sources);
}

void shaders_free() {
  delete_all();
}

bool shaders_active() {
  return built && shaders_wanted && gl_shader_capable(&gl_caps);
}

bool shaders_for_terrain(bool shader_method_requested) {
  return shader_method_requested && shaders_active();
}

void shader_use(int slot) {
  if (slot < 0 || slot >= shader_slot_count) return;
  // Without built programs every drawing path stays on the fixed-function pipeline.
  if (slot != 0 && !built) return;
  if (!shader_cache_select(&cache, slot)) return;
  if (gl_procs.UseProgramObjectARB) gl_procs.UseProgramObjectARB(slots[slot].program);
}

int shader_current() {
  return cache.current;
}

long shader_switch_count() {
  return cache.switches;
}

GLhandleARB shader_program(int slot) {
  if (!built || slot < 1 || slot >= shader_slot_count) return 0;
  return slots[slot].program;
}

void shader_set_env_matrix(const float m[9]) {
  if (!built) return;
  float c[9];
  transpose3(m, c);
  const int env_slots[] = {shader_env, shader_norm_env};
  for (int slot : env_slots) {
    ProgramSlot& s = slots[slot];
    shader_use(slot);
    if (!s.env_looked_up) {
      s.envmat = gl_procs.GetUniformLocationARB(s.program, "envmat");
      s.env_looked_up = true;
    }
    if (s.envmat >= 0) gl_procs.UniformMatrix3fvARB(s.envmat, 1, GL_FALSE, c);
  }
  shader_use(0);
}

void shader_set_bones(int count, const float* centres, const float* translations,
                      const float* rotations) {
  if (!built || cache.current <= 0) return;
  ProgramSlot& s = slots[cache.current];
  if (!s.bones_looked_up) {
    s.nbones = gl_procs.GetUniformLocationARB(s.program, "nbones");
    s.bone_c = gl_procs.GetUniformLocationARB(s.program, "bone_c");
    s.bone_t = gl_procs.GetUniformLocationARB(s.program, "bone_t");
    s.bone_r = gl_procs.GetUniformLocationARB(s.program, "bone_r");
    s.bones_looked_up = true;
  }
  // The programs' arrays hold MAX_BONE entries; more would write past them.
  if (count < 0 || !centres || !translations || !rotations) count = 0;
  if (count > shader_max_bones) count = shader_max_bones;
  if (s.nbones >= 0) gl_procs.Uniform1iARB(s.nbones, count);
  if (count == 0) return;
  if (s.bone_c >= 0) gl_procs.Uniform3fvARB(s.bone_c, count, centres);
  if (s.bone_t >= 0) gl_procs.Uniform3fvARB(s.bone_t, count, translations);
  if (s.bone_r >= 0) {
    float r[9 * shader_max_bones];
    for (int i = 0; i < count; ++i) transpose3(rotations + 9 * i, r + 9 * i);
    gl_procs.UniformMatrix3fvARB(s.bone_r, count, GL_FALSE, r);
  }
}
