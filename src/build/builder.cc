#include "build/builder.h"

#include <algorithm>
#include <limits>
#include <span>
#include <string_view>
#include <utility>

#include "analysis/ngram_keys.h"
#include "build/document_chunk.h"
#include "build/key_estimate.h"
#include "build/key_postings.h"
#include "build/rank_order.h"
#include "common/mapped_array.h"
#include "common/sink.h"
#include "facet/facet_map.h"
#include "facet/facet_sidecar.h"
#include "index/record_writer.h"
#include "index/vls_writer.h"

namespace vellum {

namespace {

constexpr uint32_t kContainerSpan = 65536;

MappedArray<int64_t> staged_ranks(const RecordStaging& staged) {
  MappedArray<int64_t> ranks(staged.size());
  for (size_t i = 0; i < ranks.size(); ++i) ranks[i] = staged.rank(i);
  return ranks;
}

// The category sets of the staged facet pairs, looked up in the facet map
// once per pair rather than once per membership.
class FacetSets {
 public:
  FacetSets(const RecordStaging& staged, FacetMap* facets)
      : staged_(staged),
        facets_(facets),
        sets_(staged.pair_count(), nullptr),
        resolved_(staged.pair_count(), false) {}

  void add_doc(uint32_t doc, std::span<const uint32_t> pairs) {
    for (uint32_t p : pairs) {
      if (!resolved_[p]) resolve(p);
      if (sets_[p] != nullptr) sets_[p]->add(doc);
    }
  }

 private:
  void resolve(uint32_t p) {
    const RecordStaging::FacetPair pair = staged_.pair(p);
    resolved_[p] = true;
    // A field without a category only has to exist.
    FacetCategories& field = facet_field(facets_, pair.field);
    if (!pair.category) return;
    auto it = field.find(*pair.category);
    if (it == field.end()) it = field.emplace(std::string(*pair.category), Bitmap()).first;
    sets_[p] = &it->second;
  }

  const RecordStaging& staged_;
  FacetMap* facets_;
  std::vector<Bitmap*> sets_;  // map nodes do not move
  std::vector<bool> resolved_;
};

// The n-gram keys and facet memberships of every document, in id order,
// a chunk of documents at a time. Keys reach the postings in groups of
// consecutive documents, so that the table can be fetched well ahead of
// the keys of short documents.
void collect_postings(const RecordStaging& staged, const std::vector<uint32_t>& order,
                      uint16_t gram_size, KeyPostings* postings, FacetMap* facets) {
  constexpr size_t kGroupKeys = 8192;
  const size_t n = order.size();
  const bool faceted = staged.pair_count() > 0;
  DocumentChunk chunk(staged, order,
                      DocumentChunk::kText | (faceted ? unsigned{DocumentChunk::kFacets} : 0u));
  NgramKeyer keyer;
  FacetSets sets(staged, facets);
  postings->reserve(estimate_distinct_keys(staged, gram_size));
  // The group: the keys of documents group_first, ..., each ending at its
  // entry of ends. A text of b bytes has at most b keys.
  std::vector<uint64_t> keys(2 * kGroupKeys);
  std::vector<uint32_t> ends;
  size_t used = 0;
  uint32_t group_first = 0;
  auto add_group = [&] {
    postings->add_docs(group_first, {keys.data(), used}, ends);
    group_first += static_cast<uint32_t>(ends.size());
    ends.clear();
    used = 0;
  };
  for (size_t first = 0; first < n;) {
    const size_t count = chunk.gather(first);
    for (size_t k = 0; k < count; ++k) {
      const std::string_view text = chunk.text(k);
      if (used + text.size() > keys.size()) {
        if (used > 0) add_group();
        if (text.size() > keys.size()) keys.resize(text.size());
      }
      // The postings drop a document's repeated keys themselves, at less
      // cost than a set of seen keys would.
      used = static_cast<size_t>(keyer.grams(text, gram_size, true, keys.data() + used) - keys.data());
      ends.push_back(static_cast<uint32_t>(used));
      if (used >= kGroupKeys) add_group();
      if (faceted) sets.add_doc(static_cast<uint32_t>(first + k), chunk.facets(k));
    }
    first += count;
  }
  if (!ends.empty()) add_group();
  postings->finish();
}

// Postings are encoded one at a time as the index is written, so
// serialized postings and the collected sets never coexist; the sets are
// released once written.
Status write_index_file(const std::string& path, uint16_t gram_size, KeyPostings* postings) {
  VELLUM_ASSIGN_OR_RETURN(FileSink file, FileSink::create(path));
  postings->free_as_written();
  Status s = close_after(write_index_from(&file, gram_size, 0, true, postings), &file);
  postings->clear();
  return s;
}

Status write_sidecar_file(const std::string& path, std::vector<FacetField> fields) {
  VELLUM_ASSIGN_OR_RETURN(FileSink file, FileSink::create(path));
  return write_facet_sidecar(std::move(file), std::move(fields), true);
}

// records.bin, then records.idx, in document-id order.
Status write_record_files(const std::string& out_dir, const RecordStaging& staged,
                          const std::vector<uint32_t>& order) {
  VELLUM_ASSIGN_OR_RETURN(FileSink bin, FileSink::create(join_path(out_dir, "records.bin")));
  VELLUM_ASSIGN_OR_RETURN(FileSink idx, FileSink::create(join_path(out_dir, "records.idx")));
  VELLUM_ASSIGN_OR_RETURN(
      RecordWriter writer,
      RecordWriter::create(std::move(bin), std::move(idx), static_cast<uint32_t>(order.size())));
  DocumentChunk chunk(staged, order, DocumentChunk::kRecord);
  for (size_t first = 0; first < order.size();) {
    const size_t count = chunk.gather(first);
    VELLUM_RETURN_IF_ERROR(writer.append_run(chunk.records().data(), count));
    first += count;
  }
  return writer.finish();
}

}  // namespace

Status check_document_count(uint64_t count) {
  if (count > std::numeric_limits<uint32_t>::max()) {
    return Error(ErrorKind::kIo,
                 "dataset record count exceeds the 32-bit document id limit");
  }
  return Status();
}

Result<Builder> Builder::create(uint16_t gram_size, uint32_t head_boundary) {
  if (head_boundary % kContainerSpan != 0) {
    return Error(ErrorKind::kInvalidArgument,
                 "head_boundary must be a multiple of 65536, got " +
                     std::to_string(head_boundary));
  }
  return Builder(gram_size == 0 ? 1 : gram_size,
                 head_boundary == 0 ? kContainerSpan : head_boundary);
}

void Builder::add(const StagedRecord& record) {
  staged_.add(record.rank, record.text, record.record);
  staged_.add_facets(record.facets);
}

void Builder::add_many(const std::vector<StagedRecord>& records) {
  for (const StagedRecord& r : records) add(r);
}

Result<BuildStats> Builder::build(const std::string& out_dir) const {
  // Ids are 32-bit; refuse before touching the file system.
  VELLUM_RETURN_IF_ERROR(check_document_count(staged_.size()));
  VELLUM_RETURN_IF_ERROR(create_dirs(out_dir));
  const std::vector<uint32_t> order = [&] {
    const MappedArray<int64_t> ranks = staged_ranks(staged_);
    return rank_order({ranks.data(), ranks.size()});
  }();

  KeyPostings postings(ngram_keys_hashed_above_32_bits(gram_size_));
  FacetMap facets;
  collect_postings(staged_, order, gram_size_, &postings, &facets);
  BuildStats stats;
  stats.docs = order.size();
  stats.ngrams = postings.count();
  stats.fields = facets.size();

  VELLUM_RETURN_IF_ERROR(
      write_index_file(join_path(out_dir, "index.vls"), gram_size_, &postings));
  VELLUM_RETURN_IF_ERROR(
      write_sidecar_file(join_path(out_dir, "index.vlf"), sidecar_input(&facets, head_boundary_, /*release=*/true)));
  VELLUM_RETURN_IF_ERROR(write_record_files(out_dir, staged_, order));
  return stats;
}

}  // namespace vellum
