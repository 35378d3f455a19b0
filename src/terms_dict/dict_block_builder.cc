#include "terms_dict/dict_block_builder.h"

#include <algorithm>
#include <utility>

#include "common/coding.h"

namespace vellum {

namespace {

uint64_t varint_size(uint64_t v) {
  uint64_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

size_t shared_prefix(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

void DictBlockBuilder::add(std::string_view term, uint64_t record_offset, uint64_t head_len) {
  size_t prefix = 0;
  uint64_t delta = record_offset;
  if (!current_.empty()) {
    prefix = shared_prefix(term, previous_term_);
    delta = record_offset - previous_offset_;
    const uint64_t suffix = term.size() - prefix;
    const uint64_t size = varint_size(prefix) + varint_size(suffix) + suffix + varint_size(delta) +
                          varint_size(head_len);
    if (current_.size() + size > budget_) {
      seal();
      prefix = 0;
      delta = record_offset;
    }
  }
  PutVarint64(&current_, prefix);
  PutVarint64(&current_, term.size() - prefix);
  current_.append(term.substr(prefix));
  PutVarint64(&current_, delta);
  PutVarint64(&current_, head_len);
  previous_term_.assign(term);
  previous_offset_ = record_offset;
}

void DictBlockBuilder::seal() {
  DictBlock b;
  b.offset = next_block_offset_;
  next_block_offset_ += current_.size();
  b.bytes = std::move(current_);
  b.last_term = previous_term_;
  blocks_.push_back(std::move(b));
  current_.clear();
  previous_term_.clear();
  previous_offset_ = 0;
}

std::vector<DictBlock> DictBlockBuilder::finish() {
  if (!current_.empty()) seal();
  return std::move(blocks_);
}

}  // namespace vellum
