// GL capability decisions from the driver's strings, and the current-program cache.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/window.h"
#include "render/gl_caps.h"
#include "render/shaders.h"

namespace {

TEST(GlCaps, ExtensionMatchesWholeWordsOnly) {
  struct Case {
    const char* extensions;
    bool present;
  } cases[] = {
      {"GL_EXT_framebuffer_object", true},
      {"GL_ARB_multitexture GL_EXT_framebuffer_object GL_ARB_fragment_shader", true},
      {"GL_ARB_multitexture GL_EXT_framebuffer_object", true},
      {"GL_EXT_framebuffer_object ", true},
      {"GL_EXT_framebuffer_object_sRGB", false},          // only the start of a longer word
      {"GL_EXT_framebuffer_object_sRGB GL_ARB_shadow", false},
      {"GL_EXT_framebuffer_object_sRGB GL_EXT_framebuffer_object", true},
      {"XGL_EXT_framebuffer_object", false},              // the end of a longer word
      {"GL_EXT_framebuffer_objec", false},
      {"", false},
      {nullptr, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(gl_extension_present(c.extensions, "GL_EXT_framebuffer_object"), c.present)
        << (c.extensions ? c.extensions : "(null)");
  EXPECT_FALSE(gl_extension_present("GL_A GL_B", ""));
}

TEST(GlCaps, CapabilitiesFromStrings) {
  GlCapabilities caps;
  gl_capabilities_from_strings(&caps, "Mesa", "llvmpipe", "4.5 (Compatibility Profile) Mesa 22.3.6",
                               "GL_ARB_multitexture GL_ARB_fragment_shader GL_ARB_vertex_shader "
                               "GL_ARB_shader_objects GL_SGIS_generate_mipmap_x");
  EXPECT_STREQ(caps.vendor, "Mesa");
  EXPECT_EQ(caps.version_major, 4);
  EXPECT_EQ(caps.version_minor, 5);
  EXPECT_TRUE(caps.multitexture);
  EXPECT_TRUE(caps.fragment_shader);
  EXPECT_TRUE(caps.vertex_shader);
  EXPECT_TRUE(caps.shader_objects);
  EXPECT_FALSE(caps.generate_mipmap);
  EXPECT_FALSE(caps.framebuffer_object);
  EXPECT_EQ(caps.texture_units, 1);

  gl_capabilities_from_strings(&caps, nullptr, nullptr, "garbage", nullptr);
  EXPECT_STREQ(caps.vendor, "NULL");
  EXPECT_STREQ(caps.renderer, "NULL");
  EXPECT_STREQ(caps.extensions, "NULL");
  EXPECT_EQ(caps.version_major, 0);
  EXPECT_EQ(caps.version_minor, 0);
  EXPECT_FALSE(caps.multitexture);
}

TEST(GlCaps, ShaderCapableNeedsFragmentShadersAndFourUnits) {
  GlCapabilities caps;
  gl_capabilities_from_strings(&caps, "v", "r", "2.1", "GL_ARB_fragment_shader GL_ARB_multitexture");
  caps.texture_units = 3;
  EXPECT_FALSE(gl_shader_capable(&caps));
  caps.texture_units = 4;
  EXPECT_TRUE(gl_shader_capable(&caps));
  caps.fragment_shader = false;
  EXPECT_FALSE(gl_shader_capable(&caps));
}

TEST(ShaderCache, OnlyRealSwitchesCount) {
  ShaderCache c = {0, 0};
  EXPECT_FALSE(shader_cache_select(&c, 0));  // already current
  EXPECT_TRUE(shader_cache_select(&c, 3));
  EXPECT_FALSE(shader_cache_select(&c, 3));
  EXPECT_FALSE(shader_cache_select(&c, 8));   // out of range: ignored
  EXPECT_FALSE(shader_cache_select(&c, -1));
  EXPECT_EQ(c.current, 3);
  EXPECT_TRUE(shader_cache_select(&c, 7));
  EXPECT_TRUE(shader_cache_select(&c, 0));
  EXPECT_EQ(c.switches, 3);
}

// Without built programs nothing leaves slot 0 and no entry point is called.
TEST(ShaderCache, UnbuiltProgramsStayOnFixedFunction) {
  shaders_free();
  long before = shader_switch_count();
  shader_use(1);
  shader_use(7);
  EXPECT_EQ(shader_current(), 0);
  EXPECT_EQ(shader_switch_count(), before);
  EXPECT_EQ(shader_program(1), 0u);
  EXPECT_FALSE(shaders_active());
  EXPECT_FALSE(shaders_for_terrain(true));
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  shader_set_env_matrix(identity);
  shader_set_bones(1, identity, identity, identity);
  EXPECT_EQ(shader_current(), 0);
}

// The real driver under Xvfb: the extension flags agree with the string, and only present
// extensions have entry points.
TEST(GlCaps, ReadFromTheDriver) {
  if (!getenv("DISPLAY")) GTEST_SKIP() << "no display";
  VelkWindow* w = velk_window_open("caps", 64, 64, 24, 0, 16, 0, 0);
  ASSERT_NE(w, nullptr);
  gl_capabilities_read();
  EXPECT_STRNE(gl_caps.version, "NULL");
  EXPECT_GE(gl_caps.version_major, 1);
  EXPECT_EQ(gl_caps.multitexture, gl_extension_present(gl_caps.extensions, "GL_ARB_multitexture"));
  EXPECT_EQ(gl_caps.multitexture, gl_procs.ActiveTextureARB != nullptr);
  EXPECT_EQ(gl_caps.framebuffer_object, gl_procs.GenFramebuffersEXT != nullptr);
  EXPECT_EQ(gl_caps.shader_objects, gl_procs.CreateShaderObjectARB != nullptr);
  if (gl_caps.multitexture) {
    EXPECT_GE(gl_caps.texture_units, 2);
  }
  velk_window_close(w);
}

}  // namespace
