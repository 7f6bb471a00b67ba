// Contacts of the bike: tyre tori and collision spheres against the height-field triangles,
// statues and other bikes, each turned into an ODE contact joint or a penalty force.
#include "bike/contact.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bike/bike.h"
#include "bike/bike_internal.h"
#include "bike/shape.h"
#include "core/memory.h"
#include "track/terrain.h"
#include "track/track_objects.h"

namespace {

Vec3 vec(const float* p) { return {p[0], p[1], p[2]}; }
void store(float* out, Vec3 v) {
  out[0] = v.x;
  out[1] = v.y;
  out[2] = v.z;
}

Vec3 closest_on_segment(Vec3 p, Vec3 a, Vec3 b) {
  const Vec3 ab = b - a;
  const float l2 = length2(ab);
  float t = l2 > 0 ? dot(p - a, ab) / l2 : 0;
  t = clampf(t, 0, 1);
  return a + ab * t;
}

// Up-facing unit normal of a triangle, or (0, 1, 0) for a degenerate one.
Vec3 face_normal(const Triangle& tri) {
  const Vec3 a = vec(tri.v[0]), b = vec(tri.v[1]), c = vec(tri.v[2]);
  Vec3 n = cross(b - a, c - a);
  if (n.y < 0) n = -n;
  const float l = length(n);
  return l > 0 ? n * (1 / l) : Vec3{0, 1, 0};
}

// Barycentric inside test of a point already in the triangle's plane.
bool inside(const Triangle& tri, Vec3 n, Vec3 p) {
  for (int k = 0; k < 3; ++k) {
    const Vec3 a = vec(tri.v[k]), b = vec(tri.v[(k + 1) % 3]);
    const Vec3 third = vec(tri.v[(k + 2) % 3]);
    const float side = dot(cross(b - a, p - a), n);
    const float ref = dot(cross(b - a, third - a), n);
    if (side * ref < 0) return false;
  }
  return true;
}

// Distance from a point to the tyre's centre circle, and the circle point nearest to it.
float circle_distance(Vec3 s, Vec3 c, Vec3 axle, float radius, Vec3 fallback, Vec3* nearest) {
  const Vec3 d = s - c;
  const float along = dot(d, axle);
  Vec3 w = d - axle * along;
  float wl = length(w);
  if (wl < 1e-6f) {
    w = fallback;
    wl = 1;
  }
  *nearest = c + w * (radius / wl);
  return length(s - *nearest);
}

// The part of a segment inside a ball; false when it misses the ball.
bool clip_to_ball(Vec3 a, Vec3 b, Vec3 c, float r, float* t0, float* t1) {
  const Vec3 d = b - a;
  const Vec3 f = a - c;
  const float qa = dot(d, d), qb = 2 * dot(f, d), qc = dot(f, f) - r * r;
  if (qa <= 0) {
    *t0 = *t1 = 0;
    return qc <= 0;
  }
  const float disc = qb * qb - 4 * qa * qc;
  if (disc < 0) return false;
  const float root = std::sqrt(disc);
  *t0 = std::max(0.0f, (-qb - root) / (2 * qa));
  *t1 = std::min(1.0f, (-qb + root) / (2 * qa));
  return *t0 <= *t1;
}

int body_of_part(int bit) {
  switch (bit) {
    case part_frame: return body_frame;
    case part_front_wheel: return body_front_wheel;
    case part_rear_wheel: return body_rear_wheel;
    case part_steering: return body_steering;
    case part_fork_lower: return body_fork_lower;
    case part_swingarm: return body_swingarm;
    default: return body_rider;
  }
}

CollisionShape* shape_of_part(Rider* r, int bit) {
  switch (bit) {
    case part_frame: return r->shapes[shape_frame];
    case part_front_wheel: return r->shapes[shape_front_wheel];
    case part_rear_wheel: return r->shapes[shape_rear_wheel];
    case part_steering: return r->shapes[shape_fork_upper];
    case part_fork_lower: return r->shapes[shape_fork_lower];
    case part_swingarm: return r->shapes[shape_swingarm];
    default: return r->shapes[shape_rider];
  }
}

void shape_world_centres(CollisionShape* s, Vec3 pos, const float rot[9]) {
  // A freshly parsed shape has no room for its world centres yet.
  if (!s->world_centres)
    s->world_centres = static_cast<double*>(xcalloc(static_cast<size_t>(s->sphere_count) * 3, sizeof(double)));
  for (int i = 0; i < s->sphere_count; ++i) {
    const float* c = s->spheres[i].centre;
    double* w = &s->world_centres[3 * i];
    for (int k = 0; k < 3; ++k)
      w[k] = rot[3 * k] * c[0] + rot[3 * k + 1] * c[1] + rot[3 * k + 2] * c[2] + (&pos.x)[k];
  }
}

void body_transform(dBodyID b, Vec3* pos, float rot[9]) {
  const dReal* m = dBodyGetRotation(b);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) rot[3 * i + j] = static_cast<float>(m[4 * i + j]);
  *pos = body_pos(b);
}

Vec3 sphere_centre(const CollisionShape* s, int i) {
  const double* w = &s->world_centres[3 * i];
  return {static_cast<float>(w[0]), static_cast<float>(w[1]), static_cast<float>(w[2])};
}

void fix_normal(Vec3* n) {
  if (n->y < 0) {
    if (n->x * n->x + n->z * n->z >= 1.0f / 1024)
      n->y = 0;
    else
      *n = {0, 1, 0};
  }
  *n = normalise(*n);
}

struct CellRange {
  int c0, c1, r0, r1;  // columns c0..c1-1, rows r0..r1-1
};

CellRange cells_around(const Terrain* t, Vec3 c, float reach) {
  const float inv = 1 / t->spacing;
  return {static_cast<int>(std::floor((c.x - reach) * inv)),
          static_cast<int>(std::ceil((c.x + reach) * inv)),
          static_cast<int>(std::floor((c.z - reach) * inv)),
          static_cast<int>(std::ceil((c.z + reach) * inv))};
}

dJointID ground_joint(dBodyID body, dBodyID other, Vec3 p, Vec3 n, float depth, float mu,
                      float k, float c, bool fdir, Vec3 dir) {
  dContact contact{};
  contact.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
  if (fdir) contact.surface.mode |= dContactFDir1;
  contact.surface.mu = mu;
  soft_terms(k, c, &contact.surface.soft_erp, &contact.surface.soft_cfm);
  contact.geom.pos[0] = p.x;
  contact.geom.pos[1] = p.y;
  contact.geom.pos[2] = p.z;
  contact.geom.normal[0] = n.x;
  contact.geom.normal[1] = n.y;
  contact.geom.normal[2] = n.z;
  contact.geom.depth = depth;
  contact.fdir1[0] = dir.x;
  contact.fdir1[1] = dir.y;
  contact.fdir1[2] = dir.z;
  dJointID j = dJointCreateContact(world, contact_group, &contact);
  dJointAttach(j, body, other);
  return j;
}

bool enabled(dBodyID b) { return b && dBodyIsEnabled(b); }

Vec3 point_velocity(dBodyID b, Vec3 p) { return b ? body_point_velocity(b, p) : Vec3{0, 0, 0}; }

struct PairContext {
  int mode;  // 0 joints, 1 penalty forces
  bool touched;
};

// Sphere a (body ba) against sphere b (body bb): step 5 of the rider pair rules. Returns the
// contact when touching (depth > 0) and acts on it unless detecting only.
bool sphere_pair(Vec3 a, float ra, const ShapeSphere& sa, dBodyID ba, Vec3 b, float rb,
                 const ShapeSphere& sb, dBodyID bb, int mode, bool detect_only,
                 ContactPoint* out) {
  const Vec3 d = b - a;
  const float dist = length(d);
  // Coincident centres give no direction to push along.
  if (!(dist < ra + rb) || dist <= 0) return false;
  const float depth = ra + rb - dist;
  const Vec3 n = d * (1 / dist);
  const Vec3 p = a + d * ((ra - depth / 2) / dist);
  if (out) {
    out->depth = depth;
    store(out->point, p);
    store(out->normal, n);
  }
  if (detect_only) return true;
  const float mu = std::min(sa.friction, sb.friction);
  const float k = std::min(sa.stiffness, sb.stiffness);
  const float c = std::min(sa.damping, sb.damping);
  if (mode == 0) {
    ground_joint(bb, ba, p, n, depth, mu, k, c, false, Vec3{});
  } else {
    const Vec3 va = point_velocity(ba, p), vb = point_velocity(bb, p);
    // A penalty spring only ever pushes the spheres apart.
    const float f = clampf((dot(va, n) - dot(vb, n)) * c + depth * k, 0, 1000);
    if (enabled(bb)) dBodyAddForceAtPos(bb, f * n.x, f * n.y, f * n.z, p.x, p.y, p.z);
    if (enabled(ba)) dBodyAddForceAtPos(ba, -f * n.x, -f * n.y, -f * n.z, p.x, p.y, p.z);
  }
  return true;
}

bool shape_vs_shape(const CollisionShape* sa, dBodyID ba, Vec3 pa, const CollisionShape* sb,
                    dBodyID bb, Vec3 pb, int mode, bool detect_only) {
  if (!(length(pb - pa) < sa->bound + sb->bound)) return false;
  bool touched = false;
  for (int i = 0; i < sa->sphere_count; ++i) {
    const Vec3 a = sphere_centre(sa, i);
    for (int j = 0; j < sb->sphere_count; ++j) {
      const Vec3 b = sphere_centre(sb, j);
      touched |= sphere_pair(a, sa->spheres[i].radius, sa->spheres[i], ba, b,
                             sb->spheres[j].radius, sb->spheres[j], bb, mode, detect_only,
                             nullptr);
    }
  }
  return touched;
}

// The tyre of `wheel` against a shape: every sphere meets a virtual tyre sphere on the centre
// circle nearest to it. shape_first puts the shape's sphere in the role of sphere a.
bool wheel_vs_shape(WheelContact* wheel, const CollisionShape* s, dBodyID sbody, Vec3 spos,
                    int mode, bool detect_only, bool shape_first, bool wheel_grounded) {
  dBodyID wb = wheel->body;
  const Vec3 c = body_pos(wb);
  if (!(length(c - spos) < wheel->torus_radius + wheel->tyre_radius + s->bound)) return false;
  const Vec3 axle = normalise(body_axis(wb, 0));
  static const ShapeSphere tyre = {{0, 0, 0}, 0, 1, 25000, 2500};
  ShapeSphere virt = tyre;
  virt.radius = wheel->tyre_radius;
  const float near_axle = std::sqrt(1e-6f * wheel->torus_radius);
  bool touched = false;
  ContactPoint best{};
  for (int i = 0; i < s->sphere_count; ++i) {
    const Vec3 sc = sphere_centre(s, i);
    Vec3 w = (sc - c) - axle * dot(sc - c, axle);
    if (length(w) < near_axle) {
      static const Vec3 tries[] = {{1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
      for (const Vec3& t : tries) {
        w = t - axle * dot(t, axle);
        if (length(w) >= near_axle) break;
      }
    }
    const Vec3 k = c + normalise(w) * wheel->torus_radius;
    ContactPoint cp{};
    bool hit;
    if (shape_first)
      hit = sphere_pair(sc, s->spheres[i].radius, s->spheres[i], sbody, k, virt.radius, virt, wb,
                        mode, detect_only, &cp);
    else
      hit = sphere_pair(k, virt.radius, virt, wb, sc, s->spheres[i].radius, s->spheres[i], sbody,
                        mode, detect_only, &cp);
    if (!hit) continue;
    if (!shape_first)
      for (float& v : cp.normal) v = -v;  // the wheel's normal points toward the wheel
    if (!touched || cp.depth > best.depth) best = cp;
    touched = true;
  }
  if (touched && !wheel_grounded) {
    // A wheel resting on another bike counts as touching.
    memcpy(wheel->point, best.point, sizeof best.point);
    memcpy(wheel->normal, best.normal, sizeof best.normal);
    wheel->depth = best.depth;
    store(wheel->point_velocity, body_point_velocity(wb, vec(best.point)));
  }
  return touched;
}

constexpr int part_order[] = {part_front_wheel, part_rear_wheel, part_frame, part_steering,
                              part_fork_lower, part_swingarm, part_rider};

bool is_wheel(int bit) { return bit == part_front_wheel || bit == part_rear_wheel; }
WheelContact* wheel_of(Rider* r, int bit) { return &r->wheel[bit == part_rear_wheel ? 1 : 0]; }

void place_shape(Rider* r, int bit) {
  CollisionShape* s = shape_of_part(r, bit);
  if (!s) return;
  Vec3 pos;
  float rot[9];
  body_transform(r->body[body_of_part(bit)], &pos, rot);
  shape_world_centres(s, pos, rot);
}

float frame_speed(const Rider* r) { return length(body_vel(r->body[body_frame])); }

}  // namespace

void tyre_contact_terms(float depth, float tyre_radius, float* k, float* c) {
  // The tyre stiffens with the cube of its sinking until it is pressed flat.
  const float f = std::min(1.0f, depth / tyre_radius);
  const float f3 = f * f * f;
  *k = 1000 + 24000 * f3;
  *c = 200 + 2300 * f3;
}

bool tyre_friction_direction(const float normal[3], const float velocity[3], const float axle[3],
                             float out[3]) {
  const Vec3 n = vec(normal);
  Vec3 u = cross(n, vec(velocity));
  // Too slow to tell a sliding direction: take the rolling direction from the axle.
  if (length2(u) < 1.0f / 1024) u = cross(n, vec(axle));
  if (!(length2(u) > 0)) {
    out[0] = out[1] = out[2] = 0;
    return false;
  }
  store(out, normalise(u));
  return true;
}

ContactPoint sphere_triangle_depth(const float centre[3], float radius, const Triangle& tri) {
  const Vec3 c = vec(centre);
  const Vec3 n = face_normal(tri);
  const Vec3 a = vec(tri.v[0]);
  const float sd = dot(c - a, n);
  const Vec3 proj = c - n * sd;
  ContactPoint out{};
  Vec3 normal;
  if (inside(tri, n, proj)) {
    out.depth = radius - sd;
    normal = n;
  } else {
    Vec3 q = closest_on_segment(c, vec(tri.v[0]), vec(tri.v[1]));
    for (int k = 1; k < 3; ++k) {
      const Vec3 e = closest_on_segment(c, vec(tri.v[k]), vec(tri.v[(k + 1) % 3]));
      if (length2(c - e) < length2(c - q)) q = e;
    }
    const float dist = length(c - q);
    out.depth = radius - dist;
    normal = dist > 0 ? (c - q) * (1 / dist) : n;
  }
  store(out.normal, normal);
  store(out.point, c - normal * radius);
  return out;
}

namespace {

// skip_at_most: when even the triangle's plane cannot bring the tyre deeper than this, the
// edge search is left out and the plane bound comes back (with *exact false).
ContactPoint torus_depth_impl(const float centre[3], const float axle_in[3], float torus_radius,
                              float tyre_radius, const Triangle& tri, float skip_at_most,
                              bool* exact) {
  *exact = true;
  const Vec3 c = vec(centre);
  const Vec3 axle = normalise(vec(axle_in));
  const Vec3 n = face_normal(tri);
  const Vec3 a0 = vec(tri.v[0]);
  ContactPoint out{};
  out.depth = -1e30f;
  // The plane: the circle point deepest along -n, when its foot lies inside the triangle.
  Vec3 down = -(n - axle * dot(n, axle));
  const float dl = length(down);
  // A wheel lying flat has no deepest point; any direction toward the triangle serves.
  const Vec3 centroid = (vec(tri.v[0]) + vec(tri.v[1]) + vec(tri.v[2])) * (1.0f / 3);
  Vec3 fallback = (centroid - c) - axle * dot(centroid - c, axle);
  if (length(fallback) < 1e-6f) fallback = normalise(cross(axle, Vec3{1, 0, 0}));
  if (length(fallback) < 1e-6f) fallback = normalise(cross(axle, Vec3{0, 0, 1}));
  fallback = normalise(fallback);
  const Vec3 deepest = c + (dl > 1e-6f ? down * (torus_radius / dl) : fallback * torus_radius);
  const float plane_dist = dot(deepest - a0, n);
  // No point of the triangle can be closer than its plane: a shallow bound skips the edges.
  const float bound = tyre_radius - plane_dist;
  if (inside(tri, n, deepest - n * plane_dist)) {
    out.depth = bound;
    store(out.normal, n);
    store(out.point, deepest - n * tyre_radius);
    return out;
  }
  if (bound <= 0 || bound <= skip_at_most) {
    *exact = bound <= 0;
    out.depth = bound;
    store(out.normal, n);
    store(out.point, deepest - n * tyre_radius);
    return out;
  }
  // A circle cutting the plane inside the triangle touches it although its lowest point lies
  // beyond an edge.
  {
    const Vec3 inplane = n - axle * dot(n, axle);
    const float ip = length(inplane);
    const float cd = dot(c - a0, n);
    if (ip > 1e-6f && std::fabs(cd) < torus_radius * ip) {
      const Vec3 u = inplane * (1 / ip);
      const Vec3 v = cross(axle, u);
      // Points c + R(u cos a + v sin a) with R ip cos a = -cd.
      const float ca = -cd / (torus_radius * ip);
      const float sa = std::sqrt(std::max(0.0f, 1 - ca * ca));
      for (float sign : {1.0f, -1.0f}) {
        const Vec3 q = c + (u * ca + v * (sign * sa)) * torus_radius;
        if (inside(tri, n, q - n * dot(q - a0, n))) {
          out.depth = tyre_radius;
          store(out.normal, n);
          store(out.point, q - n * tyre_radius);
          return out;
        }
      }
    }
  }
  // Edges and corners: the nearest point between the centre circle and each edge, searched on
  // the part of the edge that can reach the tyre at all.
  const float reach = torus_radius + tyre_radius;
  float best = 1e30f;
  Vec3 best_s{}, best_k{};
  for (int e = 0; e < 3; ++e) {
    const Vec3 p0 = vec(tri.v[e]), p1 = vec(tri.v[(e + 1) % 3]);
    float t0, t1;
    if (!clip_to_ball(p0, p1, c, reach, &t0, &t1)) continue;
    constexpr int samples = 16;
    float bt = t0, bd = 1e30f;
    for (int i = 0; i <= samples; ++i) {
      const float t = t0 + (t1 - t0) * i / samples;
      Vec3 k;
      const float d = circle_distance(p0 + (p1 - p0) * t, c, axle, torus_radius, fallback, &k);
      if (d < bd) bd = d, bt = t;
    }
    float lo = std::max(t0, bt - (t1 - t0) / samples), hi = std::min(t1, bt + (t1 - t0) / samples);
    for (int it = 0; it < 24; ++it) {
      const float m1 = lo + (hi - lo) * 0.381966f, m2 = hi - (hi - lo) * 0.381966f;
      Vec3 k;
      const float d1 = circle_distance(p0 + (p1 - p0) * m1, c, axle, torus_radius, fallback, &k);
      const float d2 = circle_distance(p0 + (p1 - p0) * m2, c, axle, torus_radius, fallback, &k);
      if (d1 < d2)
        hi = m2;
      else
        lo = m1;
    }
    for (float t : {bt, 0.5f * (lo + hi)}) {
      const Vec3 s = p0 + (p1 - p0) * t;
      Vec3 k;
      const float d = circle_distance(s, c, axle, torus_radius, fallback, &k);
      if (d < best) best = d, best_s = s, best_k = k;
    }
  }
  if (best >= 1e29f) {
    out.depth = bound < 0 ? bound : -reach;
    store(out.normal, n);
    store(out.point, deepest - n * tyre_radius);
    return out;
  }
  const Vec3 nn = best > 1e-7f ? (best_k - best_s) * (1 / best) : n;
  out.depth = tyre_radius - best;
  store(out.normal, nn);
  store(out.point, best_k - nn * tyre_radius);
  return out;
}

}  // namespace

ContactPoint torus_triangle_depth(const float centre[3], const float axle[3], float torus_radius,
                                  float tyre_radius, const Triangle& tri) {
  bool exact;
  return torus_depth_impl(centre, axle, torus_radius, tyre_radius, tri, -1e30f, &exact);
}

void terrain_cell_triangles(const Terrain* t, int i, int j, Triangle out[2]) {
  auto set = [&](Triangle& tri, int k, int c, int r) {
    tri.v[k][0] = static_cast<float>(c) * t->spacing;
    tri.v[k][1] = terrain_sample(t, c, r);
    tri.v[k][2] = static_cast<float>(r) * t->spacing;
  };
  if ((i + j) & 1) {
    set(out[0], 0, i, j), set(out[0], 1, i + 1, j), set(out[0], 2, i, j + 1);
    set(out[1], 0, i + 1, j + 1), set(out[1], 1, i, j + 1), set(out[1], 2, i + 1, j);
  } else {
    set(out[0], 0, i + 1, j), set(out[0], 1, i, j), set(out[0], 2, i + 1, j + 1);
    set(out[1], 0, i, j + 1), set(out[1], 1, i + 1, j + 1), set(out[1], 2, i, j);
  }
}

namespace {

// Every triangle lies below its highest corner: a body whose lowest point is clear above all
// the corners of the cells around it touches none of their triangles, and needs no tests.
bool clear_of_cells(const Terrain* t, const CellRange& cells, float lowest) {
  float highest = -1e30f;
  for (int r = cells.r0; r <= cells.r1; ++r)
    for (int c = cells.c0; c <= cells.c1; ++c) highest = std::max(highest, terrain_sample(t, c, r));
  return lowest > highest + 0.01f;
}

}  // namespace

bool sphere_terrain_contact(const Terrain* t, const float centre[3], float radius, float point[3],
                            float normal[3], float* depth) {
  const CellRange cells = cells_around(t, vec(centre), radius);
  *depth = 0;
  // Most parts ride high above the ground.
  if (clear_of_cells(t, cells, centre[1] - radius)) return false;
  ContactPoint best{};
  bool found = false;
  for (int j = cells.r0; j < cells.r1; ++j) {
    for (int i = cells.c0; i < cells.c1; ++i) {
      Triangle tri[2];
      terrain_cell_triangles(t, i, j, tri);
      for (const Triangle& tr : tri) {
        const ContactPoint cp = sphere_triangle_depth(centre, radius, tr);
        if (cp.depth > 0 && (!found || cp.depth > best.depth)) best = cp, found = true;
      }
    }
  }
  *depth = 0;
  if (!found) return false;
  Vec3 n = vec(best.normal);
  fix_normal(&n);
  store(normal, n);
  memcpy(point, best.point, sizeof best.point);
  *depth = best.depth;
  return true;
}

bool wheel_ground_contact(const Terrain* t, WheelContact* w, float friction_multiplier) {
  dBodyID b = w->body;
  const Vec3 c = body_pos(b);
  const Vec3 axle = body_point_world(b, vec(w->axle_axis)) - c;
  const float centre[3] = {c.x, c.y, c.z};
  const float axle_f[3] = {axle.x, axle.y, axle.z};
  const CellRange cells = cells_around(t, c, w->torus_radius + w->tyre_radius);
  if (clear_of_cells(t, cells, c.y - (w->torus_radius + w->tyre_radius))) {
    // In the air.
    w->depth = 0;
    memset(w->point_velocity, 0, sizeof w->point_velocity);
    w->feedback = JointFeedback{};
    return false;
  }
  // First the cheap plane tests of every candidate triangle, then the edge searches only where
  // the plane leaves room for a deeper contact than the best one already found.
  constexpr int max_candidates = 64;
  Triangle tris[max_candidates];
  ContactPoint results[max_candidates];
  bool exact[max_candidates];
  int count = 0;
  float best_exact = 0;
  for (int j = cells.r0; j < cells.r1; ++j) {
    for (int i = cells.c0; i < cells.c1; ++i) {
      Triangle tri[2];
      terrain_cell_triangles(t, i, j, tri);
      for (const Triangle& tr : tri) {
        if (count == max_candidates) break;
        tris[count] = tr;
        results[count] = torus_depth_impl(centre, axle_f, w->torus_radius, w->tyre_radius, tr,
                                          1e30f, &exact[count]);
        if (exact[count]) best_exact = std::max(best_exact, results[count].depth);
        ++count;
      }
    }
  }
  ContactPoint best{};
  bool found = false;
  for (int k = 0; k < count; ++k) {
    if (!exact[k] && results[k].depth > best_exact)
      results[k] = torus_depth_impl(centre, axle_f, w->torus_radius, w->tyre_radius, tris[k],
                                    best_exact, &exact[k]);
    const ContactPoint& cp = results[k];
    if (!exact[k]) continue;  // its plane bound is no deeper than a contact found elsewhere
    if (cp.depth > 0 && (!found || cp.depth > best.depth)) best = cp, found = true;
  }
  if (!found) {
    w->depth = 0;
    memset(w->point_velocity, 0, sizeof w->point_velocity);
    w->feedback = JointFeedback{};
    return false;
  }
  Vec3 n = vec(best.normal);
  fix_normal(&n);
  const Vec3 p = vec(best.point);
  const Vec3 pv = body_point_velocity(b, p);
  store(w->point, p);
  store(w->normal, n);
  store(w->point_velocity, pv);
  w->depth = best.depth;

  const TileType* type = &t->tile_types[terrain_tile_at(t, p.x, p.z)];
  const float mu = friction_at(type, length2(pv)) * friction_multiplier;
  float k, cd;
  tyre_contact_terms(w->depth, w->tyre_radius, &k, &cd);
  const float f = std::min(1.0f, w->depth / w->tyre_radius);
  const float nn[3] = {n.x, n.y, n.z}, vv[3] = {pv.x, pv.y, pv.z};
  const Vec3 an = normalise(axle);
  const float aa[3] = {an.x, an.y, an.z};
  float dir1[3];
  const bool fdir = tyre_friction_direction(nn, vv, aa, dir1);
  dJointID j = ground_joint(b, nullptr, p, n, w->depth, mu, k, cd, fdir, vec(dir1));
  w->feedback = JointFeedback{};
  dJointSetFeedback(j, reinterpret_cast<dJointFeedback*>(&w->feedback));

  const Vec3 v = body_vel(b);
  const Vec3 vt = v - n * dot(v, n);
  const float speed = length(vt);
  float shallow, deep;
  roll_resist_at(type, speed, &shallow, &deep);
  const float resist = -(shallow + (deep - shallow) * f);
  const Vec3 dir = speed > 1 ? vt * (1 / speed) : vt;  // fades out below 1 ft/s
  dBodyAddForce(b, resist * dir.x, resist * dir.y, resist * dir.z);
  return true;
}

bool wheel_ground_probe(const Terrain* t, const WheelContact* w, float point[3], float normal[3],
                        float* depth) {
  dBodyID b = w->body;
  const Vec3 c = body_pos(b);
  const Vec3 axle = body_point_world(b, vec(w->axle_axis)) - c;
  const float centre[3] = {c.x, c.y, c.z};
  const float axle_f[3] = {axle.x, axle.y, axle.z};
  const CellRange cells = cells_around(t, c, w->torus_radius + w->tyre_radius);
  const int rows = cells.r1 - cells.r0, cols = cells.c1 - cells.c0;
  *depth = 0;
  // From the middle outward: the first hit is then most likely under the wheel.
  auto offset = [](int n, int k) {
    const int mid = (n - 1) / 2;
    const int step = (k + 1) / 2;
    return k == 0 ? mid : (k & 1 ? mid + step : mid - step);
  };
  for (int kr = 0; kr < rows; ++kr) {
    const int j = cells.r0 + offset(rows, kr);
    if (j < cells.r0 || j >= cells.r1) continue;
    for (int kc = 0; kc < cols; ++kc) {
      const int i = cells.c0 + offset(cols, kc);
      if (i < cells.c0 || i >= cells.c1) continue;
      Triangle tri[2];
      terrain_cell_triangles(t, i, j, tri);
      for (const Triangle& tr : tri) {
        const ContactPoint cp = torus_triangle_depth(centre, axle_f, w->torus_radius, w->tyre_radius, tr);
        if (cp.depth > 0) {
          Vec3 n = vec(cp.normal);
          fix_normal(&n);
          store(normal, n);
          memcpy(point, cp.point, sizeof cp.point);
          *depth = cp.depth;
          return true;
        }
      }
    }
  }
  return false;
}

int bike_collide_world(const Terrain* t, Rider* r) {
  r->terrain = t;  // the assists of the coming bike tick look at the same ground
  int touched = 0;
  const float mult =
      r->assists.arcade
          ? 1 - 0.375f * clampf(4 * std::fabs(r->lean_angle) / 3.14159265f, 0, 1)
          : 1;
  if (wheel_ground_contact(t, &r->wheel[0], mult)) touched |= part_front_wheel;
  if (wheel_ground_contact(t, &r->wheel[1], mult)) touched |= part_rear_wheel;
  static const int parts[] = {part_frame, part_steering, part_fork_lower, part_swingarm, part_rider};
  for (int bit : parts) {
    CollisionShape* s = shape_of_part(r, bit);
    if (!s) continue;
    dBodyID body = r->body[body_of_part(bit)];
    place_shape(r, bit);
    bool hit = false;
    for (int i = 0; i < s->sphere_count; ++i) {
      const Vec3 c = sphere_centre(s, i);
      const float centre[3] = {c.x, c.y, c.z};
      float p[3], n[3], depth;
      if (!sphere_terrain_contact(t, centre, s->spheres[i].radius, p, n, &depth)) continue;
      ground_joint(body, nullptr, vec(p), vec(n), depth, s->spheres[i].friction, 2500, 250,
                   false, Vec3{});
      hit = true;
    }
    if (!hit) continue;
    touched |= bit;
    if (bit == part_rider && body_axis(body, 1).y < 0 && length2(body_vel(body)) > 25 &&
        r->down_ticks == 0 && r->impact >= 0)
      knock_down(r);
    if (bit != part_frame && r->crash_state == 0) r->crash_state = 1;
  }
  return touched;
}

int bike_parts_contact(Rider* r, CollisionShape* s, dxBody* body, const float position[3],
                       const float rotation[9], int mode, bool detect_only) {
  if (!s) return 0;
  const Vec3 spos = vec(position);
  shape_world_centres(s, spos, rotation);
  int mask = 0;
  for (int bit : part_order) {
    const bool detect = detect_only && (bit == part_front_wheel || bit == part_steering ||
                                        bit == part_fork_lower);
    bool hit;
    if (is_wheel(bit)) {
      WheelContact* w = wheel_of(r, bit);
      hit = wheel_vs_shape(w, s, body, spos, mode, detect, false, w->depth > 0);
    } else {
      CollisionShape* own = shape_of_part(r, bit);
      if (!own) continue;
      place_shape(r, bit);
      dBodyID b = r->body[body_of_part(bit)];
      hit = shape_vs_shape(own, b, body_pos(b), s, body, spos, mode, detect);
    }
    if (hit) mask |= bit;
  }
  return mask;
}

constexpr float rider_reach = 20;  // ft between two frames beyond which no parts can meet

void rider_place_shapes(Rider* r) {
  for (int bit : part_order) place_shape(r, bit);
}

int riders_collide(Rider* a, Rider* b, bool remote, int race_tick) {
  rider_place_shapes(a);
  rider_place_shapes(b);
  return riders_collide_placed(a, b, remote, race_tick);
}

int riders_collide_placed(Rider* a, Rider* b, bool remote, int race_tick) {
  // Ghosts take no part: a contact joint would wake their disabled bodies.
  if (a->solidity == 0 || b->solidity == 0) return 0;
  // Every part of a bike and its rider lies within a few feet of the frame: bikes whose frames
  // are far apart cannot touch, and a full field would otherwise test every part of every
  // pair each tick.
  if (length2(body_pos(a->body[body_frame]) - body_pos(b->body[body_frame])) > rider_reach * rider_reach)
    return 0;
  const int mode = a->last_collision_tick == race_tick || b->last_collision_tick == race_tick;
  int mask = 0, a_mask = 0;
  for (int abit : part_order) {
    CollisionShape* sa = shape_of_part(a, abit);
    if (!sa) continue;
    dBodyID ba = a->body[body_of_part(abit)];
    const Vec3 pa = body_pos(ba);
    for (int bbit : part_order) {
      const bool detect = remote && (bbit == part_steering || bbit == part_fork_lower) &&
                          (abit == part_rear_wheel || abit == part_frame ||
                           abit == part_swingarm || abit == part_rider);
      bool hit;
      if (is_wheel(bbit)) {
        WheelContact* w = wheel_of(b, bbit);
        hit = wheel_vs_shape(w, sa, ba, pa, mode, detect, true, w->depth > 0);
      } else {
        CollisionShape* sb = shape_of_part(b, bbit);
        if (!sb) continue;
        dBodyID bb = b->body[body_of_part(bbit)];
        hit = shape_vs_shape(sa, ba, pa, sb, bb, body_pos(bb), mode, detect);
      }
      if (hit) {
        mask |= bbit;
        a_mask |= abit;
      }
    }
  }
  if (!mask) return 0;
  const float speed_a = frame_speed(a), speed_b = frame_speed(b);
  const bool a_front = a_mask & (part_front_wheel | part_fork_lower);
  const bool b_front = mask & (part_front_wheel | part_fork_lower);
  if (((a_mask & part_front_wheel) && (mask & part_front_wheel)) ||
      ((a_mask & part_fork_lower) && (mask & part_fork_lower))) {
    if (speed_a >= 10) a->impact = std::max(a->impact, 192.0f);
    if (speed_b >= 10) b->impact = std::max(b->impact, 192.0f);
  }
  if (!a_front && b_front && a->down_ticks == 0 && speed_a >= 5 && speed_b >= 10)
    b->impact = std::max(b->impact, 256.0f);
  if (a_front && !b_front && b->down_ticks == 0 && speed_b >= 5 && speed_a >= 10)
    a->impact = std::max(a->impact, 256.0f);
  for (Rider* r : {a, b}) {
    r->last_collision_tick = race_tick;
    if (r->first_collision_tick == -1) r->first_collision_tick = race_tick;
  }
  return mask;
}

void rider_contact_step(const Terrain* t, Rider* r, int race_tick) {
  bike_collide_world(t, r);
  TrackObjects& objects = track_objects;
  if (objects.statues.count == 0 || t->extent <= 0) return;
  const Vec3 f = body_pos(r->body[body_frame]);
  auto bin = [&](float c) {
    const int b = static_cast<int>(std::floor((c / t->extent - 0.125f) * 4 / 3 * 8));
    return std::clamp(b, 0, statue_bin_side - 1);
  };
  const int x0 = bin(f.x - 6), x1 = bin(f.x + 6), z0 = bin(f.z - 6), z1 = bin(f.z + 6);
  int candidates[1024];
  int count = 0;
  for (int z = z0; z <= z1; ++z) {
    for (int x = x0; x <= x1; ++x) {
      const Array<int>& list = objects.statue_bins[z * statue_bin_side + x];
      for (int k = 0; k < list.count && count < 1024; ++k) candidates[count++] = list.items[k];
    }
  }
  std::sort(candidates, candidates + count);
  count = static_cast<int>(std::unique(candidates, candidates + count) - candidates);
  for (int k = 0; k < count; ++k) {
    Statue& s = objects.statues.items[candidates[k]];
    if (!s.shape) continue;
    // A bin spans a couple of hundred feet: most of its statues are out of reach of the bike.
    const float dx = s.x - f.x, dy = s.y - f.y, dz = s.z - f.z;
    const float reach = s.shape->bound + rider_reach / 2;
    if (dx * dx + dy * dy + dz * dz > reach * reach) continue;
    float rot[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (s.face_distance == 0) {
      // The stored rows are the statue's axes; the transform wants them as columns.
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rot[3 * i + j] = s.orientation[3 * j + i];
    }
    const float pos[3] = {s.x, s.y, s.z};
    const int mask = bike_parts_contact(r, s.shape, nullptr, pos, rot, 0, false);
    if (!mask) continue;
    s.last_contact_tick = race_tick;
    if ((mask & part_rider) && r->down_ticks == 0 && r->impact >= 0 &&
        length2(body_vel(r->body[body_rider])) > 400)
      knock_down(r);
  }
}
