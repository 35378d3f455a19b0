// Reader of the VLSS split-set manifest. `open` runs the manifest parser
// that resuming writers use (sizes, codes, names and summaries inside
// their blobs), locates its complaint in the file, and adds the zero
// reserved fields, known flag bits and plain split names the producers
// guarantee. `verify` checks the rest of what the manifest
// alone can show: both blobs tiled exactly in record order, every summary
// well formed, flags consistent with the summaries, each split's id range
// consistent with its doc_count, ranges disjoint with no unexplained gap,
// and tombstones naming only ids some split covers.
#ifndef VELLUM_READ_VLSS_READER_H_
#define VELLUM_READ_VLSS_READER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <memory>

#include "read/problem.h"
#include "read/split_summary.h"
#include "splitset/manifest.h"
#include "splitset/manifest_format.h"

namespace vellum {

// The parsed fields plus the sort-column fields as stored, which the
// parser reduces to an optional name.
struct ManifestHeader : ManifestFields {
  uint32_t sortcol_name_off = 0;
  uint16_t sortcol_name_len = 0;
  uint16_t sortcol_num = 0;
  uint8_t sortcol_flag = 0;
};

struct SplitRecord {
  std::string_view name;
  uint16_t tier = 0;
  uint32_t doc_count = 0;
  uint32_t first_id = 0;
  uint32_t last_id = 0;
  uint16_t split_flags = 0;
  uint64_t size_bytes = 0;
  uint64_t epoch = 0;
  uint64_t summary_off = 0;
  uint32_t summary_len = 0;
  std::string_view summary;
  uint64_t record_offset = 0;  // of the 56-byte record in the manifest
  bool absolute_ids() const { return (split_flags & kSplitFlagAbsoluteIds) != 0; }
};

class VlssReader {
 public:
  static Checked<VlssReader> open(std::string file, std::string_view bytes);

  const ManifestHeader& header() const { return h_; }
  const std::vector<SplitRecord>& splits() const { return splits_; }
  std::string_view sortcol_name() const { return sortcol_; }
  // The parser's own result, for callers that continue a split set.
  const ParsedManifest& parsed() const { return *parsed_; }
  const std::string& file() const { return site_.file(); }
  const ProblemSite& site() const { return site_; }

  // The decoded summaries, one per split, in record order.
  Checked<std::vector<SplitSummary>> verify() const;

  // Offset in the manifest of split i's summary.
  uint64_t summary_at(size_t i) const { return summaries_at_ + splits_[i].summary_off; }

 private:
  VlssReader(std::string file, std::string_view bytes) : site_(std::move(file)), bytes_(bytes) {}
  Check read_header();
  Check read_records();
  Problem locate(const FormatError& e) const;
  Check check_blobs() const;
  Check check_flags(const std::vector<SplitSummary>& sums) const;
  Check check_ranges(const std::vector<SplitSummary>& sums) const;

  ProblemSite site_;
  std::string_view bytes_;
  ManifestHeader h_;
  std::unique_ptr<ParsedManifest> parsed_;  // splits_ view its names and summaries
  std::vector<SplitRecord> splits_;
  std::string_view sortcol_;
  uint64_t strings_at_ = 0;
  uint64_t summaries_at_ = 0;
};

}  // namespace vellum

#endif  // VELLUM_READ_VLSS_READER_H_
