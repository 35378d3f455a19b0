// Documents staged by a batch builder, in staging order: per record a rank,
// a text, opaque record bytes and facet memberships. Each record's text and
// record bytes are appended back to back to one large byte arena and
// located by a fixed 16-byte row (rank, end offset, record length), so
// staging a record allocates nothing per record and costs its bytes plus
// the row. Facet memberships cost 4 bytes each, and once any record has
// one, 8 bytes a record for their end offsets. Facet names are interned: a
// membership is the number of a distinct (field, category) pair.
//
// A batch that fails half-way is undone with rollback(mark()), which
// removes everything staged since the mark, interned names included.
#ifndef VELLUM_BUILD_STAGING_H_
#define VELLUM_BUILD_STAGING_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/mapped_array.h"
#include "common/prefetch.h"
#include "facet/facet_list.h"

namespace vellum {

class RecordStaging {
 public:
  // A (field, category) pair; no category for a field listed without any.
  struct FacetPair {
    std::string_view field;
    std::optional<std::string_view> category;
  };

  struct Mark {
    size_t rows = 0;
    size_t facets = 0;
    size_t pairs = 0;
    size_t names = 0;
  };

  RecordStaging() = default;
  RecordStaging(RecordStaging&&) = default;
  RecordStaging& operator=(RecordStaging&&) = default;

  // Appends one record with no facets.
  void add(int64_t rank, std::string_view text, std::string_view record);
  // Gives the last record a membership of `category` in `field`.
  void add_facet(std::string_view field, std::string_view category);
  // Gives the last record `field` with no category (the field still
  // exists in the dataset).
  void add_facet_field(std::string_view field);
  // Both of the above, for a whole list.
  void add_facets(const FacetList& facets);

  Mark mark() const;
  // Removes everything staged after `m`, which must come from this staging
  // with nothing rolled back since.
  void rollback(const Mark& m);

  size_t size() const { return rows_.size(); }
  int64_t rank(size_t i) const { return rows_[i].rank; }
  std::string_view text(size_t i) const {
    const uint64_t end = rows_[i].end();
    return view(i == 0 ? 0 : rows_[i - 1].end(), end - record_size(i));
  }
  std::string_view record(size_t i) const {
    const uint64_t end = rows_[i].end();
    return view(end - record_size(i), end);
  }
  // The pair numbers of record i's memberships, as staged.
  std::span<const uint32_t> facets(size_t i) const {
    if (facet_ends_.size() == 0) return {};
    const uint64_t begin = i == 0 ? 0 : facet_ends_[i - 1];
    return {memberships_.data() + begin, static_cast<size_t>(facet_ends_[i] - begin)};
  }
  size_t pair_count() const { return pairs_.size(); }
  FacetPair pair(uint32_t p) const;

  // Visits in rank order land on random records: a visitor calls
  // prefetch_row(i) some steps before it reads row i.
  void prefetch_row(size_t i) const {
    if (i > 0) prefetch(&rows_[i - 1]);
    prefetch(&rows_[i]);
    if (facet_ends_.size() != 0) prefetch(&facet_ends_[i]);
  }

 private:
  // The end of the record's bytes in the arena (low 40 bits: staging holds
  // under 1 TB) and the record's length (high 24 bits); a record of
  // kLongRecord bytes or more has that value there and its length in
  // long_records_.
  struct Row {
    static constexpr int kEndBits = 40;
    static constexpr uint64_t kEndMask = (uint64_t{1} << kEndBits) - 1;
    int64_t rank;
    uint64_t bits;
    uint64_t end() const { return bits & kEndMask; }
    uint32_t short_size() const { return static_cast<uint32_t>(bits >> kEndBits); }
  };
  static_assert(sizeof(Row) == 16);
  static constexpr uint32_t kLongRecord = (uint32_t{1} << (64 - Row::kEndBits)) - 1;
  static constexpr uint32_t kNoName = UINT32_MAX;

  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  using NameTable = std::unordered_map<std::string, uint32_t, NameHash, std::equal_to<>>;

  // Written front to back; a build reads each row and text once, fetched
  // ahead, so large pages would only save faults.
  template <typename T>
  using Staged = MappedArray<T, LargePages::kWhereFaultsCost>;
  using Arena = Staged<char>;

  std::string_view view(uint64_t begin, uint64_t end) const {
    return {bytes_.data() + begin, static_cast<size_t>(end - begin)};
  }
  uint64_t record_size(size_t i) const {
    const uint32_t size = rows_[i].short_size();
    return size != kLongRecord ? size : long_record_size(i);
  }
  uint64_t long_record_size(size_t i) const;
  uint32_t intern(std::string_view name);
  void add_membership(uint32_t pair);
  void add_pair(uint32_t field, uint32_t category);

  Staged<Row> rows_;
  Arena bytes_;
  // (row, record length) of every record of kLongRecord bytes or more, in
  // row order.
  std::vector<std::pair<uint64_t, uint64_t>> long_records_;
  Staged<uint32_t> memberships_;
  // Per row, the end of its memberships; empty until the first one.
  Staged<uint64_t> facet_ends_;

  // Interned names by number (stable: map nodes do not move), and the
  // distinct pairs, each as (field name, category name or kNoName).
  NameTable name_ids_;
  std::vector<const std::string*> names_;
  std::unordered_map<uint64_t, uint32_t> pair_ids_;
  std::vector<uint64_t> pairs_;
  // Consecutive records mostly repeat a pair: the last one is checked
  // before any hashing.
  std::string last_field_;
  std::string last_category_;
  std::optional<uint32_t> last_pair_;
};

}  // namespace vellum

#endif  // VELLUM_BUILD_STAGING_H_
