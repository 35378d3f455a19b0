// Reader of the VLTI term index, for bytes from storage. `open` checks the
// 40-byte header (known flag bits, a language code exactly when stemming
// or stop-word removal is on, zero reserved bytes), that the router and
// dictionary fit, and the router's framing. `verify` checks everything
// else: router values tiling the dictionary in order, each block decoding
// to entries that end exactly at its end with maximal shared prefixes,
// terms strictly ascending and valid UTF-8, each block's last term as its
// router key, posting records back to back to the end of the file, and
// every head and tail a sound Roaring payload without runs on its side of
// head_boundary. Lookups check the block and record they touch. The reader
// views the caller's bytes, which must outlive it.
#ifndef VELLUM_READ_VLTI_READER_H_
#define VELLUM_READ_VLTI_READER_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "read/fst_reader.h"
#include "read/problem.h"

namespace vellum {

struct VltiHeader {
  uint16_t version = 0;
  uint16_t flags = 0;  // bit 0 stemmed, bit 1 stop words removed, bit 2 case-sensitive
  uint32_t term_count = 0;
  uint32_t head_boundary = 0;
  uint64_t router_len = 0;
  uint64_t dict_len = 0;
  uint32_t block_cap = 0;
  uint8_t language_code = 0;  // analysis language index + 1; 0 for none
  uint64_t dict_offset = 0;
  uint64_t postings_offset = 0;
  bool stemmed() const { return (flags & 1) != 0; }
  bool stopwords_removed() const { return (flags & 2) != 0; }
  bool case_sensitive() const { return (flags & 4) != 0; }
};

struct VltiStats {
  uint64_t blocks = 0;
  uint64_t posting_bytes = 0;
  uint64_t total_ids = 0;
  uint64_t doc_span = 0;  // largest id + 1
  std::array<uint64_t, 32> cardinality_log2{};  // as for VlsStats
};

class VltiReader {
 public:
  static Checked<VltiReader> open(std::string file, std::string_view bytes);

  const VltiHeader& header() const { return h_; }
  uint64_t file_size() const { return bytes_.size(); }
  const std::string& file() const { return site_.file(); }

  Checked<VltiStats> verify() const;

  // Ids of the documents holding `term` (bytes as analysed: the caller
  // applies the file's analysis settings), empty when it is not indexed.
  Checked<std::vector<uint32_t>> lookup_term(std::string_view term) const;

 private:
  struct Entry {
    std::string term;
    uint64_t record = 0;  // from the start of the postings region
    uint64_t head_len = 0;
    uint64_t at = 0;      // absolute offset of the entry
  };
  struct Record {
    uint64_t head_at, head_len, tail_at, tail_len;  // absolute
  };

  VltiReader(std::string file, std::string_view bytes) : site_(std::move(file)), bytes_(bytes) {}
  Checked<std::vector<Entry>> decode_block(uint64_t offset, uint64_t length) const;
  Checked<Record> record_at(const Entry& e) const;
  Check check_record(const Entry& e, const Record& r, VltiStats* s) const;
  Checked<std::vector<uint32_t>> record_ids(const Record& r) const;

  ProblemSite site_;
  std::string_view bytes_;
  VltiHeader h_;
  std::optional<FstReader> router_;
};

}  // namespace vellum

#endif  // VELLUM_READ_VLTI_READER_H_
