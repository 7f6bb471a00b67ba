// ".vm" models without a GL context: reading and hostile files, bone weights, the cache and its
// level-of-detail companions, tangents, skinning, environment coordinates and the POV export.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/options.h"
#include "resources/model.h"
#include "resources/stream.h"
#include "test_support.h"

namespace {

class ModelTest : public ::testing::Test {
 protected:
  DataRootsFixture roots;

  void SetUp() override {
    model_reset_for_tests();
    model_lod_bias = 0;
    model_lod_scale = 1;
    model_reflections = true;
    options.debug_level = 0;
    console_print("-");
  }
  void TearDown() override { model_reset_for_tests(); }

  void put(const std::string& name, const std::string& text) {
    std::string p = roots.install + name;
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    write_file(p, text);
  }
  static bool newest_line_has(const char* text) {
    const char* line = console_line(0);
    return line && strstr(line, text);
  }
};

// One triangle in the xy plane with u along x and v along y (as stored, before the flip).
const char* triangle_mesh =
    "0 0 0  0 0 1  0 1\n"
    "1 0 0  0 0 1  1 1\n"
    "0 1 0  0 0 1  0 0\n"
    "0 1 2\n";

std::string vm1(const std::string& meshes) { return "VM1\n" + meshes; }
std::string mesh_header(const char* mode_second_rgb, int v, int t) {
  return std::string(mode_second_rgb) + " " + std::to_string(v) + " " + std::to_string(t) + "\n";
}

TEST_F(ModelTest, ReadsMeshesWithTheirModesAndColours) {
  put("two.vm", vm1(mesh_header("16 0.5 0.1 0.2 0.3", 3, 1) + triangle_mesh +
                    mesh_header("-1 0.25 1 1 1", 3, 1) + triangle_mesh));
  Model* m = model_read("@two.vm");
  ASSERT_NE(m, nullptr);
  EXPECT_STREQ(model_name(m), "@two.vm");
  EXPECT_EQ(m->vertex_count, 3);
  EXPECT_EQ(m->triangle_count, 1);
  EXPECT_EQ(m->bone_count, 0);
  EXPECT_FLOAT_EQ(m->mode, 16);
  EXPECT_FLOAT_EQ(m->colour[0], 0.1f);
  EXPECT_FLOAT_EQ(m->colour[3], 1.0f);  // alpha is 1 for a specular mode
  EXPECT_FLOAT_EQ(m->uvs[1], 0.0f);     // v stored flipped
  EXPECT_FLOAT_EQ(m->uvs[5], 1.0f);
  EXPECT_TRUE(m->reflective);
  ASSERT_NE(m->next, nullptr);
  EXPECT_FLOAT_EQ(m->next->mode, model_mode_reflection);
  EXPECT_FLOAT_EQ(m->next->colour[3], 0.25f);
  EXPECT_EQ(m->next->next, nullptr);
  EXPECT_TRUE(model_reflects(m));
  model_reflections = false;
  EXPECT_FALSE(model_reflects(m));
  model_free(m);

  put("old.vm", std::string("3 1\n") + triangle_mesh);
  m = model_read("@old.vm");
  ASSERT_NE(m, nullptr);
  EXPECT_FLOAT_EQ(m->mode, 32);
  EXPECT_FLOAT_EQ(m->colour[0], 1);
  EXPECT_FLOAT_EQ(m->colour[3], 1);
  EXPECT_FALSE(m->reflective);
  model_free(m);
}

TEST_F(ModelTest, DamagedFilesFailOrKeepTheMeshesReadSoFar) {
  const std::string good = mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh;
  struct Case {
    const char* what;
    std::string text;
    int meshes;  // 0: no model
  };
  const std::vector<Case> cases = {
      {"version 3", "VM3\n" + good, 0},
      {"version 0", "VM0\n" + good, 0},
      {"not VM", "VX1\n" + good, 0},
      {"empty", "", 0},
      {"header only", "VM1\n", 0},
      {"first mesh truncated", "VM1\n" + good.substr(0, good.size() - 3), 0},
      {"second mesh truncated", "VM1\n" + good + good.substr(0, good.size() - 3), 1},
      {"second header partial", "VM1\n" + good + "8 0 1", 1},
      {"index out of range", "VM1\n" + mesh_header("8 0 1 1 1", 3, 1) + "0 0 0 0 0 1 0 0\n1 0 0 0 0 1 0 0\n0 1 0 0 0 1 0 0\n0 1 3\n", 0},
      {"negative index", "VM1\n" + mesh_header("8 0 1 1 1", 3, 1) + "0 0 0 0 0 1 0 0\n1 0 0 0 0 1 0 0\n0 1 0 0 0 1 0 0\n0 -1 2\n", 0},
      {"not a number", "VM1\n" + mesh_header("8 0 1 1 1", 3, 1) + "0 0 nan 0 0 1 0 0\n1 0 0 0 0 1 0 0\n0 1 0 0 0 1 0 0\n0 1 2\n", 0},
      {"infinite", "VM1\n" + mesh_header("8 0 1 1 1", 3, 1) + "0 0 1e999 0 0 1 0 0\n1 0 0 0 0 1 0 0\n0 1 0 0 0 1 0 0\n0 1 2\n", 0},
      {"oversized vertex count", "VM1\n8 0 1 1 1 2000000000 1\n", 0},
      {"negative triangle count", "VM1\n8 0 1 1 1 3 -1\n", 0},
      {"too many bones", "VM2 100000 skel\n" + good, 0},
      {"old form truncated", "3 1\n0 0 0", 0},
      {"old form oversized", "99999999 99999999\n", 0},
      {"overlong token", "VM1\n" + std::string(200, '1') + " 0 1 1 1 3 1\n", 0},
      {"two meshes", "VM1\n" + good + good, 2},
      {"VM with space before version", "VM 2 0 skeleton\n" + good, 1},
  };
  for (const Case& c : cases) {
    put("x.vm", c.text);
    Model* m = model_read("@x.vm");
    int n = 0;
    for (Model* k = m; k; k = k->next) n++;
    EXPECT_EQ(n, c.meshes) << c.what;
    model_free(m);
  }
  EXPECT_EQ(model_read("@nothing.vm"), nullptr);
}

TEST_F(ModelTest, BoneWeightsKeepTheFourLargestAndWarnOncePerMesh) {
  std::string mesh = mesh_header("8 0 1 1 1", 3, 1);
  mesh += "0 0 0 0 0 1 0 0  0.5 0.1 0.2 0.3 0.4\n";
  mesh += "1 0 0 0 0 1 0 0  0 0 0 0 0\n";
  mesh += "0 1 0 0 0 1 0 0  0.1 0.2 0.3 0.4 0.5\n";
  mesh += "0 1 2\n";
  put("skin.vm", "VM2 5 skeleton_name_ignored\n" + mesh);
  Model* m = model_read("@skin.vm");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->bone_count, 5);
  EXPECT_TRUE(newest_line_has("Warning: vertex with more than 4 bone influences in '@skin.vm'"));
  EXPECT_FALSE(strstr(console_line(1), "more than 4 bone"));  // once for the mesh
  float by_bone[5] = {0, 0, 0, 0, 0};
  for (int k = 0; k < 4; k++) by_bone[m->bones[k]] += m->weights[k];
  EXPECT_FLOAT_EQ(by_bone[0], 0.5f / 1.4f);
  EXPECT_FLOAT_EQ(by_bone[1], 0.0f);
  EXPECT_FLOAT_EQ(by_bone[2], 0.2f / 1.4f);
  EXPECT_FLOAT_EQ(by_bone[3], 0.3f / 1.4f);
  EXPECT_FLOAT_EQ(by_bone[4], 0.4f / 1.4f);
  for (int k = 0; k < 4; k++) {
    EXPECT_EQ(m->bones[4 + k], 0);
    EXPECT_FLOAT_EQ(m->weights[4 + k], 0.25f);
  }
  // The bind pose starts as a copy of the read values.
  EXPECT_FLOAT_EQ(m->positions[3 * 3 + 3], 1.0f);
  EXPECT_FLOAT_EQ(m->normals[3 * 3 + 2], 1.0f);
  model_free(m);
}

TEST_F(ModelTest, TangentsFollowTheTextureDirection) {
  put("t.vm", vm1(mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh));
  Model* m = model_read("@t.vm");
  ASSERT_NE(m, nullptr);
  // Every vertex gets the same unit tangent along x, with the sign the handedness rule gives.
  for (int i = 0; i < 3; i++) {
    EXPECT_NEAR(std::fabs(m->tangents[i * 3]), 1.0f, 1e-6f);
    EXPECT_NEAR(m->tangents[i * 3 + 1], 0.0f, 1e-6f);
    EXPECT_NEAR(m->tangents[i * 3 + 2], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(m->tangents[i * 3], m->tangents[0]);
  }
  // Degenerate texture coordinates: the longer edge's direction (here e2, along y).
  const char* flat =
      "0 0 0 0 0 1 0 0\n"
      "1 0 0 0 0 1 0 0\n"
      "0 2 0 0 0 1 0 0\n"
      "7 7 7 0 0 1 0 0\n"  // used by no triangle: zero, not NaN
      "0 1 2\n";
  put("f.vm", vm1(mesh_header("8 0 1 1 1", 4, 1) + flat));
  Model* f = model_read("@f.vm");
  ASSERT_NE(f, nullptr);
  EXPECT_NEAR(f->tangents[1], 1.0f, 1e-6f);
  EXPECT_EQ(f->tangents[9], 0.0f);
  EXPECT_EQ(f->tangents[10], 0.0f);
  model_free(m);
  model_free(f);
}

TEST_F(ModelTest, CacheSharesByNameAndGenerationsDecideThePurge) {
  put("a.vm", vm1(mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh));
  put("b.vm", vm1(mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh));
  Model* a = model_load("@a.vm");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(model_load("@a.vm"), a);
  EXPECT_EQ(model_load("@A.VM"), a);
  EXPECT_TRUE(newest_line_has("Warning: case mismatch on '@A.VM'"));
  EXPECT_EQ(model_load("@missing.vm"), nullptr);

  model_generation = 1;
  Model* b = model_load("@b.vm");
  model_generation = 2;
  model_purge();  // a is generation 0, b the previous one
  EXPECT_EQ(model_cache_count(), 1);
  // A start-up model requested again can be purged later, unlike a texture.
  EXPECT_EQ(model_load("@a.vm"), a);
  EXPECT_EQ(a->generation, 2);
  model_generation = 3;
  options.debug_level = 1;
  model_purge();
  EXPECT_TRUE(newest_line_has("deleting model @a.vm"));
  EXPECT_EQ(model_cache_count(), 0);
  (void)b;
}

TEST_F(ModelTest, LevelOfDetailCompanionsAreFoundAndChosenByDistance) {
  const std::string body = vm1(mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh);
  put("bikes/bike.vm", body);
  put("bikes/bike_lod6.vm", body);
  put("bikes/bike_lod5.vm", body);
  put("bikes/bike_lod5.vm.gz", "not really gzip");   // the same version, counted once
  put("bikes/bike_lod.vm", body);                   // no number
  put("bikes/bike_lod7", body);                     // nothing after the number
  put("bikes/bikeshed_lod2.vm", body);              // another model
  Model* m = model_load("@bikes/bike.vm");
  ASSERT_NE(m, nullptr);
  ASSERT_NE(m->lod_next, nullptr);
  EXPECT_STREQ(m->lod_next->name, "@bikes/bike_lod5.vm");
  EXPECT_FLOAT_EQ(m->lod_next->lod_threshold, 32);
  ASSERT_NE(m->lod_next->lod_next, nullptr);
  EXPECT_FLOAT_EQ(m->lod_next->lod_next->lod_threshold, 64);
  EXPECT_EQ(m->lod_next->lod_next->lod_next, nullptr);
  EXPECT_EQ(model_cache_count(), 1);

  struct Case {
    double distance, bias, scale;
    const Model* want;
  };
  const Model* v5 = m->lod_next;
  const Model* v6 = v5->lod_next;
  const Case cases[] = {
      {20, 0, 1, m},   {40, 0, 1, v5},  {100, 0, 1, v6}, {32, 0, 1, v5},  {31.9, 0, 1, m},
      {20, 0, 2, v5},  {40, 10, 1, v5}, {20, 10, 1, m},  {0, 40, 1, v5},  {0, 100, 1, v6},
  };
  for (const Case& c : cases) {
    model_lod_bias = c.bias;
    model_lod_scale = c.scale;
    EXPECT_EQ(model_choose_lod(m, c.distance), c.want) << c.distance << " " << c.bias << " " << c.scale;
  }
}

TEST_F(ModelTest, ProcessorSkinningMovesVerticesWithTheirBones) {
  std::string mesh = mesh_header("8 0 1 1 1", 3, 1);
  mesh += "1 0 0  1 0 0  0 0  1 0\n";
  mesh += "0 1 0  0 1 0  0 0  0 1\n";
  mesh += "1 1 0  1 0 0  0 0  0.5 0.5\n";
  mesh += "0 1 2\n";
  put("s.vm", "VM2 2 x\n" + mesh);
  Model* m = model_read("@s.vm");
  ASSERT_NE(m, nullptr);
  const float bind[2][3] = {{0, 0, 0}, {0, 1, 0}};
  const float joints[2][3] = {{0, 0, 0}, {0, 5, 0}};
  // Bone 0 stays; bone 1 turns 90 degrees about z (x axis -> y axis) and moves up by 4.
  const float rot[2][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, -1, 0, 1, 0, 0, 0, 0, 1}};
  model_skin(m, bind, joints, rot, 2);
  EXPECT_FLOAT_EQ(m->positions[0], 1);
  EXPECT_FLOAT_EQ(m->positions[1], 0);
  EXPECT_FLOAT_EQ(m->positions[3], 0);
  EXPECT_FLOAT_EQ(m->positions[4], 5);
  EXPECT_FLOAT_EQ(m->normals[3], -1);  // (0,1,0) turned to (-1,0,0)
  // Vertex 2: half of (1,1,0) and half of R(1,0,0)+(0,5,0) = (0,6,0).
  EXPECT_FLOAT_EQ(m->positions[6], 0.5f);
  EXPECT_FLOAT_EQ(m->positions[7], 3.5f);
  // Normal (1,0,0): half (1,0,0) plus half (0,1,0), normalised.
  EXPECT_NEAR(m->normals[6], std::sqrt(0.5f), 1e-6f);
  EXPECT_NEAR(m->normals[7], std::sqrt(0.5f), 1e-6f);
  // The bind pose is untouched, so skinning again gives the same result.
  EXPECT_FLOAT_EQ(m->positions[9 + 4], 1);
  // A different bone count leaves the mesh alone.
  const float before = m->positions[7];
  model_skin(m, bind, joints, rot, 1);
  EXPECT_FLOAT_EQ(m->positions[7], before);
  model_free(m);
}

TEST_F(ModelTest, EnvironmentCoordinatesFollowTheReflection) {
  std::string mesh = mesh_header("-1 1 1 1 1", 2, 0);
  mesh += "0 0 0  0 1 0  0 0\n";
  mesh += "0 0 0  1 0 0  0 0\n";
  put("e.vm", vm1(mesh));
  Model* m = model_read("@e.vm");
  ASSERT_NE(m, nullptr);
  const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  // Camera above and to the -x side looking at a floor: the ray (1,-1,0) reflects to (1,1,0).
  const float camera[3] = {-1, 1, 0}, position[3] = {0, 0, 0};
  model_environment_uvs(m, camera, position, identity);
  const double theta = std::acos(std::sqrt(0.5)) / (2 * M_PI);
  EXPECT_NEAR(m->uvs[0], 0.5 + theta, 1e-6);
  EXPECT_NEAR(m->uvs[1], 0.5, 1e-6);
  // Off the wall facing +x: (1,-1,0) reflects to (-1,-1,0).
  const double theta2 = std::acos(-std::sqrt(0.5)) / (2 * M_PI);
  EXPECT_NEAR(m->uvs[2], 0.5 - theta2, 1e-6);
  // Straight down the normal: no azimuth, the centre.
  const float above[3] = {0, 5, 0};
  model_environment_uvs(m, above, position, identity);
  EXPECT_FLOAT_EQ(m->uvs[0], 0.5f);
  EXPECT_FLOAT_EQ(m->uvs[1], 0.5f);
  model_free(m);
}

TEST_F(ModelTest, PovExportWritesMesh2) {
  put("p.vm", vm1(mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh));
  Model* m = model_read("@p.vm");
  ASSERT_NE(m, nullptr);
  TempDir dir;
  Stream* s = stream_open(dir.file("out.pov").c_str(), "wb");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(model_export_pov(m, s));
  stream_close(s);
  EXPECT_EQ(read_file(dir.file("out.pov")),
            "mesh2 {\n"
            "\tvertex_vectors {\n\t\t3\n"
            "\t\t<0.000000,0.000000,0.000000>,\n\t\t<1.000000,0.000000,0.000000>,\n\t\t<0.000000,1.000000,0.000000>\n"
            "\t}\n"
            "\tnormal_vectors {\n\t\t3\n"
            "\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>,\n\t\t<0.000000,0.000000,1.000000>\n"
            "\t}\n"
            "\tuv_vectors {\n\t\t3\n"
            "\t\t<0.000000,0.000000>,\n\t\t<1.000000,0.000000>,\n\t\t<0.000000,1.000000>\n"
            "\t}\n"
            "\tface_indices {\n\t\t1\n"
            "\t\t<0,1,2>\n"
            "\t}\n"
            "}\n");
  model_free(m);
}

TEST_F(ModelTest, InstallingGpuOpsCompilesCachedMeshesAndPurgeReleasesThem) {
  static std::vector<std::string> calls;
  calls.clear();
  static const ModelGpuOps ops = {
      [](const Model* mesh) -> uint32_t {
        calls.push_back("compile " + std::to_string(mesh->vertex_count));
        return mesh->bone_count ? 0u : uint32_t(10 + calls.size());
      },
      [](uint32_t list) { calls.push_back("release " + std::to_string(list)); },
  };
  put("g.vm", vm1(mesh_header("8 0 1 1 1", 3, 1) + triangle_mesh));
  Model* m = model_load("@g.vm");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->display_list, 0u);
  model_set_gpu_ops(&ops);
  EXPECT_EQ(calls, std::vector<std::string>{"compile 3"});
  EXPECT_EQ(m->display_list, 11u);
  model_generation = 1;
  model_load("@g.vm");
  model_generation = 2;
  model_purge();
  EXPECT_EQ(calls.back(), "release 11");
  model_set_gpu_ops(nullptr);
}

}  // namespace
