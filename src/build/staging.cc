#include "build/staging.h"

#include <cstring>

namespace vellum {

namespace {

uint64_t pair_key(uint32_t field, uint32_t category) {
  return (uint64_t{field} << 32) | category;
}

}  // namespace

void RecordStaging::append(Arena* a, std::string_view bytes) {
  const size_t at = a->size();
  a->resize(at + bytes.size());
  if (!bytes.empty()) std::memcpy(a->data() + at, bytes.data(), bytes.size());
}

void RecordStaging::add(int64_t rank, std::string_view text, std::string_view record) {
  append(&texts_, text);
  append(&records_, record);
  rows_.push_back(Row{rank, texts_.size(), records_.size(), memberships_.size()});
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
  memberships_.push_back(it->second);
  rows_[rows_.size() - 1].facet_end = memberships_.size();
}

void RecordStaging::add_facet(std::string_view field, std::string_view category) {
  if (last_pair_ && field == last_field_ && category == last_category_) {
    memberships_.push_back(*last_pair_);
    rows_[rows_.size() - 1].facet_end = memberships_.size();
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
  texts_.resize(m.rows == 0 ? 0 : rows_[m.rows - 1].text_end);
  records_.resize(m.rows == 0 ? 0 : rows_[m.rows - 1].record_end);
  memberships_.resize(m.facets);
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
