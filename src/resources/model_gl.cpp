// Model drawing with GL: level of detail, materials, processor or program skinning, display
// lists, vertex arrays and immediate mode.
#include "resources/model_gl.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>

#include "core/options.h"
#include "render/gl_caps.h"
#include "render/shaders.h"

namespace {

float light_global_ambient[4] = {0.2f, 0.2f, 0.2f, 1.0f};
float light_ambient[4] = {0.0f, 0.0f, 0.0f, 1.0f};

void client_set(int set) {
  if (gl_procs.ClientActiveTextureARB) gl_procs.ClientActiveTextureARB(GL_TEXTURE0_ARB + set);
}

void draw_arrays(const Model* m, bool with_program) {
  glEnableClientState(GL_VERTEX_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, m->positions);
  glEnableClientState(GL_NORMAL_ARRAY);
  glNormalPointer(GL_FLOAT, 0, m->normals);
  client_set(0);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glTexCoordPointer(2, GL_FLOAT, 0, m->uvs);
  const bool extra = with_program && gl_procs.ClientActiveTextureARB;
  if (extra) {
    client_set(1);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(3, GL_FLOAT, 0, m->tangents);
    if (m->bone_count > 0) {
      client_set(2);
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glTexCoordPointer(4, GL_FLOAT, 0, m->weights);
      client_set(3);
      glEnableClientState(GL_TEXTURE_COORD_ARRAY);
      glTexCoordPointer(4, GL_INT, 0, m->bones);
    }
  }
  glDrawElements(GL_TRIANGLES, m->triangle_count * 3, GL_UNSIGNED_INT, m->triangles);
  if (extra) {
    for (int set = 3; set >= 1; set--) {
      client_set(set);
      glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
  }
  client_set(0);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void draw_immediate(const Model* m, bool with_program) {
  const bool extra = with_program && gl_procs.MultiTexCoord3fvARB && gl_procs.MultiTexCoord4fvARB;
  glBegin(GL_TRIANGLES);
  for (int i = 0; i < m->triangle_count * 3; i++) {
    const size_t v = size_t(m->triangles[i]);
    glNormal3fv(m->normals + v * 3);
    glTexCoord2fv(m->uvs + v * 2);
    if (extra) {
      gl_procs.MultiTexCoord3fvARB(GL_TEXTURE1_ARB, m->tangents + v * 3);
      if (m->bone_count > 0) {
        gl_procs.MultiTexCoord4fvARB(GL_TEXTURE2_ARB, m->weights + v * 4);
        const float b[4] = {float(m->bones[v * 4]), float(m->bones[v * 4 + 1]), float(m->bones[v * 4 + 2]),
                            float(m->bones[v * 4 + 3])};
        gl_procs.MultiTexCoord4fvARB(GL_TEXTURE3_ARB, b);
      }
    }
    glVertex3fv(m->positions + v * 3);
  }
  glEnd();
}

void draw_mesh(const Model* m) {
  if (m->display_list) glCallList(m->display_list);
  else if (options.novertexarrays) draw_immediate(m, shaders_active());
  else draw_arrays(m, shaders_active());
  model_drawn_vertices += m->vertex_count;
  model_drawn_triangles += m->triangle_count;
}

uint32_t compile(const Model* m) {
  const bool program = shaders_active();
  // Meshes whose data changes per draw (processor skinning, environment coordinates) stay out.
  if (!program && (m->bone_count > 0 || m->mode < 0)) return 0;
  const GLuint list = glGenLists(1);
  if (!list) return 0;
  glNewList(list, GL_COMPILE);
  draw_arrays(m, program);
  glEndList();
  return list;
}

void release(uint32_t list) { glDeleteLists(list, 1); }

const ModelGpuOps gl_ops = {compile, release};

double distance_to(const float a[3], const float b[3]) {
  const double dx = double(a[0]) - b[0], dy = double(a[1]) - b[1], dz = double(a[2]) - b[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void push_transform(const float position[3], const float r[9]) {
  glPushMatrix();
  glTranslatef(position[0], position[1], position[2]);
  const GLfloat m[16] = {r[0], r[3], r[6], 0, r[1], r[4], r[7], 0, r[2], r[5], r[8], 0, 0, 0, 0, 1};
  glMultMatrixf(m);
}

struct Skin {
  const float (*bind_joints)[3];
  const float (*joints)[3];
  const float (*rotations)[9];
  int bone_count;
};

void send_bones(const Skin* skin) {
  if (!skin || !shaders_active()) return;
  shader_set_bones(skin->bone_count, &skin->bind_joints[0][0], &skin->joints[0][0], &skin->rotations[0][0]);
}

void skin_on_processor(Model* mesh, const Skin* skin) {
  if (skin && !shaders_active() && skin->bone_count == mesh->bone_count)
    model_skin(mesh, skin->bind_joints, skin->joints, skin->rotations, skin->bone_count);
}

void main_pass(Model* model, const float camera[3], const float position[3], const float rotation[9],
               const Skin* skin) {
  if (!model) return;
  Model* version = const_cast<Model*>(model_choose_lod(model, distance_to(position, camera)));
  push_transform(position, rotation);
  send_bones(skin);
  for (Model* mesh = version; mesh; mesh = mesh->next) {
    if (mesh->mode == model_mode_reflection) break;
    const bool self_lit = mesh->mode == model_mode_self_lit;
    if (self_lit) {
      const GLfloat black[4] = {0, 0, 0, 1};
      glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
      glLightfv(GL_LIGHT0, GL_AMBIENT, mesh->colour);
      glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, black);
      glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, black);
      glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 1);
    } else {
      glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, mesh->colour);
      // GL refuses exponents above 128; below 0.125 highlights would flood the mesh.
      float shininess = mesh->mode < 0.125f ? 0.125f : mesh->mode;
      glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, shininess > 128 ? 128 : shininess);
    }
    skin_on_processor(mesh, skin);
    draw_mesh(mesh);
    if (self_lit) {
      const GLfloat white[4] = {1, 1, 1, 1};
      glLightModelfv(GL_LIGHT_MODEL_AMBIENT, light_global_ambient);
      glLightfv(GL_LIGHT0, GL_AMBIENT, light_ambient);
      glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
    }
  }
  glPopMatrix();
}

void reflection_pass(Model* model, const float camera[3], const float position[3], const float rotation[9],
                     const Skin* skin) {
  if (!model) return;
  Model* version = const_cast<Model*>(model_choose_lod(model, distance_to(position, camera)));
  push_transform(position, rotation);
  send_bones(skin);
  for (Model* mesh = version; mesh; mesh = mesh->next) {
    if (mesh->mode != model_mode_reflection) continue;
    const float a = mesh->colour[3];
    glColor4f(a * mesh->colour[0], a * mesh->colour[1], a * mesh->colour[2], 1);
    skin_on_processor(mesh, skin);
    if (!shaders_active()) model_environment_uvs(mesh, camera, position, rotation);
    draw_mesh(mesh);
  }
  glPopMatrix();
}

}  // namespace

void model_gl_install() { model_set_gpu_ops(&gl_ops); }

void model_gl_uninstall() { model_set_gpu_ops(nullptr); }

void model_gl_set_light_keys(const float global_ambient[3], const float ambient[3]) {
  for (int i = 0; i < 3; i++) {
    light_global_ambient[i] = global_ambient[i];
    light_ambient[i] = ambient[i];
  }
}

void model_draw(Model* model, const float camera[3], const float position[3], const float rotation[9]) {
  main_pass(model, camera, position, rotation, nullptr);
}

void model_draw_skinned(Model* model, const float camera[3], const float position[3], const float rotation[9],
                        const float (*bind_joints)[3], const float (*joints)[3], const float (*rotations)[9],
                        int bone_count) {
  const Skin skin{bind_joints, joints, rotations, bone_count};
  main_pass(model, camera, position, rotation, &skin);
}

void model_draw_reflection(Model* model, const float camera[3], const float position[3], const float rotation[9]) {
  reflection_pass(model, camera, position, rotation, nullptr);
}

void model_draw_reflection_skinned(Model* model, const float camera[3], const float position[3],
                                   const float rotation[9], const float (*bind_joints)[3],
                                   const float (*joints)[3], const float (*rotations)[9], int bone_count) {
  const Skin skin{bind_joints, joints, rotations, bone_count};
  reflection_pass(model, camera, position, rotation, &skin);
}

void model_draw_wireframe(const Model* mesh) {
  for (int i = 0; i < mesh->triangle_count; i++) {
    glBegin(GL_LINE_LOOP);
    for (int k = 0; k < 3; k++) glVertex3fv(mesh->positions + size_t(mesh->triangles[i * 3 + k]) * 3);
    glEnd();
  }
}
