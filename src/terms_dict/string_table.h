// Interns byte strings: each distinct string gets a dense id (0, 1, ... in
// order of first insertion) for the life of the table. The bytes live in
// one arena and the lookup table is open addressing over 16-byte slots, so
// a lookup is one hash of the string, a probe or two and one compare, and
// nothing is allocated per string.
#ifndef VELLUM_TERMS_DICT_STRING_TABLE_H_
#define VELLUM_TERMS_DICT_STRING_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/prefetch.h"

namespace vellum {

// The hash the table is keyed by; callers that look one string up in
// several tables compute it once.
uint64_t hash_string(std::string_view s);

class StringTable {
 public:
  StringTable();

  // The id of `s`, inserting it when new (then `*inserted` is true). `hash`
  // must be hash_string(s).
  uint32_t find_or_insert(std::string_view s, uint64_t hash, bool* inserted);

  std::optional<uint32_t> find(std::string_view s, uint64_t hash) const;

  // Starts loading the slot a lookup of `hash` begins at.
  void prefetch(uint64_t hash) const { vellum::prefetch(&slots_[hash & mask_]); }

  // The bytes of id `id`; valid until the next insertion.
  std::string_view at(uint32_t id) const {
    return std::string_view(bytes_).substr(starts_[id], starts_[id + 1] - starts_[id]);
  }

  size_t size() const { return starts_.size() - 1; }

  // Forgets every string and frees the memory.
  void clear();

 private:
  // Most words are short: a slot holds the first 8 bytes and the length,
  // so a lookup of a string of up to 8 bytes never reads the arena.
  struct Slot {
    uint64_t head;  // first 8 bytes, zero-padded
    uint32_t id1;   // id + 1; 0 marks an empty slot
    uint16_t tag;   // more bits of the hash
    uint16_t len;   // length, kLongLen when longer
  };
  static constexpr uint16_t kLongLen = UINT16_MAX;
  static Slot key_of(std::string_view s, uint64_t hash);
  bool matches(const Slot& slot, const Slot& key, std::string_view s) const;
  size_t probe(const Slot& key, uint64_t hash, std::string_view s, bool* found) const;
  void grow();

  std::vector<Slot> slots_;
  size_t mask_;
  std::string bytes_;
  std::vector<size_t> starts_;  // id i spans starts_[i] .. starts_[i + 1]
};

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_STRING_TABLE_H_
