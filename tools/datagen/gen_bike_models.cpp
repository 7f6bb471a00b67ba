// Low-polygon bike and rider models: boxes, tubes, tori and a sphere, coloured by picking
// strips of the bike, wheel, rider and head textures. Every model sits in its body's frame.
#include "gen_bike_models.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bike/rider_bind.h"

namespace {

struct V3 {
  float x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 unit(V3 a) {
  const float l = std::sqrt(dot(a, a));
  return l > 0 ? a * (1 / l) : V3{0, 1, 0};
}

// Texture strip centres: four vertical strips of each texture.
constexpr float strip[4] = {0.125f, 0.375f, 0.625f, 0.875f};

struct Mesh {
  struct Vertex {
    V3 p, n;
    float u, v;
    int bone;
  };
  float mode = 16;
  std::vector<Vertex> verts;
  std::vector<std::array<int, 3>> tris;
  int bone = 0;

  int add(V3 p, V3 n, float u, float v) {
    verts.push_back({p, n, u, v, bone});
    return static_cast<int>(verts.size()) - 1;
  }
  // Counter-clockwise seen from the side the normal points to.
  void quad(V3 a, V3 b, V3 c, V3 d, float u0, float u1, float v0, float v1) {
    const V3 n = unit(cross(b - a, c - a));
    const int i = add(a, n, u0, v0), j = add(b, n, u1, v0), k = add(c, n, u1, v1),
              l = add(d, n, u0, v1);
    tris.push_back({i, j, k});
    tris.push_back({i, k, l});
  }
  void box(V3 c, V3 hx, V3 hy, V3 hz, float u) {
    const V3 axes[3] = {hx, hy, hz};
    for (int a = 0; a < 3; ++a) {
      for (int s = -1; s <= 1; s += 2) {
        const V3 n = axes[a] * static_cast<float>(s);
        const V3 e1 = axes[(a + 1) % 3], e2 = axes[(a + 2) % 3];
        const V3 f = c + n;
        V3 p0 = f - e1 - e2, p1 = f + e1 - e2, p2 = f + e1 + e2, p3 = f - e1 + e2;
        if (dot(cross(p1 - p0, p2 - p0), n) < 0) std::swap(p1, p3);
        quad(p0, p1, p2, p3, u - 0.05f, u + 0.05f, 0.1f, 0.9f);
      }
    }
  }
  void box(V3 c, V3 half, float u) { box(c, {half.x, 0, 0}, {0, half.y, 0}, {0, 0, half.z}, u); }
  // A tube of `sides` faces between two points, closed at both ends.
  void tube(V3 a, V3 b, float r, int sides, float u) {
    const V3 axis = unit(b - a);
    V3 side = std::fabs(axis.y) < 0.9f ? unit(cross(axis, V3{0, 1, 0})) : unit(cross(axis, V3{1, 0, 0}));
    const V3 up = cross(side, axis);
    auto ring = [&](int k) {
      const float t = 6.2831853f * static_cast<float>(k) / static_cast<float>(sides);
      return side * std::cos(t) + up * std::sin(t);
    };
    for (int k = 0; k < sides; ++k) {
      const V3 d0 = ring(k), d1 = ring(k + 1);
      quad(a + d0 * r, a + d1 * r, b + d1 * r, b + d0 * r, u - 0.05f, u + 0.05f, 0.1f, 0.9f);
      // Fix the winding so the face looks outward.
      Mesh::Vertex& v0 = verts[verts.size() - 4];
      if (dot(v0.n, d0 + d1) < 0) {
        for (size_t q = verts.size() - 4; q < verts.size(); ++q) verts[q].n = verts[q].n * -1;
        std::swap(tris[tris.size() - 1][1], tris[tris.size() - 1][2]);
        std::swap(tris[tris.size() - 2][1], tris[tris.size() - 2][2]);
      }
    }
    for (int end = 0; end < 2; ++end) {
      const V3 c = end ? b : a;
      const V3 n = end ? axis : axis * -1;
      const int centre = add(c, n, u, 0.5f);
      for (int k = 0; k < sides; ++k) {
        const int i = add(c + ring(k) * r, n, u, 0.5f), j = add(c + ring(k + 1) * r, n, u, 0.5f);
        if (dot(cross(verts[i].p - c, verts[j].p - c), n) >= 0)
          tris.push_back({centre, i, j});
        else
          tris.push_back({centre, j, i});
      }
    }
  }
  // A torus around the x axis through c: ring radius big, tube radius small.
  void torus(V3 c, float big, float small, int segs, int sides, float u) {
    auto point = [&](int i, int j, V3* n) {
      const float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(segs);
      const float b = 6.2831853f * static_cast<float>(j) / static_cast<float>(sides);
      const V3 radial = {0, std::cos(a), std::sin(a)};
      *n = radial * std::cos(b) + V3{1, 0, 0} * std::sin(b);
      return c + radial * big + *n * small;
    };
    for (int i = 0; i < segs; ++i) {
      for (int j = 0; j < sides; ++j) {
        V3 n0, n1, n2, n3;
        const V3 p0 = point(i, j, &n0), p1 = point(i + 1, j, &n1), p2 = point(i + 1, j + 1, &n2),
                 p3 = point(i, j + 1, &n3);
        const int a = add(p0, n0, u, 0.2f), b = add(p1, n1, u, 0.4f), cc = add(p2, n2, u, 0.6f),
                  d = add(p3, n3, u, 0.8f);
        if (dot(cross(p1 - p0, p2 - p0), n0) >= 0) {
          tris.push_back({a, b, cc});
          tris.push_back({a, cc, d});
        } else {
          tris.push_back({a, cc, b});
          tris.push_back({a, d, cc});
        }
      }
    }
  }
  void sphere(V3 c, float r, int rings, int segs, float u) {
    for (int i = 0; i < rings; ++i) {
      for (int j = 0; j < segs; ++j) {
        auto pt = [&](int a, int b) {
          const float th = 3.14159265f * static_cast<float>(a) / static_cast<float>(rings);
          const float ph = 6.2831853f * static_cast<float>(b) / static_cast<float>(segs);
          return V3{std::sin(th) * std::cos(ph), std::cos(th), std::sin(th) * std::sin(ph)};
        };
        const V3 n0 = pt(i, j), n1 = pt(i + 1, j), n2 = pt(i + 1, j + 1), n3 = pt(i, j + 1);
        const int a = add(c + n0 * r, n0, u, 0.5f), b = add(c + n1 * r, n1, u, 0.5f),
                  cc = add(c + n2 * r, n2, u, 0.5f), d = add(c + n3 * r, n3, u, 0.5f);
        tris.push_back({a, cc, b});
        tris.push_back({a, d, cc});
      }
    }
  }
};

std::string num(float f) {
  char b[32];
  snprintf(b, sizeof b, "%.4f", static_cast<double>(f));
  return b;
}

// One mesh per file; bones > 0 writes a skinned "VM2" with one full weight per vertex.
std::string vm_text(const Mesh& m, int bones) {
  std::string s = bones ? "VM2\n" + std::to_string(bones) + " rider\n" : "VM1\n";
  s += num(m.mode) + " 1 1 1 1 " + std::to_string(m.verts.size()) + " " +
       std::to_string(m.tris.size()) + "\n";
  for (const Mesh::Vertex& v : m.verts) {
    // The reader turns the stored v into 1 - v.
    s += num(v.p.x) + " " + num(v.p.y) + " " + num(v.p.z) + " " + num(v.n.x) + " " +
         num(v.n.y) + " " + num(v.n.z) + " " + num(v.u) + " " + num(1 - v.v);
    for (int b = 0; b < bones; ++b) s += b == v.bone ? " 1" : " 0";
    s += "\n";
  }
  for (const auto& t : m.tris)
    s += std::to_string(t[0]) + " " + std::to_string(t[1]) + " " + std::to_string(t[2]) + "\n";
  return s;
}

V3 v3(const float* p) { return {p[0], p[1], p[2]}; }

// Bike texture strips: maker colour, white, dark, metal.
constexpr float paint = strip[0], white = strip[1], dark = strip[2], metal = strip[3];

}  // namespace

std::string frame_model(const BikeInfo& b) {
  Mesh m;
  const V3 o = v3(b.frame_centre);
  const V3 head = v3(b.steering_head) - o, pivot = v3(b.swingarm_pivot) - o;
  for (float x : {-0.22f, 0.22f}) m.tube(head + V3{x, 0, 0}, pivot + V3{x, 0.15f, -0.1f}, 0.07f, 6, metal);
  m.tube(head, V3{0, -0.75f, -0.55f}, 0.07f, 6, metal);
  m.box({0, -0.35f, -0.15f}, {0.28f, 0.4f, 0.45f}, dark);     // engine cases
  m.box({0, 0.2f, -0.45f}, {0.22f, 0.25f, 0.25f}, metal);     // cylinder
  m.box({0, 0.72f, -0.8f}, {0.34f, 0.2f, 0.45f}, paint);      // tank
  for (float x : {-0.38f, 0.38f}) m.box({x, 0.45f, -0.95f}, {0.05f, 0.32f, 0.32f}, paint);  // shrouds
  m.box({0, 0.92f, 0.45f}, {0.2f, 0.08f, 0.85f}, dark);       // seat
  m.box({0, 0.86f, 1.7f}, {0.18f, 0.03f, 0.55f}, paint);      // rear fender
  for (float x : {-0.3f, 0.3f}) m.box({x, 0.62f, 0.7f}, {0.04f, 0.26f, 0.42f}, white);  // side panels
  m.tube({0.3f, 0.0f, -0.5f}, {0.34f, 0.65f, 1.55f}, 0.1f, 8, metal);  // exhaust
  m.tube({0, 0.55f, 0.2f}, pivot + V3{0, -0.1f, 0.35f}, 0.09f, 6, paint);  // shock
  for (int s = 0; s < 2; ++s) {
    const float* peg = &b.pose_points[s ? pose_peg_right : pose_peg_left];
    m.box(v3(peg), {0.14f, 0.03f, 0.05f}, metal);
  }
  return vm_text(m, 0);
}

std::string side_plates_model(const BikeInfo&) {
  Mesh m;
  for (int s = -1; s <= 1; s += 2) {
    const float x = 0.345f * static_cast<float>(s);
    V3 a{x, 0.4f, 1.1f}, bb{x, 0.4f, 0.3f}, c{x, 0.88f, 0.3f}, d{x, 0.88f, 1.1f};
    if (s < 0) std::swap(a, bb), std::swap(c, d);
    m.quad(a, bb, c, d, s < 0 ? 1 : 0, s < 0 ? 0 : 1, 0, 1);
  }
  return vm_text(m, 0);
}

std::string fork_upper_model(const BikeInfo& b) {
  Mesh m;
  const V3 axis = unit(v3(b.steering_head) - v3(b.fork_lower_centre));
  const float half = b.fork_leg_spacing / 2;
  for (float x : {-half, half}) m.tube(V3{x, 0, 0} + axis * 0.3f, V3{x, 0, 0} - axis * 1.0f, 0.1f, 8, metal);
  m.box(axis * 0.3f, {half + 0.12f, 0.06f, 0.15f}, metal);   // top clamp
  m.box(axis * -0.2f, {half + 0.12f, 0.06f, 0.15f}, metal);  // bottom clamp
  const V3 gl = v3(&b.pose_points[pose_grip_left]), gr = v3(&b.pose_points[pose_grip_right]);
  m.tube(gl, gr, 0.05f, 6, metal);                            // handlebar
  m.tube(axis * 0.3f, (gl + gr) * 0.5f, 0.05f, 6, metal);     // bar mount
  for (const V3& g : {gl, gr}) m.tube(g, g + V3{g.x > 0 ? -0.35f : 0.35f, 0, 0}, 0.08f, 6, dark);  // grips
  return vm_text(m, 0);
}

std::string front_plate_model(const BikeInfo& b) {
  Mesh m;
  const V3 axis = unit(v3(b.steering_head) - v3(b.fork_lower_centre));
  const V3 right{1, 0, 0};
  const V3 c = axis * 0.05f + V3{0, 0, -0.32f};
  m.quad(c - right * 0.34f - axis * 0.3f, c + right * 0.34f - axis * 0.3f,
         c + right * 0.34f + axis * 0.3f, c - right * 0.34f + axis * 0.3f, 0, 1, 0, 1);
  return vm_text(m, 0);
}

std::string fork_lower_model(const BikeInfo& b) {
  Mesh m;
  const V3 o = v3(b.fork_lower_centre);
  const V3 axis = unit(v3(b.steering_head) - o);
  const V3 axle = v3(b.front_wheel.centre) - o;
  const float half = b.fork_leg_spacing / 2;
  for (float x : {-half, half}) m.tube(V3{x, 0, 0} + axis * 0.4f, V3{x, axle.y, axle.z}, 0.12f, 8, dark);
  m.tube({-half, axle.y, axle.z}, {half, axle.y, axle.z}, 0.04f, 6, metal);  // axle
  const float top = axle.y + b.front_wheel.torus_radius + b.front_wheel.tyre_radius + 0.08f;
  m.box({0, top, axle.z - 0.15f}, {0.18f, 0.03f, 0.6f}, paint);  // fender
  return vm_text(m, 0);
}

std::string swingarm_model(const BikeInfo& b) {
  Mesh m;
  const V3 o = v3(b.swingarm_centre);
  const V3 pivot = v3(b.swingarm_pivot) - o, axle = v3(b.rear_wheel.centre) - o;
  const float half = b.frame_size[0] / 2;
  for (float x : {-half, half}) m.tube(pivot + V3{x * 0.6f, 0, 0}, axle + V3{x, 0, 0}, 0.08f, 6, metal);
  m.tube(pivot + V3{-half * 0.6f, 0, 0}, pivot + V3{half * 0.6f, 0, 0}, 0.09f, 6, metal);
  m.tube(axle + V3{-half, 0, 0}, axle + V3{half, 0, 0}, 0.04f, 6, metal);
  m.box((pivot + axle) * 0.5f + V3{-half - 0.06f, 0.12f, 0}, {0.02f, 0.08f, 0.7f}, dark);  // chain guard
  return vm_text(m, 0);
}

// Wheel texture strips: tyre, dark, rim, hub.
std::string wheel_model(const WheelSpec& w) {
  Mesh m;
  m.torus({0, 0, 0}, w.torus_radius, w.tyre_radius * 0.95f, 20, 6, strip[0]);
  m.torus({0, 0, 0}, w.torus_radius - w.tyre_radius * 0.85f, 0.05f, 20, 4, strip[2]);
  m.tube({-0.2f, 0, 0}, {0.2f, 0, 0}, 0.12f, 8, strip[3]);
  for (int k = 0; k < 12; ++k) {
    const float a = 6.2831853f * static_cast<float>(k) / 12;
    const float x = k & 1 ? 0.15f : -0.15f;
    m.tube({x, 0.1f * std::cos(a), 0.1f * std::sin(a)},
           {0, (w.torus_radius - w.tyre_radius * 0.85f) * std::cos(a + 0.3f),
            (w.torus_radius - w.tyre_radius * 0.85f) * std::sin(a + 0.3f)},
           0.015f, 3, strip[2]);
  }
  return vm_text(m, 0);
}

// Rider texture strips: dark (pants, boots), white jersey, red, grey gloves. The bones follow
// the rider pose's order; every part is skinned rigidly to its bone in the bind pose.
std::string rider_body_model(const BikeInfo&, bool first_person) {
  Mesh m;
  const V3 j[rider_bone_count] = {
      v3(rider_bind_joints[0]), v3(rider_bind_joints[1]), v3(rider_bind_joints[2]),
      v3(rider_bind_joints[3]), v3(rider_bind_joints[4]), v3(rider_bind_joints[5]),
      v3(rider_bind_joints[6]), v3(rider_bind_joints[7]), v3(rider_bind_joints[8])};
  const V3 hand[2] = {v3(rider_bind_hands[0]), v3(rider_bind_hands[1])};
  const V3 foot[2] = {v3(rider_bind_feet[0]), v3(rider_bind_feet[1])};
  for (int s = 0; s < 2; ++s) {
    m.bone = s;  // forearm: elbow to hand, glove at the end
    m.tube(j[s], hand[s] - V3{s ? 0.2f : -0.2f, 0, 0}, 0.13f, 6, strip[1]);
    m.box(hand[s] - V3{s ? 0.1f : -0.1f, 0, 0}, {0.12f, 0.1f, 0.1f}, strip[3]);
    m.bone = 2 + s;  // upper arm
    m.tube(j[2 + s], j[s], 0.16f, 6, strip[1]);
    m.bone = 4 + s;  // shin with its boot
    m.tube(j[4 + s], foot[s] + V3{0, 0.25f, 0}, 0.17f, 6, strip[0]);
    m.box(foot[s] + V3{0, 0.12f, -0.12f}, {0.14f, 0.14f, 0.32f}, strip[0]);
    m.bone = 6 + s;  // thigh
    m.tube(j[6 + s], j[4 + s], 0.21f, 6, strip[0]);
  }
  if (!first_person) {
    m.bone = 8;
    m.box({0, 0.95f, 0}, {0.42f, 0.85f, 0.27f}, strip[1]);          // jersey
    m.box({0, 0.55f, -0.28f}, {0.3f, 0.12f, 0.02f}, strip[2]);      // chest stripe
    m.box({0, 0.05f, 0}, {0.4f, 0.18f, 0.26f}, strip[0]);           // belt and hips
    m.tube({0, 1.8f, 0}, {0, 2.05f, 0}, 0.12f, 6, strip[1]);        // neck
  }
  return vm_text(m, rider_bone_count);
}

std::string rider_plate_model(const BikeInfo&) {
  Mesh m;
  m.bone = 8;
  m.quad({0.28f, 0.8f, 0.29f}, {-0.28f, 0.8f, 0.29f}, {-0.28f, 1.4f, 0.29f}, {0.28f, 1.4f, 0.29f},
         0, 1, 0, 1);
  return vm_text(m, rider_bone_count);
}

// Head texture strips: white shell, black goggles, red peak, grey.
std::string head_model() {
  Mesh m;
  m.sphere({0, 0.45f, 0}, 0.4f, 8, 12, strip[0]);
  m.box({0, 0.82f, -0.42f}, {0.28f, 0.03f, 0.16f}, strip[2]);   // peak
  m.box({0, 0.5f, -0.38f}, {0.26f, 0.08f, 0.04f}, strip[1]);    // goggles
  m.box({0, 0.18f, -0.36f}, {0.18f, 0.09f, 0.07f}, strip[0]);   // chin bar
  return vm_text(m, 0);
}
