#include "splitset_write/memtable.h"

#include "common/sink.h"
#include "index/vls_writer.h"
#include "splitset/bloom.h"

namespace vellum {

namespace {

constexpr uint64_t kPostingHeaderBytes = 8;   // cookie, container count
constexpr uint64_t kContainerBytes = 8;       // key, cardinality, offset
constexpr uint64_t kIdBytes = 2;              // per id of an array container
constexpr uint32_t kArrayMaxIds = 4096;       // beyond: an 8192-byte bitmap
constexpr uint64_t kBytesPerKeyPosting = 8;
constexpr uint64_t kBytesPerKey = 24;
constexpr uint64_t kBytesPerBlock = 8;
constexpr uint64_t kFixedBytes = 20;
constexpr unsigned kWindowBits = 16;

}  // namespace

void Memtable::note(uint32_t entry, uint32_t window) {
  if (entry >= window_.size()) {
    window_.resize(entry + 1, 0);
    in_window_.resize(entry + 1, 0);
    serialized_ += kPostingHeaderBytes;
  }
  if (window_[entry] != window + 1) {
    window_[entry] = window + 1;
    in_window_[entry] = 1;
    serialized_ += kContainerBytes + kIdBytes;
  } else if (++in_window_[entry] <= kArrayMaxIds) {
    serialized_ += kIdBytes;  // a bitmap container stays 8192 bytes
  }
}

void Memtable::add(const std::vector<uint64_t>& keys) {
  entry_of_.resize(keys.size());
  const uint32_t local = doc_count_++;
  postings_.add_doc(local, keys, entry_of_.data());
  const uint32_t window = local >> kWindowBits;
  for (uint32_t e : entry_of_) note(e, window);
}

uint64_t Memtable::bytes() const {
  const uint64_t k = postings_.key_count();
  return serialized_ + kBytesPerKeyPosting * k + kBytesPerKey * k +
         kBytesPerBlock * ((k + stride_ - 1) / stride_) + kFixedBytes;
}

Status Memtable::encode(uint16_t gram_size, uint32_t stride, bool fold_case, uint32_t bloom_bits,
                        std::string* body, std::string* bloom) {
  postings_.finish();
  StringSink sink(body);
  Status written = write_index_from(&sink, gram_size, stride, fold_case, &postings_);
  if (written.ok() && bloom_bits != 0 && doc_count_ > 0) {
    std::vector<uint64_t> keys(postings_.count());
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = postings_.key(i);
    *bloom = build_bloom(keys.data(), keys.size(), bloom_bits);
  }
  postings_.resume();
  return written;
}

void Memtable::keep() {
  window_.clear();
  in_window_.clear();
  serialized_ = 0;
  for (size_t i = 0; i < postings_.count(); ++i) {
    for (uint32_t id : postings_.ids(i)) note(static_cast<uint32_t>(i), id >> kWindowBits);
  }
}

void Memtable::clear() {
  postings_.clear();
  window_.clear();
  in_window_.clear();
  serialized_ = 0;
  doc_count_ = 0;
}

}  // namespace vellum
