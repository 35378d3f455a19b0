// Operations on ascending id lists, as the readers' lookups produce them.
#ifndef VELLUM_READ_ID_SETS_H_
#define VELLUM_READ_ID_SETS_H_

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

namespace vellum {

inline std::vector<uint32_t> intersect_sorted(const std::vector<uint32_t>& a,
                                              const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

inline std::vector<uint32_t> union_sorted(const std::vector<uint32_t>& a,
                                          const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

inline std::vector<uint32_t> subtract_sorted(const std::vector<uint32_t>& a,
                                             const std::vector<uint32_t>& b) {
  std::vector<uint32_t> out;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
  return out;
}

}  // namespace vellum

#endif  // VELLUM_READ_ID_SETS_H_
