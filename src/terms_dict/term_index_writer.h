// Writes a VLTI term index (see vlti_format.h) for a set of terms and
// their document ids.
//
// The whole image (postings region, dict blocks, router) is assembled in
// memory first and only then written, header to end, in one forward pass:
// a failure before the write phase leaves the sink untouched. File and
// memory sinks receive identical bytes.
#ifndef VELLUM_TERMS_DICT_TERM_INDEX_WRITER_H_
#define VELLUM_TERMS_DICT_TERM_INDEX_WRITER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/stem_language.h"
#include "common/sink.h"
#include "common/status.h"
#include "terms_dict/term_postings.h"

namespace vellum {

struct TermIndexOptions {
  // Ids below it go to a term's head, the others (unchanged) to its tail.
  uint32_t head_boundary = 0;
  // The analysis language, if one is set; recorded only when it was used.
  std::optional<StemLanguage> language;
  bool stem = false;
  bool stopwords = false;
  bool fold = true;
  // Dict block byte budget; 0 selects 4096.
  uint64_t block_cap = 0;
};

// Distinct terms in ascending byte order, each able to append its posting
// record (posting_record.h): lets a collector hand its sets, in whatever
// form it keeps them, to the writer without building a bitmap per term.
class TermRecordSource {
 public:
  virtual ~TermRecordSource() = default;
  virtual size_t count() const = 0;
  virtual std::string_view term(size_t i) const = 0;
  // Appends term i's record to `out` and returns its head's length.
  virtual uint64_t append_record(size_t i, uint32_t boundary, std::string* out) = 0;
};

// Writes the index of `source` to `sink`, leaving the source as it was;
// errors as for encode_term_index.
Status encode_term_index(TermRecordSource* source, const TermIndexOptions& options, Sink* sink);

// Consumes `postings` (distinct terms in ascending byte order; each set is
// released once encoded) and writes the index to `sink`. Format limits
// fail with kIo and their fixed messages; terms out of order fail with
// kInvalidInput; sink failures are returned as they are.
Status encode_term_index(TermPostings postings, const TermIndexOptions& options, Sink* sink);

// The same bytes, leaving `postings` untouched, for callers that must keep
// their postings when the write fails (peak memory then holds both the
// postings and the image).
Status encode_term_index_retaining(const TermPostings& postings, const TermIndexOptions& options,
                                   Sink* sink);

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_INDEX_WRITER_H_
