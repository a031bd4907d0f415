#include "cli/large_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace velmora::cli {

void prefer_large_pages() {
  constexpr std::size_t kStep = std::size_t(64) << 20, kHuge = std::size_t(2) << 20;
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  mallopt(M_TOP_PAD, int(kStep));
  constexpr std::size_t kHeader = 2 * sizeof(std::size_t), kProbe = std::size_t(1) << 20;
  // One block larger than what is left at the heap's top makes malloc grow
  // it by the pad now (writing the next block's header after it).
  void *volatile block = std::malloc(kProbe);
  const std::uintptr_t written = reinterpret_cast<std::uintptr_t>(block) + kProbe + kHeader;
  std::free(block);
  // The heap's top block runs from where the last block ends to the heap's
  // end; what lies below the first 2 MB boundary in it can only be had in
  // 4 KB pages (a huge page must lie whole in the marked range). That part
  // is taken by one block that is never written or freed, so that the
  // blocks of the run come from the boundary on: it costs address space
  // only. The range is marked first: taking the block writes the heap's
  // next header at the boundary, and a first touch before the mark (that
  // one, or the header written after the first block) would map that 2 MB
  // in 4 KB pages.
  const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t top = end - mallinfo2().keepcost;
  const std::uintptr_t from = (std::max(top, written) + kHuge - 1) & ~std::uintptr_t(kHuge - 1);
  if (from >= end) return;
  madvise(reinterpret_cast<void *>(from), end - from, MADV_HUGEPAGE);
  // A block of n bytes takes n + 8 rounded up to 16, and top and from are
  // 16-byte aligned: the next block starts exactly at from.
  if (from - top > 4 * kHeader) {
    static void *volatile below_the_boundary = nullptr;  // volatile: kept, not optimised away
    below_the_boundary = std::malloc(from - top - kHeader);
  }
}

}  // namespace velmora::cli
