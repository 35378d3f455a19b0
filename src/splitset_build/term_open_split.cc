#include "splitset_build/term_open_split.h"

#include <algorithm>
#include <utility>

#include "common/sink.h"

namespace vellum {

namespace {

constexpr uint64_t kBytesPerPosting = 2;
constexpr uint64_t kBytesPerNewTerm = 24;  // beyond its bytes and its first posting
constexpr uint64_t kSlackBytes = 128;

}  // namespace

void TermOpenSplit::settle() {
  if (!encoded_) return;
  postings_.restore(std::move(*encoded_), vocab_);
  encoded_.reset();
}

const std::vector<uint32_t>& TermOpenSplit::distinct_terms(std::string_view text) {
  settle();
  terms_.clear();
  if (++call_ == 0) {  // wrapped: forget every mark
    std::fill(seen_in_.begin(), seen_in_.end(), 0);
    call_ = 1;
  }
  vocab_.for_each_term(text, [this](uint32_t t) {
    if (t >= seen_in_.size()) seen_in_.resize(std::max<size_t>(size_t{t} + 1, seen_in_.size() * 2));
    if (seen_in_[t] == call_) return;
    seen_in_[t] = call_;
    terms_.push_back(t);
  });
  return terms_;
}

uint64_t TermOpenSplit::doc_estimate(const std::vector<uint32_t>& terms) const {
  uint64_t total = 0;
  for (uint32_t t : terms) {
    total += kBytesPerPosting;
    if (!postings_.contains(t)) total += vocab_.term(t).size() + kBytesPerNewTerm;
  }
  return total;
}

bool TermOpenSplit::exceeds(uint64_t cost, uint64_t cap) const {
  const uint64_t with = estimate_ + cost;
  // Saturating: a cap near 2^64 must not be passed by wrapping.
  return with > cap || kSlackBytes > cap - with;
}

void TermOpenSplit::add(uint32_t local_id, const std::vector<uint32_t>& terms, uint64_t cost) {
  // The document's id is new to the split, so every insertion adds a
  // member: its estimate is exactly what the document adds.
  settle();
  estimate_ += cost;
  for (uint32_t t : terms) postings_.add(t, local_id);
}

Status TermOpenSplit::encode(std::string* body, std::string* /*summary*/) {
  settle();
  encoded_ = postings_.take(vocab_);
  StringSink sink(body);
  Status written = encode_term_index_retaining(*encoded_, options_, &sink);
  if (!written.ok()) settle();
  return written;
}

void TermOpenSplit::clear() {
  // take() empties the collector but keeps its per-term slots for the next
  // split, where clearing it would free and regrow them every split.
  if (!encoded_) (void)postings_.take(vocab_);
  encoded_.reset();
  estimate_ = 0;
}

}  // namespace vellum
