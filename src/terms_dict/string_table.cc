#include "terms_dict/string_table.h"

#include <cstring>

namespace vellum {

namespace {

constexpr size_t kInitialSlots = 1024;

uint64_t load64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

uint64_t load32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

uint64_t mix(uint64_t h, uint64_t v) {
  h = (h ^ v) * 0xBF58476D1CE4E5B9ULL;
  return h ^ (h >> 31);
}

}  // namespace

uint64_t hash_string(std::string_view s) {
  const char* p = s.data();
  size_t n = s.size();
  // The length goes in first, so the overlapping loads of the tail below
  // cannot make two strings of different lengths collide systematically.
  uint64_t h = (n + 1) * 0x9E3779B97F4A7C15ULL;
  for (; n >= 8; p += 8, n -= 8) h = mix(h, load64(p));
  if (n >= 4) {
    h = mix(h, load32(p) | load32(p + n - 4) << 32);
  } else if (n > 0) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    h = mix(h, uint64_t{u[0]} | uint64_t{u[n / 2]} << 8 | uint64_t{u[n - 1]} << 16);
  }
  h *= 0x94D049BB133111EBULL;
  return h ^ (h >> 29);
}

StringTable::StringTable() { clear(); }

void StringTable::clear() {
  std::vector<uint64_t>(kInitialSlots).swap(slots_);
  mask_ = kInitialSlots - 1;
  std::string().swap(bytes_);
  std::vector<size_t>{0}.swap(starts_);
}

size_t StringTable::probe(uint32_t tag, std::string_view s, bool* found) const {
  for (size_t i = tag & mask_;; i = (i + 1) & mask_) {
    const uint64_t slot = slots_[i];
    if (slot == 0) {
      *found = false;
      return i;
    }
    if (static_cast<uint32_t>(slot >> 32) == tag && at(static_cast<uint32_t>(slot) - 1) == s) {
      *found = true;
      return i;
    }
  }
}

uint32_t StringTable::find_or_insert(std::string_view s, uint64_t hash, bool* inserted) {
  const uint32_t tag = tag_of(hash);
  bool found;
  size_t i = probe(tag, s, &found);
  if (found) {
    *inserted = false;
    return static_cast<uint32_t>(slots_[i]) - 1;
  }
  const auto id = static_cast<uint32_t>(size());
  bytes_.append(s);
  starts_.push_back(bytes_.size());
  slots_[i] = uint64_t{tag} << 32 | (id + 1);
  // At most half full keeps probe runs short.
  if (size() * 2 > slots_.size()) grow();
  *inserted = true;
  return id;
}

std::optional<uint32_t> StringTable::find(std::string_view s, uint64_t hash) const {
  bool found;
  size_t i = probe(tag_of(hash), s, &found);
  if (!found) return std::nullopt;
  return static_cast<uint32_t>(slots_[i]) - 1;
}

void StringTable::grow() {
  std::vector<uint64_t> old(slots_.size() * 2);
  old.swap(slots_);
  mask_ = slots_.size() - 1;
  for (uint64_t slot : old) {
    if (slot == 0) continue;
    size_t i = static_cast<uint32_t>(slot >> 32) & mask_;
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
}

}  // namespace vellum
