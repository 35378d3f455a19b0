#include "build/staging.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace vellum {

namespace {

uint64_t pair_key(uint32_t field, uint32_t category) {
  return (uint64_t{field} << 32) | category;
}

}  // namespace

void RecordStaging::add(int64_t rank, std::string_view text, std::string_view record) {
  const size_t at = bytes_.size();
  const uint64_t end = at + text.size() + record.size();
  // Offsets have 40 bits; no machine stages a terabyte in memory.
  if (end > Row::kEndMask) throw std::bad_alloc();
  bytes_.resize(end);
  if (!text.empty()) std::memcpy(bytes_.data() + at, text.data(), text.size());
  if (!record.empty()) std::memcpy(bytes_.data() + at + text.size(), record.data(), record.size());
  uint64_t size = record.size();
  if (size >= kLongRecord) {
    long_records_.emplace_back(rows_.size(), size);
    size = kLongRecord;
  }
  rows_.push_back(Row{rank, end | (size << Row::kEndBits)});
  if (facet_ends_.size() != 0) facet_ends_.push_back(memberships_.size());
}

uint64_t RecordStaging::long_record_size(size_t i) const {
  const auto it = std::lower_bound(long_records_.begin(), long_records_.end(),
                                   std::pair<uint64_t, uint64_t>(i, 0));
  return it->second;
}

void RecordStaging::add_membership(uint32_t pair) {
  memberships_.push_back(pair);
  if (facet_ends_.size() == 0) facet_ends_.resize(rows_.size());  // earlier rows: none
  facet_ends_[rows_.size() - 1] = memberships_.size();
}

uint32_t RecordStaging::intern(std::string_view name) {
  auto it = name_ids_.find(name);
  if (it != name_ids_.end()) return it->second;
  const uint32_t id = static_cast<uint32_t>(names_.size());
  it = name_ids_.emplace(std::string(name), id).first;
  names_.push_back(&it->first);
  return id;
}

void RecordStaging::add_pair(uint32_t field, uint32_t category) {
  const uint64_t key = pair_key(field, category);
  auto it = pair_ids_.find(key);
  if (it == pair_ids_.end()) {
    it = pair_ids_.emplace(key, static_cast<uint32_t>(pairs_.size())).first;
    pairs_.push_back(key);
  }
  add_membership(it->second);
}

void RecordStaging::add_facet(std::string_view field, std::string_view category) {
  if (last_pair_ && field == last_field_ && category == last_category_) {
    add_membership(*last_pair_);
    return;
  }
  add_pair(intern(field), intern(category));
  last_field_.assign(field);
  last_category_.assign(category);
  last_pair_ = memberships_[memberships_.size() - 1];
}

void RecordStaging::add_facet_field(std::string_view field) {
  add_pair(intern(field), kNoName);
}

void RecordStaging::add_facets(const FacetList& facets) {
  for (const auto& [field, categories] : facets) {
    if (categories.empty()) add_facet_field(field);
    for (const std::string& category : categories) add_facet(field, category);
  }
}

RecordStaging::Mark RecordStaging::mark() const {
  return Mark{rows_.size(), memberships_.size(), pairs_.size(), names_.size()};
}

void RecordStaging::rollback(const Mark& m) {
  rows_.resize(m.rows);
  bytes_.resize(m.rows == 0 ? 0 : rows_[m.rows - 1].end());
  while (!long_records_.empty() && long_records_.back().first >= m.rows) long_records_.pop_back();
  memberships_.resize(m.facets);
  // Rows kept that had no memberships read zero ends, as they should.
  facet_ends_.resize(m.facets == 0 ? 0 : m.rows);
  for (size_t p = m.pairs; p < pairs_.size(); ++p) pair_ids_.erase(pairs_[p]);
  pairs_.resize(m.pairs);
  for (size_t n = m.names; n < names_.size(); ++n) {
    // Copy the name first: erasing frees the node it lives in.
    const std::string name = *names_[n];
    name_ids_.erase(name);
  }
  names_.resize(m.names);
  last_pair_.reset();
}

RecordStaging::FacetPair RecordStaging::pair(uint32_t p) const {
  const uint32_t field = static_cast<uint32_t>(pairs_[p] >> 32);
  const uint32_t category = static_cast<uint32_t>(pairs_[p]);
  FacetPair out{*names_[field], std::nullopt};
  if (category != kNoName) out.category = *names_[category];
  return out;
}

}  // namespace vellum
