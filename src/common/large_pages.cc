#include "common/large_pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstddef>

namespace vellum {

namespace {

// Small faults cost about 0.2 us on bare metal and 1 to 2 us under a
// hypervisor with nested paging; shadowed page tables take 13 us and more.
constexpr double kCostlyFaultUs = 4.0;

// The cheapest of a few rounds of faulting a small mapping: the pages of
// later rounds are those the round before freed, so backing plays no part,
// and one round slowed by the scheduler does not decide.
double small_fault_us() {
  constexpr size_t kPage = 4096;
  constexpr size_t kPages = 32;
  double best = 1e9;
  for (int round = 0; round < 4; ++round) {
    void* p = mmap(nullptr, kPages * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return 0;
#ifdef MADV_NOHUGEPAGE
    madvise(p, kPages * kPage, MADV_NOHUGEPAGE);
#endif
    volatile char* bytes = static_cast<char*>(p);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < kPages; ++i) bytes[i * kPage] = 1;
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    munmap(p, kPages * kPage);
    best = std::min(best, took.count() / kPages);
  }
  return best;
}

}  // namespace

bool large_pages_pay() {
  // A fact about the machine, measured on first use and never changed.
  static const bool pay = small_fault_us() >= kCostlyFaultUs;
  return pay;
}

}  // namespace vellum
