// Cache-line prefetch that the optimizer keeps.
#ifndef VELLUM_COMMON_PREFETCH_H_
#define VELLUM_COMMON_PREFETCH_H_

namespace vellum {

// GCC 12 deletes some __builtin_prefetch calls in loops whose address is
// itself loaded (a row number, then its row): dead-code elimination counts
// the call as free of effects. An asm statement it must keep.
inline void prefetch(const void* p) {
#if defined(__x86_64__)
  asm volatile("prefetcht0 (%0)" : : "r"(p));
#else
  __builtin_prefetch(p);
#endif
}

}  // namespace vellum

#endif  // VELLUM_COMMON_PREFETCH_H_
