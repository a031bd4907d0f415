#pragma once
// The runner's heap in 2 MB pages where the kernel offers them on request
// (transparent huge pages in "madvise" or "always" mode).
//
// A run touches most of its memory once: the engine's tables at start, a
// list's chunks as it grows. Each first touch of a 4 KB page is a page
// fault, and on virtual machines a fault costs several microseconds (about
// 9.5 us on the machines this was measured on): an empty run took 420
// faults, a 100,000-line list 400 more. In 2 MB pages the same memory takes
// one fault per 2 MB.
//
// The heap is grown by 64 MB at a time (glibc's top pad) and that first
// 64 MB is marked for huge pages from its first 2 MB boundary on; the part
// below the boundary is set aside untouched, so that the run's blocks start
// at the boundary (an empty run: 370 faults before, 200 after). Blocks up
// to 32 MB come from the heap
// rather than from mappings of their own, and freed memory stays with the
// process (it ends with the run). Beyond the first 64 MB the heap grows in
// ordinary pages. Without huge pages from the kernel nothing changes but
// the growth step.
namespace velmora::cli {

// Call first thing in main(), before the run allocates.
void prefer_large_pages();

}  // namespace velmora::cli
