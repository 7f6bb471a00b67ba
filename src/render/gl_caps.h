// What the GL driver offers: its strings, the extension flags, texture units and extension entry points.
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

struct GlCapabilities {
  // "NULL" when the driver returns none; interned, they live until exit.
  const char* vendor;
  const char* renderer;
  const char* version;
  const char* extensions;
  int version_major, version_minor;  // 0.0 when the version does not read as "%d.%d"
  bool generate_mipmap;              // GL_SGIS_generate_mipmap
  bool framebuffer_object;           // GL_EXT_framebuffer_object
  bool multitexture;                 // GL_ARB_multitexture
  bool fragment_shader;              // GL_ARB_fragment_shader
  bool vertex_shader;                // GL_ARB_vertex_shader
  bool shader_objects;               // GL_ARB_shader_objects (the API both shader stages use)
  int texture_units;                 // GL_MAX_TEXTURE_UNITS_ARB; 1 without multitexture
};

// Extension entry points; null unless the extension is present and the driver gave one.
struct GlProcs {
  // ARB_multitexture
  PFNGLACTIVETEXTUREARBPROC ActiveTextureARB;
  PFNGLCLIENTACTIVETEXTUREARBPROC ClientActiveTextureARB;
  PFNGLMULTITEXCOORD1FARBPROC MultiTexCoord1fARB;
  PFNGLMULTITEXCOORD2FARBPROC MultiTexCoord2fARB;
  PFNGLMULTITEXCOORD2FVARBPROC MultiTexCoord2fvARB;
  PFNGLMULTITEXCOORD3FARBPROC MultiTexCoord3fARB;
  PFNGLMULTITEXCOORD3FVARBPROC MultiTexCoord3fvARB;
  PFNGLMULTITEXCOORD4FARBPROC MultiTexCoord4fARB;
  PFNGLMULTITEXCOORD4FVARBPROC MultiTexCoord4fvARB;
  // EXT_framebuffer_object
  PFNGLGENFRAMEBUFFERSEXTPROC GenFramebuffersEXT;
  PFNGLDELETEFRAMEBUFFERSEXTPROC DeleteFramebuffersEXT;
  PFNGLBINDFRAMEBUFFEREXTPROC BindFramebufferEXT;
  PFNGLFRAMEBUFFERTEXTURE2DEXTPROC FramebufferTexture2DEXT;
  PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC CheckFramebufferStatusEXT;
  PFNGLGENRENDERBUFFERSEXTPROC GenRenderbuffersEXT;
  PFNGLDELETERENDERBUFFERSEXTPROC DeleteRenderbuffersEXT;
  PFNGLBINDRENDERBUFFEREXTPROC BindRenderbufferEXT;
  PFNGLRENDERBUFFERSTORAGEEXTPROC RenderbufferStorageEXT;
  PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC FramebufferRenderbufferEXT;
  PFNGLGENERATEMIPMAPEXTPROC GenerateMipmapEXT;
  // ARB_shader_objects
  PFNGLCREATESHADEROBJECTARBPROC CreateShaderObjectARB;
  PFNGLCREATEPROGRAMOBJECTARBPROC CreateProgramObjectARB;
  PFNGLDELETEOBJECTARBPROC DeleteObjectARB;
  PFNGLSHADERSOURCEARBPROC ShaderSourceARB;
  PFNGLCOMPILESHADERARBPROC CompileShaderARB;
  PFNGLATTACHOBJECTARBPROC AttachObjectARB;
  PFNGLDETACHOBJECTARBPROC DetachObjectARB;
  PFNGLLINKPROGRAMARBPROC LinkProgramARB;
  PFNGLUSEPROGRAMOBJECTARBPROC UseProgramObjectARB;
  PFNGLGETINFOLOGARBPROC GetInfoLogARB;
  PFNGLGETOBJECTPARAMETERIVARBPROC GetObjectParameterivARB;
  PFNGLGETUNIFORMLOCATIONARBPROC GetUniformLocationARB;
  PFNGLUNIFORM1IARBPROC Uniform1iARB;
  PFNGLUNIFORM1FARBPROC Uniform1fARB;
  PFNGLUNIFORM3FVARBPROC Uniform3fvARB;
  PFNGLUNIFORM4FVARBPROC Uniform4fvARB;
  PFNGLUNIFORMMATRIX3FVARBPROC UniformMatrix3fvARB;
  PFNGLUNIFORMMATRIX4FVARBPROC UniformMatrix4fvARB;
  // ARB_vertex_shader
  PFNGLVERTEXATTRIBPOINTERARBPROC VertexAttribPointerARB;
  PFNGLENABLEVERTEXATTRIBARRAYARBPROC EnableVertexAttribArrayARB;
  PFNGLDISABLEVERTEXATTRIBARRAYARBPROC DisableVertexAttribArrayARB;
  PFNGLBINDATTRIBLOCATIONARBPROC BindAttribLocationARB;
  PFNGLGETATTRIBLOCATIONARBPROC GetAttribLocationARB;
  PFNGLVERTEXATTRIB4FARBPROC VertexAttrib4fARB;
};

extern GlCapabilities gl_caps;
extern GlProcs gl_procs;

// Whether name occurs in extensions as a whole word (bounded by the string's ends or blanks).
bool gl_extension_present(const char* extensions, const char* name);
// Fills the strings, the version and the extension flags from the driver's strings (any may be
// null). Texture units are left at 1.
void gl_capabilities_from_strings(GlCapabilities* caps, const char* vendor, const char* renderer,
                                  const char* version, const char* extensions);
// The fragment shader extension and at least 4 texture units.
bool gl_shader_capable(const GlCapabilities* caps);

// Reads the capabilities and entry points of the current context into gl_caps and gl_procs;
// logs "%d texture units\n". A flag whose entry points the driver does not give is cleared.
void gl_capabilities_read();

// The start-up GL work once the window can be drawn: the capabilities and their log lines, the
// shader programs when wanted (and capable), and the initial GL state. Always true: a driver
// without the optional parts renders with slot 0.
bool gl_startup(bool use_shaders, bool fugly);
