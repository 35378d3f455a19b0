// Whether large arrays should ask for 2 MB pages on this machine.
//
// A 2 MB page saves 511 page faults and most TLB misses, but it must come
// from a free 2 MB block of memory. Under some hypervisors those blocks are
// mostly memory the host has not backed yet, and backing a 2 MB page costs
// far more than the small faults it saves, while small pages are taken from
// memory the guest already holds. Under a hypervisor that shadows page
// tables it is the other way round: every small fault costs 10 us and more.
// The answer is the measured cost of a small-page fault on memory just
// freed, taken once per process: only where it is high do large pages pay.
#ifndef VELLUM_COMMON_LARGE_PAGES_H_
#define VELLUM_COMMON_LARGE_PAGES_H_

namespace vellum {

bool large_pages_pay();

}  // namespace vellum

#endif  // VELLUM_COMMON_LARGE_PAGES_H_
