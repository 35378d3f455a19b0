#include "splitset_build/ngram_open_split.h"

#include "common/sink.h"
#include "index/vls_writer.h"
#include "splitset/bloom.h"
#include "splitset/summary_format.h"
#include "splitset/summary_tlv.h"

namespace vellum {

namespace {

constexpr uint64_t kBytesPerNewDocKey = 2;
constexpr uint64_t kBytesPerKey = 64;
constexpr uint64_t kBytesPerPosting = 2;
constexpr uint64_t kBytesPerBlock = 8;
constexpr uint64_t kFixedBytes = 20;

}  // namespace

uint64_t NgramOpenSplit::estimate_without_new(size_t n) const {
  const uint64_t k = postings_.key_count();
  const uint64_t stride = stride_ == 0 ? 1 : stride_;
  return kBytesPerNewDocKey * n + kBytesPerKey * k + posting_estimate_ +
         kBytesPerBlock * ((k + stride - 1) / stride) + kFixedBytes;
}

uint64_t NgramOpenSplit::estimate_with(const std::vector<uint64_t>& keys) const {
  return estimate_without_new(keys.size()) + kBytesPerKey * postings_.count_new(keys);
}

bool NgramOpenSplit::exceeds(const std::vector<uint64_t>& keys, uint64_t cap) const {
  const uint64_t low = estimate_without_new(keys.size());
  if (low > cap) return true;
  if (low + kBytesPerKey * keys.size() <= cap) return false;
  return estimate_with(keys) > cap;
}

void NgramOpenSplit::add(uint32_t local_id, const std::vector<uint64_t>& keys) {
  postings_.add_doc(local_id, keys);
  // Keys of a document are distinct and its id is new: every one is a
  // new posting.
  posting_estimate_ += kBytesPerPosting * keys.size();
}

Status NgramOpenSplit::encode(std::string* body, std::string* summary) {
  postings_.finish();
  StringSink sink(body);
  Status written = write_index_from(&sink, gram_size_, stride_, fold_case_, &postings_);
  if (written.ok() && bloom_bits_ != 0) {
    std::vector<uint64_t> keys(postings_.count());
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = postings_.key(i);
    append_tlv(summary, kTlvBloom, build_bloom(keys.data(), keys.size(), bloom_bits_));
  }
  postings_.resume();
  return written;
}

void NgramOpenSplit::clear() {
  postings_.clear();
  posting_estimate_ = 0;
}

}  // namespace vellum
