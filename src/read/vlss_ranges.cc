// The id-range checks of the manifest reader: what the split records and
// their tombstones say about which global ids exist.
#include <algorithm>
#include <tuple>

#include "read/id_sets.h"
#include "read/vlss_reader.h"

namespace vellum {

namespace {

constexpr const char* kRecords = "split records";
constexpr const char* kSummaries = "summary blob";

// Relative splits number 0 .. doc_count - 1 from first_id; absolute ones
// (compacted) keep only the surviving ids of their range.
Check check_own_range(const ProblemSite& site, const SplitRecord& s) {
  const uint64_t span = uint64_t{s.last_id} - s.first_id + 1;
  if (s.doc_count == 0) {
    if (s.first_id != s.last_id) return site.at(kRecords, s.record_offset + 12, "empty split has first_id != last_id");
    return Check();
  }
  if (s.first_id > s.last_id) return site.at(kRecords, s.record_offset + 12, "first_id is above last_id");
  if (s.absolute_ids() ? s.doc_count > span : s.doc_count != span) {
    return site.at(kRecords, s.record_offset + 8, "doc_count does not fit the id range");
  }
  return Check();
}

size_t count_in(const std::vector<uint32_t>& sorted, uint64_t lo, uint64_t hi) {
  return static_cast<size_t>(std::upper_bound(sorted.begin(), sorted.end(), hi) -
                             std::lower_bound(sorted.begin(), sorted.end(), lo));
}

}  // namespace

Check VlssReader::check_ranges(const std::vector<SplitSummary>& sums) const {
  std::vector<uint32_t> deleted;
  for (const SplitSummary& s : sums) {
    if (s.tombstones) deleted = union_sorted(deleted, *s.tombstones);
  }
  std::vector<std::tuple<uint32_t, uint32_t, size_t>> ranges;  // first, last, split
  for (size_t i = 0; i < splits_.size(); ++i) {
    VELLUM_CHECK(check_own_range(site_, splits_[i]));
    if (splits_[i].doc_count > 0) ranges.emplace_back(splits_[i].first_id, splits_[i].last_id, i);
  }
  std::sort(ranges.begin(), ranges.end());
  int64_t prev_end = -1;
  bool prev_absolute = false;
  for (const auto& [first, last, i] : ranges) {
    const SplitRecord& s = splits_[i];
    if (static_cast<int64_t>(first) <= prev_end) {
      return site_.at(kRecords, s.record_offset + 12, "id range overlaps another split's");
    }
    // Compaction drops deleted ids and ids without keys at the edges of its
    // range; any other gap must consist of deleted ids.
    const uint64_t gap_lo = static_cast<uint64_t>(prev_end + 1);
    if (first > gap_lo && !prev_absolute && !s.absolute_ids() &&
        count_in(deleted, gap_lo, first - 1) != first - gap_lo) {
      return site_.at(kRecords, s.record_offset + 12,
                      "ids " + std::to_string(gap_lo) + " to " + std::to_string(first - 1) +
                          " belong to no split and are not deleted");
    }
    prev_end = last;
    prev_absolute = s.absolute_ids();
  }
  for (size_t i = 0; i < splits_.size(); ++i) {
    if (!sums[i].tombstones || sums[i].tombstones->empty()) continue;
    const uint32_t top = sums[i].tombstones->back();
    if (static_cast<int64_t>(top) > prev_end) {
      return site_.at(kSummaries, summary_at(i),
                      "tombstone names id " + std::to_string(top) + ", beyond every split");
    }
  }
  return Check();
}

}  // namespace vellum
