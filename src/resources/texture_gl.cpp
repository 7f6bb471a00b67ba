// Texture uploads into the current GL context: wrapping, filters, border colour, every level.
#include "resources/texture_gl.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include "render/gl_caps.h"
#include "resources/texture.h"

#ifndef GL_CLAMP_TO_EDGE
#define GL_CLAMP_TO_EDGE 0x812F
#endif

namespace {

int half(int n) { return n > 1 ? n / 2 : 1; }

TextureId gl_create() {
  GLuint id = 0;
  glGenTextures(1, &id);
  return id;
}

int64_t gl_upload(TextureId id, const uint8_t* chain, int width, int height, int channels, int flags) {
  const bool compress = (flags & texture_compress) && gl_caps.version_major >= 2;
  const GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
  const GLint internal = compress ? (channels == 4 ? GL_COMPRESSED_RGBA : GL_COMPRESSED_RGB) : GLint(format);
  const bool single = (flags & texture_single_level) != 0;
  glBindTexture(GL_TEXTURE_2D, id);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, (flags & texture_repeat_h) ? GL_REPEAT : GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, (flags & texture_repeat_v) ? GL_REPEAT : GL_CLAMP);
  while (glGetError() != GL_NO_ERROR) {
  }
  if (!(flags & texture_repeat_h)) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  if (!(flags & texture_repeat_v)) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  // Drivers without edge clamping sample the border, so they get nearest filtering instead.
  const bool no_edge = glGetError() != GL_NO_ERROR;
  GLint min_filter;
  if (no_edge) min_filter = single ? GL_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  else min_filter = single ? GL_LINEAR : GL_LINEAR_MIPMAP_NEAREST;
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, min_filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  if (single) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  float border[4];
  texture_border_colour(chain, width, height, channels, border);
  glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);

  GLint old_alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &old_alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  int64_t bytes = 0;
  const uint8_t* level = chain;
  int w = width, h = height;
  for (int k = 0;; k++) {
    glTexImage2D(GL_TEXTURE_2D, k, internal, w, h, 0, format, GL_UNSIGNED_BYTE, level);
    GLint size = 0;
    if (compress) {
      GLint is_compressed = 0;
      glGetTexLevelParameteriv(GL_TEXTURE_2D, k, GL_TEXTURE_COMPRESSED, &is_compressed);
      if (is_compressed) glGetTexLevelParameteriv(GL_TEXTURE_2D, k, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &size);
    }
    bytes += size > 0 ? size : int64_t(w) * h * channels;
    if (single || (w == 1 && h == 1)) break;
    level += size_t(w) * h * channels;
    w = half(w);
    h = half(h);
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, old_alignment);
  glBindTexture(GL_TEXTURE_2D, 0);
  return bytes;
}

void gl_replace(TextureId id, const uint8_t* chain, int width, int height, int channels, int flags) {
  const GLenum format = channels == 4 ? GL_RGBA : GL_RGB;
  glBindTexture(GL_TEXTURE_2D, id);
  GLint old_alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &old_alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const uint8_t* level = chain;
  int w = width, h = height;
  for (int k = 0;; k++) {
    glTexSubImage2D(GL_TEXTURE_2D, k, 0, 0, w, h, format, GL_UNSIGNED_BYTE, level);
    if ((flags & texture_single_level) || (w == 1 && h == 1)) break;
    level += size_t(w) * h * channels;
    w = half(w);
    h = half(h);
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, old_alignment);
  glBindTexture(GL_TEXTURE_2D, 0);
}

void gl_destroy(TextureId id) {
  GLuint name = id;
  glDeleteTextures(1, &name);
}

const TextureUploadOps gl_ops = {gl_create, gl_upload, gl_replace, gl_destroy};

}  // namespace

void texture_gl_install() { texture_set_upload_ops(&gl_ops); }

void texture_gl_uninstall() { texture_set_upload_ops(nullptr); }
