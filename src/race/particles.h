// Roost and splash particles thrown up by the wheels: a fixed pool moved once per tick, drawn
// through billboards of the track's list that the pool owns.
#pragma once
#include "track/terrain.h"

struct Rider;
struct WheelContact;

constexpr int particle_pool_size = 2000;

struct Particle {
  float position[3];  // ft
  float velocity[3];  // ft/s
  int billboard;      // index into the track's billboard list
  RoostKind kind;     // the kind it was emitted with
  int next;           // next node of its list, -1 at the end
};

struct ParticlePool {
  Particle nodes[particle_pool_size];
  int free_head;
  int active_head;
  int active_count;
};

extern ParticlePool particle_pool;

// How a wheel body moves this tick (world frame): what the emission needs besides the contact.
struct WheelMotion {
  float centre[3];
  float axle[3];      // unit: the wheel body's x axis
  float velocity[3];  // linear, ft/s
  float angular[3];   // rad/s
};

// Every node free, every particle billboard without texture.
void particles_reset();
// Roost rate R: --roostfrequency, else the "roost_density" setting (0..1000).
int roost_rate();
// Particles per kind and wheel this tick at rate R: R div 100, one more with chance (R mod 100)%.
int roost_count_for_rate(int rate);
// Both wheels of one rider; simulated is false for replayed and remote riders.
void roost_emit_rider(Rider* rider, bool simulated);
// One wheel's contact: n is the most particles of one kind, max_spread the widest roost angle.
// The contact must already hold this tick's values (the rider variant probes for replayed ones).
void roost_emit_wheel(const WheelContact* contact, const WheelMotion* motion, int n, float max_spread);
// 1 when a node was free, 0 when the pool is exhausted (the particle is dropped).
int particle_spawn(const float position[3], const float velocity[3], const RoostKind* kind);
void particles_update();
