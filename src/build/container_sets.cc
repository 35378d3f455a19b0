#include "build/container_sets.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/coding.h"
#include "index/posting.h"
#include "index/posting_format.h"

namespace vellum {

namespace {

constexpr uint32_t kWindowBits = 16;

size_t container_bytes(size_t card) {
  return card > kMaxArrayCardinality ? kBitmapContainerBytes : 2 * card;
}

inline void set_bit(char* bitmap, uint32_t low) {
  bitmap[low >> 3] = static_cast<char>(bitmap[low >> 3] | (1 << (low & 7)));
}

// A word at a time: the OR of two bitmaps is the same in any byte order.
void or_bitmap(const char* in, char* bitmap) {
  for (size_t b = 0; b < kBitmapContainerBytes; b += sizeof(uint64_t)) {
    uint64_t x, y;
    std::memcpy(&x, bitmap + b, sizeof x);
    std::memcpy(&y, in + b, sizeof y);
    x |= y;
    std::memcpy(bitmap + b, &x, sizeof x);
  }
}

}  // namespace

uint32_t ContainerSets::create() {
  sets_.emplace_back();
  return static_cast<uint32_t>(sets_.size() - 1);
}

void ContainerSets::append_run(uint32_t set, const uint32_t* ids, size_t n) {
  while (n > 0) {
    // The run's ids in the window of its first id.
    const uint32_t high = ids[0] >> kWindowBits;
    size_t k = n;
    if (high != (ids[n - 1] >> kWindowBits)) {
      k = static_cast<size_t>(
          std::lower_bound(ids, ids + n, (high + 1) << kWindowBits) - ids);
    }
    add_part(set, ids, k);
    ids += k;
    n -= k;
  }
}

void ContainerSets::add_part(uint32_t set, const uint32_t* ids, size_t n) {
  char* out = new_part(set, ids[0] >> kWindowBits, static_cast<uint32_t>(n));
  if (n > kMaxArrayCardinality) {
    encode_bitmap_container(ids, n, out);
  } else {
    encode_array_container(ids, n, out);
  }
}

void ContainerSets::append_window(uint32_t set, uint32_t high, const uint16_t* lows, size_t n) {
  char* out = new_part(set, high, static_cast<uint32_t>(n));
  if (n > kMaxArrayCardinality) {
    for (size_t k = 0; k < n; ++k) set_bit(out, lows[k]);
  } else if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, lows, 2 * n);
  } else {
    for (size_t k = 0; k < n; ++k) EncodeU16(out + 2 * k, lows[k]);
  }
}

char* ContainerSets::new_part(uint32_t set, uint32_t high, uint32_t card) {
  const uint64_t at = bytes_.size();
  bytes_.resize(at + container_bytes(card));
  const uint32_t p = static_cast<uint32_t>(parts_.size());
  parts_.push_back(Part{at, card, kNone, high, set});
  Set& s = sets_[set];
  ++s.parts;
  if (s.tail == kNone) {
    s.head = p;
    s.tail_card = card;
  } else {
    Part& tail = parts_[s.tail];
    tail.next = p;
    if (tail.high == high) {
      s.tail_card += card;
    } else {
      s.closed += 8 + container_bytes(s.tail_card);
      s.tail_card = card;
    }
  }
  s.tail = p;
  return bytes_.data() + at;
}

uint64_t ContainerSets::posting_size(uint32_t set) const {
  const Set& s = sets_[set];
  // Cookie and container count; per container its descriptor, its offset
  // and its bytes.
  return s.tail == kNone ? 8 : s.closed + 8 + container_bytes(s.tail_card);
}

void ContainerSets::index_parts() {
  first_.assign(sets_.size() + 1, 0);
  for (size_t s = 0; s < sets_.size(); ++s) first_[s + 1] = first_[s] + sets_[s].parts;
  by_set_.resize(parts_.size());
  std::vector<uint32_t> cursor(first_.begin(), first_.end() - 1);
  // Parts were added in chain order, so each set's come out in order.
  for (size_t p = 0; p < parts_.size(); ++p) by_set_[cursor[parts_[p].set]++] = static_cast<uint32_t>(p);
  indexed_ = parts_.size();
}

void ContainerSets::collect_groups(uint32_t set) {
  if (indexed_ != parts_.size()) index_parts();
  groups_.clear();
  const uint32_t end = first_[set + 1];
  for (uint32_t q = first_[set]; q < end;) {
    Group g{q, 0, 0};
    const uint32_t high = parts_[by_set_[q]].high;
    for (; q < end && parts_[by_set_[q]].high == high; ++q) {
      g.card += parts_[by_set_[q]].card;
      ++g.parts;
    }
    groups_.push_back(g);
  }
}

Status ContainerSets::write_posting(uint32_t set, Sink* sink) {
  collect_groups(set);
  const size_t containers = groups_.size();
  // Cookie and count, then per container its window and cardinality - 1,
  // then per container its offset from the start of the posting.
  scratch_.resize(8 + 8 * containers);
  char* head = scratch_.data();
  EncodeU32(head, kNoRunCookie);
  EncodeU32(head + 4, static_cast<uint32_t>(containers));
  char* descriptor = head + 8;
  char* offset = descriptor + 4 * containers;
  uint64_t body = scratch_.size();
  for (const Group& g : groups_) {
    EncodeU32(descriptor, parts_[by_set_[g.first]].high | (g.card - 1) << 16);
    descriptor += 4;
    EncodeU32(offset, static_cast<uint32_t>(body));
    offset += 4;
    body += container_bytes(g.card);
  }
  VELLUM_RETURN_IF_ERROR(sink->append(scratch_));
  for (const Group& g : groups_) VELLUM_RETURN_IF_ERROR(write_group(g, sink));
  return Status();
}

Status ContainerSets::write_group(const Group& g, Sink* sink) {
  const Part& first = parts_[by_set_[g.first]];
  if (g.parts == 1) {
    return sink->append(std::string_view(bytes_.data() + first.at, container_bytes(g.card)));
  }
  if (g.card <= kMaxArrayCardinality) {
    // Every part is an array and the ids ascend from part to part.
    for (uint32_t i = 0; i < g.parts; ++i) {
      const Part& part = parts_[by_set_[g.first + i]];
      VELLUM_RETURN_IF_ERROR(
          sink->append(std::string_view(bytes_.data() + part.at, 2 * size_t{part.card})));
    }
    return Status();
  }
  scratch_.assign(kBitmapContainerBytes, '\0');
  char* bitmap = scratch_.data();
  for (uint32_t i = 0; i < g.parts; ++i) {
    const Part& part = parts_[by_set_[g.first + i]];
    const char* in = bytes_.data() + part.at;
    if (part.card > kMaxArrayCardinality) {
      or_bitmap(in, bitmap);
    } else {
      for (uint32_t k = 0; k < part.card; ++k) set_bit(bitmap, GetU16(in + 2 * k));
    }
  }
  return sink->append(scratch_);
}

std::vector<uint32_t> ContainerSets::ids(uint32_t set) const {
  std::vector<uint32_t> out;
  for (uint32_t p = sets_[set].head; p != kNone; p = parts_[p].next) {
    const Part& part = parts_[p];
    const char* in = bytes_.data() + part.at;
    const uint32_t base = part.high << kWindowBits;
    if (part.card > kMaxArrayCardinality) {
      for (uint32_t low = 0; low < 65536; ++low) {
        if ((static_cast<uint8_t>(in[low >> 3]) >> (low & 7)) & 1) out.push_back(base | low);
      }
    } else {
      for (uint32_t k = 0; k < part.card; ++k) out.push_back(base | GetU16(in + 2 * k));
    }
  }
  return out;
}

}  // namespace vellum
