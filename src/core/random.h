// The program's one random generator: MT19937, reseeded with race_tick at every race start.
// Robots and roost particles draw from it, so the order of draws is part of determinism.
#pragma once
#include <cstdint>

void rng_seed(uint32_t seed);
uint32_t rng_next();     // 32-bit output
double rng_uniform();    // (r AND 0x7FFFFFFF) * 2^-31, in [0, 1)
