#include "splitset_write/posting_merge.h"

#include <algorithm>

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

}  // namespace

MergedPostings merge_postings(std::vector<ShiftedPosting> inputs,
                              const std::vector<uint32_t>& deleted) {
  std::stable_sort(inputs.begin(), inputs.end(), [](const ShiftedPosting& a, const ShiftedPosting& b) {
    return a.posting->key < b.posting->key;
  });
  MergedPostings out;
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
      out.live.add_many(ids.data(), ids.size());
    }
    at = end;
  }
  return out;
}

}  // namespace vellum
