#include "build/builder.h"

#include <algorithm>
#include <limits>
#include <iterator>
#include <string_view>
#include <utility>

#include "analysis/ngram_keys.h"
#include "build/key_postings.h"
#include "common/sink.h"
#include "facet/facet_map.h"
#include "facet/facet_sidecar.h"
#include "index/bitmap.h"
#include "index/posting.h"
#include "index/record_writer.h"
#include "index/vls_writer.h"

namespace vellum {

namespace {

constexpr uint32_t kContainerSpan = 65536;

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

void Builder::add(StagedRecord record) { records_.push_back(std::move(record)); }

void Builder::add_many(std::vector<StagedRecord> records) {
  // Range insertion grows the list geometrically; reserving exactly the new
  // size on every call would copy the whole list each time.
  records_.insert(records_.end(), std::make_move_iterator(records.begin()),
                  std::make_move_iterator(records.end()));
}

Result<BuildStats> Builder::build(const std::string& out_dir) const {
  // Ids are 32-bit; refuse before touching the file system.
  VELLUM_RETURN_IF_ERROR(check_document_count(records_.size()));
  const uint32_t n = static_cast<uint32_t>(records_.size());

  VELLUM_RETURN_IF_ERROR(create_dirs(out_dir));

  // Document id d is the staged record order[d]: rank descending, staging
  // order among equal ranks. Sorting compact (rank, index) pairs with the
  // index as tie-break gives exactly the stable order without touching the
  // records from the comparator.
  std::vector<uint32_t> order(n);
  {
    std::vector<std::pair<int64_t, uint32_t>> by_rank(n);
    for (uint32_t i = 0; i < n; ++i) by_rank[i] = {records_[i].rank, i};
    std::sort(by_rank.begin(), by_rank.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    for (uint32_t d = 0; d < n; ++d) order[d] = by_rank[d].second;
  }

  KeyPostings postings;
  FacetMap facets;
  {
    NgramKeyer keyer;
    for (uint32_t d = 0; d < n; ++d) {
      // Rank order visits the staged records at random: fetch a record a
      // few documents ahead and, once it has arrived, its text.
      if (d + 16 < n) __builtin_prefetch(&records_[order[d + 16]]);
      if (d + 8 < n) __builtin_prefetch(records_[order[d + 8]].text.data());
      const StagedRecord& rec = records_[order[d]];
      postings.add_doc(d, keyer.keys(rec.text, gram_size_, true));
      for (const auto& [field_name, categories] : rec.facets) {
        FacetCategories& field = facet_field(&facets, field_name);
        for (const std::string& category_name : categories) add_facet(&field, category_name, d);
      }
    }
    postings.finish();
  }

  BuildStats stats;
  stats.docs = n;
  stats.ngrams = postings.count();
  {
    // Postings are encoded one at a time as the index is written, so
    // serialized postings and the collected sets never coexist.
    Result<FileSink> file = FileSink::create(join_path(out_dir, "index.vls"));
    if (!file.ok()) return file.error();
    Status written = write_index_from(&*file, gram_size_, 0, true, &postings);
    Status closed = file->close();
    postings.clear();
    VELLUM_RETURN_IF_ERROR(written);
    VELLUM_RETURN_IF_ERROR(closed);
  }

  stats.fields = facets.size();
  {
    std::vector<FacetField> fields = sidecar_input(&facets, head_boundary_, true);
    Result<FileSink> file = FileSink::create(join_path(out_dir, "index.vlf"));
    if (!file.ok()) return file.error();
    VELLUM_RETURN_IF_ERROR(write_facet_sidecar(std::move(file).value(), std::move(fields), true));
  }

  {
    Result<FileSink> bin = FileSink::create(join_path(out_dir, "records.bin"));
    if (!bin.ok()) return bin.error();
    Result<FileSink> idx = FileSink::create(join_path(out_dir, "records.idx"));
    if (!idx.ok()) return idx.error();
    Result<RecordWriter> writer =
        RecordWriter::create(std::move(bin).value(), std::move(idx).value(), n);
    if (!writer.ok()) return writer.error();
    for (uint32_t d = 0; d < n; ++d) {
      VELLUM_RETURN_IF_ERROR(writer->append(records_[order[d]].record));
    }
    VELLUM_RETURN_IF_ERROR(writer->finish());
  }
  return stats;
}

}  // namespace vellum
