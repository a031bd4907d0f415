#include "engine/random.h"

#include <chrono>

namespace velmora::engine {

namespace {
uint32_t g_state = uint32_t(std::chrono::system_clock::now().time_since_epoch().count());
}  // namespace

void random_seed(uint32_t seed) { g_state = seed; }

long double random_unit() {
  g_state = g_state * 134775813u + 1u;
  return static_cast<long double>(g_state) / 4294967296.0L;
}

}  // namespace velmora::engine
