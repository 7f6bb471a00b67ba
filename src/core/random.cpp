// The program's MT19937 generator.
#include "core/random.h"

#include <random>

namespace {
std::mt19937 generator;
}

void rng_seed(uint32_t seed) { generator.seed(seed); }

uint32_t rng_next() { return static_cast<uint32_t>(generator()); }

double rng_uniform() { return static_cast<double>(rng_next() & 0x7FFFFFFFu) * (1.0 / 2147483648.0); }
