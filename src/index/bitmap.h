// Owning handle for a Roaring bitmap of 32-bit document ids.
#ifndef VELLUM_INDEX_BITMAP_H_
#define VELLUM_INDEX_BITMAP_H_

#include <roaring/roaring.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vellum {

// Only point and bulk insertion are exposed: range insertion would create run
// containers, which no posting may contain.
class Bitmap {
 public:
  Bitmap() : r_(roaring_bitmap_create()) {}
  // Takes ownership of `owned` (may be null, meaning no bitmap).
  explicit Bitmap(roaring_bitmap_t* owned) : r_(owned) {}
  Bitmap(Bitmap&& other) noexcept : r_(std::exchange(other.r_, nullptr)) {}
  Bitmap& operator=(Bitmap&& other) noexcept {
    if (this != &other) {
      reset();
      r_ = std::exchange(other.r_, nullptr);
    }
    return *this;
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  ~Bitmap() { reset(); }

  // Frees the bitmap now; the handle then holds nothing.
  void reset() {
    if (r_ != nullptr) roaring_bitmap_free(r_);
    r_ = nullptr;
  }

  explicit operator bool() const { return r_ != nullptr; }
  roaring_bitmap_t* get() { return r_; }
  const roaring_bitmap_t* get() const { return r_; }

  void add(uint32_t id) { roaring_bitmap_add(r_, id); }
  // Ids ascending make this one container append per 65536-id window.
  void add_many(const uint32_t* ids, size_t n) {
    if (n > 0) roaring_bitmap_add_many(r_, n, ids);
  }
  uint64_t cardinality() const { return roaring_bitmap_get_cardinality(r_); }

  std::vector<uint32_t> to_vector() const {
    std::vector<uint32_t> out(static_cast<size_t>(cardinality()));
    if (!out.empty()) roaring_bitmap_to_uint32_array(r_, out.data());
    return out;
  }

 private:
  roaring_bitmap_t* r_;
};

}  // namespace vellum

#endif  // VELLUM_INDEX_BITMAP_H_
