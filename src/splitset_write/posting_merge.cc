#include "splitset_write/posting_merge.h"

#include <algorithm>
#include <bit>

#include "index/bitmap.h"
#include "index/posting.h"
#include "index/posting_format.h"

namespace vellum {

namespace {

// Postings are appended to a chunk until it passes this size; a posting
// never straddles two chunks. At 32 MiB the allocator maps every chunk on
// its own (it never raises its mapping threshold past that), so each chunk
// goes back to the system as soon as it is written out, in every call.
constexpr size_t kChunkBytes = size_t{32} << 20;
// Flat id sets cover at most this many ids (32 MB of bits).
constexpr uint64_t kMaxFlatIds = uint64_t{1} << 28;

uint32_t shifted(uint32_t id, uint32_t shift) {
  return id > UINT32_MAX - shift ? UINT32_MAX : id + shift;
}

void shift_ids(uint32_t shift, uint32_t* begin, uint32_t* end) {
  if (shift == 0) return;
  for (uint32_t* p = begin; p != end; ++p) *p = shifted(*p, shift);
}

// One bit per id of [low, high], when that range is small (the usual case:
// deltas cover consecutive ids); empty otherwise.
class FlatIds {
 public:
  FlatIds(uint32_t low, uint32_t high) : low_(low) {
    const uint64_t span = uint64_t{high} - low + 1;
    if (high >= low && span <= kMaxFlatIds) words_.assign((span + 63) / 64, 0);
  }
  bool usable() const { return !words_.empty(); }
  // `id` must lie in the range.
  void set(uint32_t id) { words_[(id - low_) >> 6] |= uint64_t{1} << ((id - low_) & 63); }
  bool test(uint32_t id) const { return (words_[(id - low_) >> 6] >> ((id - low_) & 63)) & 1; }
  uint32_t low() const { return low_; }
  const std::vector<uint64_t>& words() const { return words_; }

 private:
  uint32_t low_;
  std::vector<uint64_t> words_;
};

// The distinct live ids: flat bits over the inputs' id range, else a
// Roaring bitmap.
class LiveIds {
 public:
  LiveIds(uint32_t low, uint32_t high) : flat_(low, high) {}
  void add(const uint32_t* ids, size_t n) {
    if (!flat_.usable()) {
      sparse_.add_many(ids, n);
      return;
    }
    for (size_t i = 0; i < n; ++i) flat_.set(ids[i]);
  }
  void finish(MergedPostings* out) const;

 private:
  FlatIds flat_;
  Bitmap sparse_;
};

void LiveIds::finish(MergedPostings* out) const {
  if (!flat_.usable()) {
    out->live = sparse_.cardinality();
    if (out->live > 0) {
      out->first_id = roaring_bitmap_minimum(sparse_.get());
      out->last_id = roaring_bitmap_maximum(sparse_.get());
    }
    return;
  }
  const std::vector<uint64_t>& words = flat_.words();
  bool seen = false;
  for (size_t w = 0; w < words.size(); ++w) {
    if (words[w] == 0) continue;
    out->live += static_cast<uint64_t>(std::popcount(words[w]));
    const uint32_t base = flat_.low() + static_cast<uint32_t>(w * 64);
    if (!seen) out->first_id = base + static_cast<uint32_t>(std::countr_zero(words[w]));
    out->last_id = base + 63 - static_cast<uint32_t>(std::countl_zero(words[w]));
    seen = true;
  }
}

// The deleted ids within the inputs' id range: flat bits when the range
// is small, else a binary search of the sorted list.
class DeletedIds {
 public:
  DeletedIds(const std::vector<uint32_t>& deleted, uint32_t low, uint32_t high)
      : flat_(low, high), deleted_(deleted) {
    auto from = std::lower_bound(deleted.begin(), deleted.end(), low);
    auto to = std::upper_bound(from, deleted.end(), high);
    any_ = from != to;
    if (flat_.usable()) {
      for (auto d = from; d != to; ++d) flat_.set(*d);
    }
  }
  // Removes them from ascending `ids`.
  void remove_from(std::vector<uint32_t>* ids) const {
    if (!any_) return;
    auto out = ids->begin();
    for (uint32_t id : *ids) {
      if (!is_deleted(id)) *out++ = id;
    }
    ids->erase(out, ids->end());
  }

 private:
  bool is_deleted(uint32_t id) const {
    if (flat_.usable()) return flat_.test(id);
    return std::binary_search(deleted_.begin(), deleted_.end(), id);
  }

  FlatIds flat_;
  const std::vector<uint32_t>& deleted_;
  bool any_ = false;
};

// A position in one input's key order. Inputs are ranked by their
// smallest id, so that equal keys are taken in id order and the ids of
// inputs covering disjoint ranges (consecutive deltas) need no sorting.
struct Cursor {
  uint64_t key;
  uint32_t rank;
  uint32_t input;
  uint32_t at;
};

// Heap order: the smallest key on top, then the lowest rank.
bool later(const Cursor& a, const Cursor& b) {
  return a.key != b.key ? a.key > b.key : a.rank > b.rank;
}

// Input ranks by smallest shifted id; inputs without ids rank last.
std::vector<uint32_t> rank_inputs(const std::vector<MergeInput>& inputs) {
  std::vector<uint32_t> order(inputs.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  auto low = [&](uint32_t i) {
    const CheckedSplit& s = *inputs[i].split;
    return s.has_ids() ? uint64_t{shifted(s.min_id(), inputs[i].shift)} : uint64_t{1} << 32;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return low(a) < low(b); });
  std::vector<uint32_t> rank(inputs.size());
  for (uint32_t r = 0; r < order.size(); ++r) rank[order[r]] = r;
  return rank;
}

// True when shifting some id of an input saturates, which can repeat ids
// within that input's ascending list.
bool any_saturates(const std::vector<MergeInput>& inputs) {
  for (const MergeInput& in : inputs) {
    if (in.split->has_ids() && in.split->max_id() > UINT32_MAX - in.shift) return true;
  }
  return false;
}

class Merger {
 public:
  Merger(const std::vector<MergeInput>& inputs, const std::vector<uint32_t>& deleted,
         uint32_t low, uint32_t high)
      : inputs_(inputs),
        rank_(rank_inputs(inputs)),
        saturates_(any_saturates(inputs)),
        deleted_(deleted, low, high),
        live_(low, high) {}

  MergedPostings run();

 private:
  void take(const Cursor& c);
  void emit(uint64_t key);
  bool ascending() const;

  const std::vector<MergeInput>& inputs_;
  const std::vector<uint32_t> rank_;
  const bool saturates_;
  std::vector<size_t> run_starts_;  // where each taken posting's ids begin in ids_
  DeletedIds deleted_;
  LiveIds live_;
  std::vector<Cursor> heap_;
  std::vector<uint32_t> ids_;
  MergedPostings out_;
};

MergedPostings Merger::run() {
  for (uint32_t i = 0; i < inputs_.size(); ++i) {
    if (inputs_[i].split->size() > 0) heap_.push_back({inputs_[i].split->key(0), rank_[i], i, 0});
  }
  std::make_heap(heap_.begin(), heap_.end(), later);
  while (!heap_.empty()) {
    const uint64_t key = heap_.front().key;
    ids_.clear();
    run_starts_.clear();
    while (!heap_.empty() && heap_.front().key == key) {
      std::pop_heap(heap_.begin(), heap_.end(), later);
      Cursor c = heap_.back();
      heap_.pop_back();
      take(c);
      const CheckedSplit& split = *inputs_[c.input].split;
      if (++c.at < split.size()) {
        c.key = split.key(c.at);
        heap_.push_back(c);
        std::push_heap(heap_.begin(), heap_.end(), later);
      }
    }
    emit(key);
  }
  live_.finish(&out_);
  return std::move(out_);
}

void Merger::take(const Cursor& c) {
  const size_t from = ids_.size();
  run_starts_.push_back(from);
  decode_posting(inputs_[c.input].split->posting(c.at), &ids_);
  shift_ids(inputs_[c.input].shift, ids_.data() + from, ids_.data() + ids_.size());
}

// Each taken posting is strictly ascending unless shifting saturated, so
// it is enough to compare the ends of neighbouring postings.
bool Merger::ascending() const {
  if (saturates_) {
    return std::adjacent_find(ids_.begin(), ids_.end(), std::greater_equal<>()) == ids_.end();
  }
  for (size_t r = 1; r < run_starts_.size(); ++r) {
    const size_t at = run_starts_[r];
    if (at > 0 && at < ids_.size() && ids_[at - 1] >= ids_[at]) return false;
  }
  return true;
}

void Merger::emit(uint64_t key) {
  // Overlapping sets, or ids that saturated, need sorting.
  if (!ascending()) {
    std::sort(ids_.begin(), ids_.end());
    ids_.erase(std::unique(ids_.begin(), ids_.end()), ids_.end());
  }
  deleted_.remove_from(&ids_);
  if (ids_.empty()) return;
  out_.append(key, ids_.data(), ids_.size());
  live_.add(ids_.data(), ids_.size());
}

}  // namespace

void MergedPostings::append(uint64_t key, const uint32_t* ids, size_t n) {
  const size_t size = sorted_ids_posting_size(ids, n);
  // A posting that does not fit its chunk's reserve starts a new chunk:
  // growing the chunk would copy everything in it into fresh pages.
  if (chunks_.empty() || chunks_.back().size() + size > chunks_.back().capacity()) {
    chunks_.emplace_back();
    chunks_.back().reserve(std::max(kChunkBytes, size));
  }
  append_sorted_ids_posting(ids, n, &chunks_.back());
  keys_.push_back(key);
  sizes_.push_back(size);
  posting_bytes_ += size;
}

Status MergedPostings::write(size_t i, Sink* sink) {
  if (i != next_ || chunk_ >= chunks_.size()) {
    return Error(ErrorKind::kIo, "merged postings must be written once each, in order");
  }
  std::string& chunk = chunks_[chunk_];
  VELLUM_RETURN_IF_ERROR(sink->append(std::string_view(chunk).substr(at_, sizes_[i])));
  ++next_;
  at_ += sizes_[i];
  if (at_ >= chunk.size()) {
    std::string().swap(chunk);
    ++chunk_;
    at_ = 0;
  }
  return Status();
}

MergedPostings merge_postings(const std::vector<MergeInput>& inputs,
                              const std::vector<uint32_t>& deleted) {
  uint32_t low = UINT32_MAX, high = 0;
  for (const MergeInput& in : inputs) {
    if (!in.split->has_ids()) continue;
    low = std::min(low, shifted(in.split->min_id(), in.shift));
    high = std::max(high, shifted(in.split->max_id(), in.shift));
  }
  return Merger(inputs, deleted, low, high).run();
}

}  // namespace vellum
