// Contacts of the bike with the terrain, with statues and with other bikes.
#pragma once
#include "bike/rider.h"

struct Terrain;

// A triangle's corners, ft, world.
struct Triangle {
  float v[3][3];
};

// Result of a geometric query: depth > 0 means overlap; point = deepest point of the tyre or
// sphere surface; normal = unit, from the triangle toward the body.
struct ContactPoint {
  float depth;
  float point[3];
  float normal[3];
};

ContactPoint torus_triangle_depth(const float centre[3], const float axle[3], float torus_radius,
                                  float tyre_radius, const Triangle& triangle);
ContactPoint sphere_triangle_depth(const float centre[3], float radius, const Triangle& triangle);

// Spring and damper of a tyre sunk by depth (lbf/ft, lbf s/ft).
void tyre_contact_terms(float depth, float tyre_radius, float* k, float* c);

// First friction direction of a tyre contact: normal x velocity, or normal x axle when that is
// too short; false (none) when both vanish.
bool tyre_friction_direction(const float normal[3], const float velocity[3], const float axle[3],
                             float out[3]);

// The two triangles of height-field cell (i, j), in the order the contact visits them.
void terrain_cell_triangles(const Terrain* terrain, int i, int j, Triangle out[2]);

// Deepest contact of a sphere with the terrain (normal fixed up to point out of the ground).
bool sphere_terrain_contact(const Terrain* terrain, const float centre[3], float radius,
                            float point[3], float normal[3], float* depth);
// The tyre against the terrain: fills the WheelContact, makes its contact joint and adds the
// rolling resistance. False (depth 0, feedback and velocity cleared) when it does not touch.
bool wheel_ground_contact(const Terrain* terrain, WheelContact* wheel, float friction_multiplier);
// The same search without joint or forces, stopping at the first touching triangle.
bool wheel_ground_probe(const Terrain* terrain, const WheelContact* wheel, float point[3],
                        float normal[3], float* depth);

// Every part of a rider against the ground, before the world step; nonzero when any touched.
int bike_collide_world(const Terrain* terrain, Rider* rider);
// The contact step of one simulated rider: ground, then the statues near it.
void rider_contact_step(const Terrain* terrain, Rider* rider, int race_tick);

// The rider's parts against one shape owned by body (or fixed in the world when body is null)
// at position/rotation (row-major 3x3). mode 0: contact joints, 1: penalty forces. Returns the
// part mask of the rider's parts that touched.
int bike_parts_contact(Rider* rider, CollisionShape* shape, dxBody* body, const float position[3],
                       const float rotation[9], int mode, bool detect_only);
// A's parts against B's; returns the mask of B's parts that A touched.
int riders_collide(Rider* a, Rider* b, bool remote, int race_tick);
// The same for riders whose shapes already stand where their bodies are (rider_place_shapes
// since the last move): a full field places every rider once per tick, not once per pair.
int riders_collide_placed(Rider* a, Rider* b, bool remote, int race_tick);
void rider_place_shapes(Rider* rider);
