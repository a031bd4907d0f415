#pragma once
// The engine's pseudo-random numbers: a 32-bit linear congruential generator,
// x' = x * 134775813 + 1 (mod 2^32), giving x' / 2^32 in [0, 1). The same
// seed (RANDSEED) always gives the same sequence; without one the sequence
// starts from the clock at start-up.
#include <cstdint>

namespace velmora::engine {

void random_seed(uint32_t seed);
long double random_unit();

}  // namespace velmora::engine
