// What the GL driver offers: its strings, the extension flags, texture units and extension entry points.
#include "render/gl_caps.h"

#include <cstdio>
#include <cstring>

#include "core/memory.h"
#include "platform/log.h"
#include "platform/window.h"
#include "render/shaders.h"

GlCapabilities gl_caps = {"NULL", "NULL", "NULL", "NULL", 0, 0, false, false, false, false, false, false, 1};
GlProcs gl_procs = {};

namespace {

const char* string_or_null(const char* s) {
  return intern_string(s ? s : "NULL");
}

template <typename Fn>
bool fetch(Fn* slot, const char* name) {
  *slot = reinterpret_cast<Fn>(velk_gl_proc_address(name));
  return *slot != nullptr;
}

bool fetch_multitexture(GlProcs* p) {
  bool ok = true;
  ok &= fetch(&p->ActiveTextureARB, "glActiveTextureARB");
  ok &= fetch(&p->ClientActiveTextureARB, "glClientActiveTextureARB");
  ok &= fetch(&p->MultiTexCoord1fARB, "glMultiTexCoord1fARB");
  ok &= fetch(&p->MultiTexCoord2fARB, "glMultiTexCoord2fARB");
  ok &= fetch(&p->MultiTexCoord2fvARB, "glMultiTexCoord2fvARB");
  ok &= fetch(&p->MultiTexCoord3fARB, "glMultiTexCoord3fARB");
  ok &= fetch(&p->MultiTexCoord3fvARB, "glMultiTexCoord3fvARB");
  ok &= fetch(&p->MultiTexCoord4fARB, "glMultiTexCoord4fARB");
  ok &= fetch(&p->MultiTexCoord4fvARB, "glMultiTexCoord4fvARB");
  return ok;
}

bool fetch_framebuffer(GlProcs* p) {
  bool ok = true;
  ok &= fetch(&p->GenFramebuffersEXT, "glGenFramebuffersEXT");
  ok &= fetch(&p->DeleteFramebuffersEXT, "glDeleteFramebuffersEXT");
  ok &= fetch(&p->BindFramebufferEXT, "glBindFramebufferEXT");
  ok &= fetch(&p->FramebufferTexture2DEXT, "glFramebufferTexture2DEXT");
  ok &= fetch(&p->CheckFramebufferStatusEXT, "glCheckFramebufferStatusEXT");
  ok &= fetch(&p->GenRenderbuffersEXT, "glGenRenderbuffersEXT");
  ok &= fetch(&p->DeleteRenderbuffersEXT, "glDeleteRenderbuffersEXT");
  ok &= fetch(&p->BindRenderbufferEXT, "glBindRenderbufferEXT");
  ok &= fetch(&p->RenderbufferStorageEXT, "glRenderbufferStorageEXT");
  ok &= fetch(&p->FramebufferRenderbufferEXT, "glFramebufferRenderbufferEXT");
  ok &= fetch(&p->GenerateMipmapEXT, "glGenerateMipmapEXT");
  return ok;
}

bool fetch_shader_objects(GlProcs* p) {
  bool ok = true;
  ok &= fetch(&p->CreateShaderObjectARB, "glCreateShaderObjectARB");
  ok &= fetch(&p->CreateProgramObjectARB, "glCreateProgramObjectARB");
  ok &= fetch(&p->DeleteObjectARB, "glDeleteObjectARB");
  ok &= fetch(&p->ShaderSourceARB, "glShaderSourceARB");
  ok &= fetch(&p->CompileShaderARB, "glCompileShaderARB");
  ok &= fetch(&p->AttachObjectARB, "glAttachObjectARB");
  ok &= fetch(&p->DetachObjectARB, "glDetachObjectARB");
  ok &= fetch(&p->LinkProgramARB, "glLinkProgramARB");
  ok &= fetch(&p->UseProgramObjectARB, "glUseProgramObjectARB");
  ok &= fetch(&p->GetInfoLogARB, "glGetInfoLogARB");
  ok &= fetch(&p->GetObjectParameterivARB, "glGetObjectParameterivARB");
  ok &= fetch(&p->GetUniformLocationARB, "glGetUniformLocationARB");
  ok &= fetch(&p->Uniform1iARB, "glUniform1iARB");
  ok &= fetch(&p->Uniform1fARB, "glUniform1fARB");
  ok &= fetch(&p->Uniform3fvARB, "glUniform3fvARB");
  ok &= fetch(&p->Uniform4fvARB, "glUniform4fvARB");
  ok &= fetch(&p->UniformMatrix3fvARB, "glUniformMatrix3fvARB");
  ok &= fetch(&p->UniformMatrix4fvARB, "glUniformMatrix4fvARB");
  return ok;
}

bool fetch_vertex_shader(GlProcs* p) {
  bool ok = true;
  ok &= fetch(&p->VertexAttribPointerARB, "glVertexAttribPointerARB");
  ok &= fetch(&p->EnableVertexAttribArrayARB, "glEnableVertexAttribArrayARB");
  ok &= fetch(&p->DisableVertexAttribArrayARB, "glDisableVertexAttribArrayARB");
  ok &= fetch(&p->BindAttribLocationARB, "glBindAttribLocationARB");
  ok &= fetch(&p->GetAttribLocationARB, "glGetAttribLocationARB");
  ok &= fetch(&p->VertexAttrib4fARB, "glVertexAttrib4fARB");
  return ok;
}

}  // namespace

bool gl_extension_present(const char* extensions, const char* name) {
  if (!extensions || !name || !*name) return false;
  size_t len = strlen(name);
  for (const char* p = extensions; (p = strstr(p, name)) != nullptr; ++p) {
    bool starts = p == extensions || p[-1] == ' ';
    bool ends = p[len] == '\0' || p[len] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

void gl_capabilities_from_strings(GlCapabilities* caps, const char* vendor, const char* renderer,
                                  const char* version, const char* extensions) {
  caps->vendor = string_or_null(vendor);
  caps->renderer = string_or_null(renderer);
  caps->version = string_or_null(version);
  caps->extensions = string_or_null(extensions);
  int major = 0, minor = 0;
  if (!version || sscanf(version, "%d.%d", &major, &minor) != 2) major = minor = 0;
  caps->version_major = major;
  caps->version_minor = minor;
  caps->generate_mipmap = gl_extension_present(extensions, "GL_SGIS_generate_mipmap");
  caps->framebuffer_object = gl_extension_present(extensions, "GL_EXT_framebuffer_object");
  caps->multitexture = gl_extension_present(extensions, "GL_ARB_multitexture");
  caps->fragment_shader = gl_extension_present(extensions, "GL_ARB_fragment_shader");
  caps->vertex_shader = gl_extension_present(extensions, "GL_ARB_vertex_shader");
  caps->shader_objects = gl_extension_present(extensions, "GL_ARB_shader_objects");
  caps->texture_units = 1;
}

bool gl_shader_capable(const GlCapabilities* caps) {
  return caps->fragment_shader && caps->texture_units >= 4;
}

void gl_capabilities_read() {
  auto str = [](GLenum e) { return reinterpret_cast<const char*>(glGetString(e)); };
  gl_capabilities_from_strings(&gl_caps, str(GL_VENDOR), str(GL_RENDERER), str(GL_VERSION),
                               str(GL_EXTENSIONS));
  gl_procs = GlProcs{};
  // A present name without its entry points is treated as absent, so nobody calls through null.
  if (gl_caps.multitexture && !fetch_multitexture(&gl_procs)) gl_caps.multitexture = false;
  if (gl_caps.framebuffer_object && !fetch_framebuffer(&gl_procs)) gl_caps.framebuffer_object = false;
  if (gl_caps.shader_objects && !fetch_shader_objects(&gl_procs)) gl_caps.shader_objects = false;
  if (gl_caps.vertex_shader && !fetch_vertex_shader(&gl_procs)) gl_caps.vertex_shader = false;
  gl_caps.texture_units = 1;
  if (gl_caps.multitexture) {
    GLint units = 1;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    gl_caps.texture_units = units > 0 ? units : 1;
  }
  velk_log("%d texture units\n", gl_caps.texture_units);
}

bool gl_startup(bool use_shaders, bool fugly) {
  gl_capabilities_read();
  velk_log("GL_VENDOR: %s\n", gl_caps.vendor);
  velk_log("GL_RENDERER: %s\n", gl_caps.renderer);
  velk_log("GL_VERSION: %s\n", gl_caps.version);
  velk_log("GL_EXTENSIONS: %s\n", gl_caps.extensions);
  shaders_wanted = use_shaders;
  if (use_shaders && gl_shader_capable(&gl_caps)) shaders_build();

  glClear(GL_COLOR_BUFFER_BIT);
  glClearColor(0.196078f, 0.6f, 0.8f, 0.0f);
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (fugly) glShadeModel(GL_FLAT);
  return true;
}
