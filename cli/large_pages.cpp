#include "cli/large_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace velmora::cli {

void prefer_large_pages() {
  constexpr std::size_t kStep = std::size_t(64) << 20, kHuge = std::size_t(2) << 20;
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_TOP_PAD, int(kStep));
  // One block larger than what is left at the heap's top makes malloc grow
  // it by the pad now; the range past the current end is then marked.
  const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
  void *volatile block = std::malloc(std::size_t(1) << 20);
  std::free(block);
  const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t from = (before + kHuge - 1) & ~std::uintptr_t(kHuge - 1);
  if (from < after) madvise(reinterpret_cast<void *>(from), after - from, MADV_HUGEPAGE);
}

}  // namespace velmora::cli
