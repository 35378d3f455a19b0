#include "splitset_write/posting_merge.h"

#include <algorithm>
#include <bit>

#include "index/posting.h"

namespace vellum {

namespace {

void shift_ids(uint32_t shift, uint32_t* begin, uint32_t* end) {
  if (shift == 0) return;
  for (uint32_t* p = begin; p != end; ++p) {
    *p = *p > UINT32_MAX - shift ? UINT32_MAX : *p + shift;
  }
}

// Removes from ascending `ids` every id of ascending `deleted`.
void remove_deleted(const std::vector<uint32_t>& deleted, std::vector<uint32_t>* ids) {
  if (deleted.empty() || ids->empty()) return;
  auto d = std::lower_bound(deleted.begin(), deleted.end(), ids->front());
  auto out = ids->begin();
  for (auto in = ids->begin(); in != ids->end(); ++in) {
    while (d != deleted.end() && *d < *in) ++d;
    if (d != deleted.end() && *d == *in) continue;
    *out++ = *in;
  }
  ids->erase(out, ids->end());
}

// The distinct live ids: a flat bit per id of the inputs' id range when
// that is small (the usual case: deltas cover consecutive ids), else a
// Roaring bitmap.
class LiveIds {
 public:
  LiveIds(uint32_t low, uint32_t high) : low_(low) {
    const uint64_t span = uint64_t{high} - low + 1;
    if (high >= low && span <= kMaxFlatIds) words_.assign((span + 63) / 64, 0);
  }
  void add(const std::vector<uint32_t>& ids) {
    if (words_.empty()) {
      sparse_.add_many(ids.data(), ids.size());
      return;
    }
    for (uint32_t id : ids) {
      const uint32_t at = id - low_;
      words_[at >> 6] |= uint64_t{1} << (at & 63);
    }
  }
  void finish(MergedPostings* out) const {
    if (words_.empty()) {
      out->live = sparse_.cardinality();
      if (out->live > 0) {
        out->first_id = roaring_bitmap_minimum(sparse_.get());
        out->last_id = roaring_bitmap_maximum(sparse_.get());
      }
      return;
    }
    bool seen = false;
    for (size_t w = 0; w < words_.size(); ++w) {
      if (words_[w] == 0) continue;
      out->live += static_cast<uint64_t>(std::popcount(words_[w]));
      const uint32_t base = low_ + static_cast<uint32_t>(w * 64);
      if (!seen) out->first_id = base + static_cast<uint32_t>(std::countr_zero(words_[w]));
      out->last_id = base + 63 - static_cast<uint32_t>(std::countl_zero(words_[w]));
      seen = true;
    }
  }

 private:
  static constexpr uint64_t kMaxFlatIds = uint64_t{1} << 28;  // 32 MB of bits
  uint32_t low_;
  std::vector<uint64_t> words_;
  Bitmap sparse_;
};

uint32_t shifted(uint32_t id, uint32_t shift) {
  return id > UINT32_MAX - shift ? UINT32_MAX : id + shift;
}

}  // namespace

MergedPostings merge_postings(std::vector<ShiftedPosting> inputs,
                              const std::vector<uint32_t>& deleted) {
  std::stable_sort(inputs.begin(), inputs.end(), [](const ShiftedPosting& a, const ShiftedPosting& b) {
    return a.posting->key < b.posting->key;
  });
  MergedPostings out;
  uint32_t low = UINT32_MAX, high = 0;
  for (const ShiftedPosting& p : inputs) {
    if (p.posting->ids == 0) continue;
    low = std::min(low, shifted(p.posting->min, p.shift));
    high = std::max(high, shifted(p.posting->max, p.shift));
  }
  LiveIds live(low, high);
  std::vector<uint32_t> ids;
  for (size_t at = 0; at < inputs.size();) {
    const uint64_t key = inputs[at].posting->key;
    ids.clear();
    size_t end = at;
    for (; end < inputs.size() && inputs[end].posting->key == key; ++end) {
      const size_t from = ids.size();
      decode_posting(inputs[end].posting->bytes, &ids);
      shift_ids(inputs[end].shift, ids.data() + from, ids.data() + ids.size());
    }
    // Several sets, or ids that saturated, may overlap.
    if (std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) != ids.end()) {
      std::sort(ids.begin(), ids.end());
      ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    }
    remove_deleted(deleted, &ids);
    if (!ids.empty()) {
      std::string posting;
      append_sorted_ids_posting(ids.data(), ids.size(), &posting);
      out.entries.push_back(IndexEntry{key, std::move(posting)});
      live.add(ids);
    }
    at = end;
  }
  live.finish(&out);
  return out;
}

}  // namespace vellum
