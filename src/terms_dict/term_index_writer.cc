#include "terms_dict/term_index_writer.h"

#include <string>
#include <utility>
#include <vector>

#include "analysis/quote.h"
#include "common/coding.h"
#include "fst_map/fst_map_builder.h"
#include "terms_dict/dict_block_builder.h"
#include "terms_dict/posting_record.h"
#include "terms_dict/vlti_format.h"

namespace vellum {

namespace {

Error limit_error(std::string message) { return Error(ErrorKind::kIo, std::move(message)); }

struct EncodedTerms {
  std::string postings;  // the postings region
  std::vector<DictBlock> blocks;
  uint64_t term_count = 0;
};

// The sets of a TermPostings; with `release` (the same postings, owned)
// each set is freed once encoded, so the postings shrink as the image grows.
class PostingsRecords final : public TermRecordSource {
 public:
  PostingsRecords(const TermPostings& postings, TermPostings* release)
      : postings_(postings), release_(release) {}
  size_t count() const override { return postings_.size(); }
  std::string_view term(size_t i) const override { return postings_[i].term; }
  uint64_t append_record(size_t i, uint32_t boundary, std::string* out) override {
    const uint64_t head_len = append_posting_record(postings_[i].ids, boundary, out, &scratch_);
    if (release_ != nullptr) (*release_)[i].ids.reset();
    return head_len;
  }

 private:
  const TermPostings& postings_;
  TermPostings* release_;
  std::vector<uint32_t> scratch_;
};

// Serializes every term's record in order and lays out the dictionary.
Status encode_terms(TermRecordSource* source, const TermIndexOptions& options, uint64_t budget,
                    EncodedTerms* out) {
  DictBlockBuilder blocks(budget);
  const size_t n = source->count();
  for (size_t i = 0; i < n; ++i) {
    const std::string_view term = source->term(i);
    if (i > 0 && !(source->term(i - 1) < term)) {
      return Error(ErrorKind::kInvalidInput,
                   "encode_term_index requires distinct terms in ascending byte order");
    }
    const uint64_t offset = out->postings.size();
    const uint64_t head_len = source->append_record(i, options.head_boundary, &out->postings);
    if (head_len > vlti::kMaxHeadLen) {
      return limit_error("term " + quoted_literal(term) + ": head posting " +
                         std::to_string(head_len) + " B exceeds the 24-bit size limit");
    }
    if (offset >= vlti::kOffsetLimit) {
      return limit_error("postings region exceeds the 40-bit offset limit");
    }
    blocks.add(term, offset, head_len);
    ++out->term_count;
  }
  out->blocks = blocks.finish();
  return Status();
}

// The FST router over the blocks: last term -> offset << 24 | length.
Result<std::string> build_router(const std::vector<DictBlock>& blocks, uint64_t* dict_len) {
  FstMapBuilder router(vlti::kRouterInitialCapacity);
  *dict_len = 0;
  for (const DictBlock& b : blocks) {
    if (b.bytes.size() > vlti::kMaxBlockLen) {
      return limit_error("dict block exceeds the 24-bit block-length limit");
    }
    if (b.offset >= vlti::kOffsetLimit) {
      return limit_error("dict region exceeds the 40-bit block-offset limit");
    }
    Status s = router.insert(b.last_term, b.offset << vlti::kBlockOffsetShift | b.bytes.size());
    if (!s.ok()) return limit_error("router fst insert: " + s.error().message());
    *dict_len += b.bytes.size();
  }
  Result<std::string> image = router.finish();
  if (!image.ok()) return limit_error("router fst finish: " + image.error().message());
  return image;
}

std::string encode_header(const TermIndexOptions& options, uint64_t budget, uint64_t term_count,
                          uint64_t router_len, uint64_t dict_len) {
  uint16_t flags = 0;
  if (options.stem) flags |= vlti::kFlagStemmed;
  if (options.stopwords) flags |= vlti::kFlagStopwordsRemoved;
  if (!options.fold) flags |= vlti::kFlagCaseSensitive;
  // A language that changed nothing in analysis is not recorded.
  const bool analysed = options.language && (options.stem || options.stopwords);
  std::string h(vlti::kMagic, sizeof vlti::kMagic);
  PutU16(&h, vlti::kVersion);
  PutU16(&h, flags);
  PutU32(&h, static_cast<uint32_t>(term_count));
  PutU32(&h, options.head_boundary);
  PutU64(&h, router_len);
  PutU64(&h, dict_len);
  PutU32(&h, static_cast<uint32_t>(budget));
  PutU8(&h, analysed ? language_code(*options.language) : 0);
  h.append(3, '\0');
  return h;
}

// Everything after the postings region: the checks that follow it, the
// router, and the write phase.
Status finish_image(EncodedTerms terms, const TermIndexOptions& options, uint64_t budget,
                    Sink* sink) {
  if (!options.language && (options.stem || options.stopwords)) {
    return limit_error("VLTI: stemming and stop-word removal require a language, but none is set");
  }
  uint64_t dict_len = 0;
  VELLUM_ASSIGN_OR_RETURN(std::string router, build_router(terms.blocks, &dict_len));
  if (terms.term_count > UINT32_MAX) {
    return limit_error("VLTI term count exceeds the 32-bit limit");
  }
  VELLUM_RETURN_IF_ERROR(
      sink->append(encode_header(options, budget, terms.term_count, router.size(), dict_len)));
  VELLUM_RETURN_IF_ERROR(sink->append(router));
  for (const DictBlock& b : terms.blocks) VELLUM_RETURN_IF_ERROR(sink->append(b.bytes));
  return sink->append(terms.postings);
}

uint64_t block_budget(const TermIndexOptions& options) {
  return options.block_cap == 0 ? vlti::kDefaultBlockCap : options.block_cap;
}

}  // namespace

Status encode_term_index(TermRecordSource* source, const TermIndexOptions& options, Sink* sink) {
  EncodedTerms terms;
  VELLUM_RETURN_IF_ERROR(encode_terms(source, options, block_budget(options), &terms));
  return finish_image(std::move(terms), options, block_budget(options), sink);
}

Status encode_term_index(TermPostings postings, const TermIndexOptions& options, Sink* sink) {
  EncodedTerms terms;
  PostingsRecords records(postings, &postings);
  VELLUM_RETURN_IF_ERROR(encode_terms(&records, options, block_budget(options), &terms));
  postings = TermPostings();
  return finish_image(std::move(terms), options, block_budget(options), sink);
}

Status encode_term_index_retaining(const TermPostings& postings, const TermIndexOptions& options,
                                   Sink* sink) {
  PostingsRecords records(postings, nullptr);
  return encode_term_index(&records, options, sink);
}

}  // namespace vellum
