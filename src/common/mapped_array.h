// A growable array of trivially copyable values in its own anonymous
// mapping. New elements read as zero bytes, and growing remaps the pages
// instead of copying them, so an array of hundreds of MB grows without a
// second copy alive and without a zeroing pass.
//
// Large arrays ask for 2 MB pages. Arrays read at random always do: they
// save most TLB misses. Arrays written once front to back and read once
// gain little from that and mostly save faults, so they do only where
// faults are costly (large_pages.h). There, any array from 256 KB on
// takes them.
#ifndef VELLUM_COMMON_MAPPED_ARRAY_H_
#define VELLUM_COMMON_MAPPED_ARRAY_H_

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "common/large_pages.h"

namespace vellum {

enum class LargePages {
  kAlways,           // read and written at random, again and again
  kWhereFaultsCost,  // written once front to back, read once
};

template <typename T, LargePages kLargePages = LargePages::kAlways>
class MappedArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  MappedArray() = default;
  explicit MappedArray(size_t n) { resize(n); }
  MappedArray(MappedArray&& o) noexcept
      : data_(std::exchange(o.data_, nullptr)),
        size_(std::exchange(o.size_, 0)),
        used_(std::exchange(o.used_, 0)),
        bytes_(std::exchange(o.bytes_, 0)),
        large_(std::exchange(o.large_, false)) {}
  MappedArray& operator=(MappedArray&& o) noexcept {
    if (this != &o) {
      release();
      data_ = std::exchange(o.data_, nullptr);
      size_ = std::exchange(o.size_, 0);
      used_ = std::exchange(o.used_, 0);
      bytes_ = std::exchange(o.bytes_, 0);
      large_ = std::exchange(o.large_, false);
    }
    return *this;
  }
  MappedArray(const MappedArray&) = delete;
  MappedArray& operator=(const MappedArray&) = delete;
  ~MappedArray() { release(); }

  // Grows (zero-filled) or shrinks to n elements; capacity at least
  // doubles when it must grow. Throws std::bad_alloc when out of memory.
  void resize(size_t n) {
    if (n * sizeof(T) > bytes_) {
      constexpr size_t kPage = 4096;
      constexpr size_t kHugePage = size_t{2} << 20;
      size_t bytes = std::max(n * sizeof(T), bytes_ * 2);
      // Whole 2 MB pages from 2 MB on: the kernel then places the mapping
      // on a 2 MB boundary, so that no part of it is left to small pages.
      // Where small faults are costly, an array that outgrows a few small
      // pages goes straight to one 2 MB page rather than faulting in up
      // to 511 small ones on its way there.
      constexpr size_t kEarlyLarge = size_t{256} << 10;
      const bool costly = bytes >= kEarlyLarge && large_pages_pay();
      const bool large =
          costly || (bytes >= kHugePage && kLargePages == LargePages::kAlways);
      const size_t unit = large ? kHugePage : kPage;
      bytes = (bytes + unit - 1) / unit * unit;
      // Small pages remapped into a mapping of large ones would keep its
      // first 2 MB in small pages: what was written (under 2 MB) is copied
      // into a new mapping instead.
      const bool copy = data_ != nullptr && large && !large_;
      void* p = data_ == nullptr || copy
                    ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                    : mremap(data_, bytes_, bytes, MREMAP_MAYMOVE);
      if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
      // Only advice; failure changes nothing.
      if (large) madvise(p, bytes, MADV_HUGEPAGE);
#endif
      if (copy) {
        std::memcpy(p, data_, used_ * sizeof(T));
        munmap(data_, bytes_);
      }
      data_ = static_cast<T*>(p);
      bytes_ = bytes;
      large_ = large_ || large;
    }
    // Only elements dropped by an earlier shrink need clearing; the rest
    // of the mapping has never been written.
    if (n > size_ && size_ < used_) {
      std::memset(static_cast<void*>(data_ + size_), 0, (std::min(n, used_) - size_) * sizeof(T));
    }
    size_ = n;
    used_ = std::max(used_, n);
  }
  void push_back(const T& v) {
    resize(size_ + 1);
    data_[size_ - 1] = v;
  }
  // Returns the pages that lie wholly within elements [first, last) to the
  // system; those elements then read as zero.
  void discard(size_t first, size_t last) {
    constexpr size_t kPage = 4096;
    const uintptr_t base = reinterpret_cast<uintptr_t>(data_);
    const uintptr_t from = (base + first * sizeof(T) + kPage - 1) / kPage * kPage;
    const uintptr_t to = (base + last * sizeof(T)) / kPage * kPage;
    if (from < to) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  }
  // Returns the pages beyond size() to the system.
  void shrink_to_fit() {
    constexpr size_t kPage = 4096;
    const size_t bytes = (size_ * sizeof(T) + kPage - 1) / kPage * kPage;
    if (bytes == 0) return release();
    if (bytes >= bytes_) return;
    // Shrinking in place cannot fail for lack of memory or move the data.
    if (mremap(data_, bytes_, bytes, 0) == MAP_FAILED) return;
    bytes_ = bytes;
    // The last page kept may hold written elements beyond size().
    used_ = std::min(used_, bytes / sizeof(T));
  }
  void release() {
    if (data_ != nullptr) munmap(data_, bytes_);
    data_ = nullptr;
    size_ = 0;
    used_ = 0;
    bytes_ = 0;
    large_ = false;
  }

  size_t size() const { return size_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t used_ = 0;   // elements ever in use
  size_t bytes_ = 0;  // mapped
  bool large_ = false;  // mapped in 2 MB pages
};

}  // namespace vellum

#endif  // VELLUM_COMMON_MAPPED_ARRAY_H_
