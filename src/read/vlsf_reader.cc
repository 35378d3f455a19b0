#include "read/vlsf_reader.h"

#include <algorithm>

#include "analysis/lowercase.h"
#include "analysis/utf8.h"
#include "common/byte_reader.h"
#include "common/coding.h"
#include "facet/facet_key.h"
#include "facet/vlsf_format.h"
#include "read/id_sets.h"
#include "read/roaring_check.h"

namespace vellum {

namespace {

constexpr const char* kHeader = "header";
constexpr const char* kFields = "field table";
constexpr const char* kCategories = "category table";
constexpr const char* kBlob = "string blob";
constexpr const char* kPostings = "postings";

}  // namespace

Checked<VlsfReader> VlsfReader::open(std::string file, std::string_view bytes) {
  VlsfReader v(std::move(file), bytes);
  VlsfHeader& h = v.h_;
  ByteReader r(bytes);
  std::string_view magic;
  uint16_t flag;
  uint32_t reserved;
  if (!r.bytes(kVlsfMagic.size(), &magic) || !r.u16(&h.version) || !r.u16(&flag) ||
      !r.u32(&h.field_count) || !r.u32(&h.category_count) || !r.u32(&h.blob_size) ||
      !r.u32(&reserved)) {
    return v.site_.at(kHeader, 0, "file is shorter than the header");
  }
  if (magic != kVlsfMagic) return v.site_.at(kHeader, 0, "bad magic, expected VLSF");
  if (h.version != kVlsfVersion) {
    return v.site_.at(kHeader, 4, "unsupported version " + std::to_string(h.version));
  }
  if (flag > 1) return v.site_.at(kHeader, 6, "case_sensitive flag is neither 0 nor 1");
  if (reserved != 0) return v.site_.at(kHeader, 20, "reserved field is not 0");
  h.case_sensitive = flag == 1;
  const uint64_t cats_at = kVlsfHeaderSize + kVlsfFieldEntrySize * h.field_count;
  const uint64_t blob_at = cats_at + kVlsfCategoryEntrySize * h.category_count;
  h.meta_size = blob_at + h.blob_size;
  if (cats_at > bytes.size()) return v.site_.at(kFields, bytes.size(), "file ends inside the field table");
  if (blob_at > bytes.size()) {
    return v.site_.at(kCategories, bytes.size(), "file ends inside the category table");
  }
  if (h.meta_size > bytes.size()) return v.site_.at(kBlob, bytes.size(), "file ends inside the string blob");
  VELLUM_CHECK(v.read_fields());
  VELLUM_CHECK(v.read_categories());
  VELLUM_CHECK(v.check_blob_tiling());
  VELLUM_CHECK(v.check_keys());
  return v;
}

uint64_t VlsfReader::field_entry_at(uint32_t i) const {
  return kVlsfHeaderSize + kVlsfFieldEntrySize * i;
}

uint64_t VlsfReader::category_entry_at(uint32_t i) const {
  return kVlsfHeaderSize + kVlsfFieldEntrySize * h_.field_count + kVlsfCategoryEntrySize * i;
}

Check VlsfReader::read_fields() {
  const std::string_view blob = bytes_.substr(h_.meta_size - h_.blob_size, h_.blob_size);
  uint64_t next_first = 0;
  for (uint32_t i = 0; i < h_.field_count; ++i) {
    const uint64_t at = field_entry_at(i);
    const char* p = bytes_.data() + at;
    const uint32_t name_off = GetU32(p);
    const uint16_t name_len = GetU16(p + 4);
    VlsfField f{std::string_view(), GetU32(p + 8), GetU32(p + 12)};
    if (uint64_t{name_off} + name_len > h_.blob_size) {
      return site_.at(kFields, at, "field name lies outside the string blob");
    }
    f.name = blob.substr(name_off, name_len);
    if (!utf8::is_valid(f.name)) return site_.at(kBlob, h_.meta_size - h_.blob_size + name_off, "field name is not UTF-8");
    if (GetU16(p + 6) != 0) return site_.at(kFields, at + 6, "reserved field is not 0");
    if (f.first != next_first) {
      return site_.at(kFields, at + 8, "category range does not follow the previous field's");
    }
    next_first += f.count;
    if (next_first > h_.category_count) {
      return site_.at(kFields, at + 12, "category range runs past the category table");
    }
    fields_.push_back(f);
    field_name_offsets_.push_back(name_off);
  }
  if (next_first != h_.category_count) {
    return site_.at(kFields, field_entry_at(h_.field_count), "fields do not cover every category");
  }
  return Check();
}

Check VlsfReader::read_categories() {
  const uint64_t blob_at = h_.meta_size - h_.blob_size;
  const std::string_view blob = bytes_.substr(blob_at, h_.blob_size);
  uint64_t expect = h_.meta_size;
  cats_.reserve(h_.category_count);
  for (uint32_t i = 0; i < h_.category_count; ++i) {
    const uint64_t at = category_entry_at(i);
    const char* p = bytes_.data() + at;
    VlsfCategory c{GetU64(p), GetU64(p + 8), GetU32(p + 16), GetU32(p + 20), GetU32(p + 24), {}};
    const uint32_t name_off = GetU32(p + 28);
    const uint16_t name_len = GetU16(p + 32);
    if (c.head_offset != expect) {
      return site_.at(kCategories, at + 8, "head posting does not follow the previous tail");
    }
    const uint64_t end = expect + c.head_len + c.tail_len;
    if (end > bytes_.size()) return site_.at(kCategories, at + 16, "postings run past the end of the file");
    if (uint64_t{name_off} + name_len > h_.blob_size) {
      return site_.at(kCategories, at + 28, "category name lies outside the string blob");
    }
    c.name = blob.substr(name_off, name_len);
    if (!utf8::is_valid(c.name)) return site_.at(kBlob, blob_at + name_off, "category name is not UTF-8");
    if (GetU16(p + 34) != 0) return site_.at(kCategories, at + 34, "reserved field is not 0");
    expect = end;
    cats_.push_back(c);
    name_offsets_.push_back(name_off);
  }
  if (expect != bytes_.size()) return site_.at(kPostings, expect, "bytes follow the last tail posting");
  return Check();
}

// The writer stores each field's name, then its categories' names in
// input order, so sorted by offset they cover the blob without gaps.
Check VlsfReader::check_blob_tiling() const {
  uint64_t cursor = 0;
  std::vector<std::pair<uint32_t, uint32_t>> order;  // (name offset, category)
  for (uint32_t f = 0; f < fields_.size(); ++f) {
    if (field_name_offsets_[f] != cursor) {
      return site_.at(kFields, field_entry_at(f), "field name is not where the string blob continues");
    }
    cursor += fields_[f].name.size();
    order.clear();
    for (uint32_t c = fields_[f].first; c < fields_[f].first + fields_[f].count; ++c) {
      order.emplace_back(name_offsets_[c], c);
    }
    std::sort(order.begin(), order.end());
    for (const auto& [off, c] : order) {
      if (off != cursor) {
        return site_.at(kCategories, category_entry_at(c) + 28,
                        "category name is not where the string blob continues");
      }
      cursor += cats_[c].name.size();
    }
  }
  if (cursor != h_.blob_size) {
    return site_.at(kBlob, h_.meta_size - h_.blob_size + cursor, "string blob holds bytes no name uses");
  }
  return Check();
}

Check VlsfReader::check_keys() const {
  const bool fold = !h_.case_sensitive;
  for (const VlsfField& f : fields_) {
    const std::string field = fold ? to_lower_full(f.name) : std::string(f.name);
    for (uint32_t c = f.first; c < f.first + f.count; ++c) {
      if (c > f.first && cats_[c].key < cats_[c - 1].key) {
        return site_.at(kCategories, category_entry_at(c), "keys of a field are not ascending");
      }
      const std::string cat = fold ? to_lower_full(cats_[c].name) : std::string(cats_[c].name);
      if (facet_key_of_prepared(field, cat) != cats_[c].key) {
        return site_.at(kCategories, category_entry_at(c), "key is not the key of the stored names");
      }
    }
  }
  return Check();
}

Check VlsfReader::check_category_postings(uint32_t i, VlsfStats* s) const {
  const VlsfCategory& c = cats_[i];
  RoaringSummary head, tail;
  if (auto f = check_roaring(bytes_.substr(c.head_offset, c.head_len), RoaringRules{}, &head)) {
    return roaring_problem(site_, kPostings, c.head_offset, *f);
  }
  const uint64_t tail_at = c.head_offset + c.head_len;
  if (auto f = check_roaring(bytes_.substr(tail_at, c.tail_len), RoaringRules{}, &tail)) {
    return roaring_problem(site_, kPostings, tail_at, *f);
  }
  if (head.cardinality > 0 && tail.cardinality > 0 && head.max >= tail.min) {
    return site_.at(kPostings, tail_at, "tail holds an id not above every head id");
  }
  if (head.cardinality + tail.cardinality != c.doc_count) {
    return site_.at(kCategories, category_entry_at(i) + 24, "doc_count differs from the postings");
  }
  s->memberships += c.doc_count;
  if (tail.cardinality > 0) {
    s->doc_span = std::max<uint64_t>(s->doc_span, uint64_t{tail.max} + 1);
  } else if (head.cardinality > 0) {
    s->doc_span = std::max<uint64_t>(s->doc_span, uint64_t{head.max} + 1);
  }
  return Check();
}

Checked<VlsfStats> VlsfReader::verify() const {
  VlsfStats s;
  s.posting_bytes = bytes_.size() - h_.meta_size;
  for (uint32_t i = 0; i < cats_.size(); ++i) VELLUM_CHECK(check_category_postings(i, &s));
  return s;
}

Checked<std::vector<uint32_t>> VlsfReader::category_ids(uint32_t i) const {
  if (i >= cats_.size()) return site_.at(kCategories, category_entry_at(i), "no such category");
  const VlsfCategory& c = cats_[i];
  std::vector<uint32_t> ids;
  RoaringSummary rs;
  if (auto f = decode_roaring(bytes_.substr(c.head_offset, c.head_len), RoaringRules{}, &rs, &ids)) {
    return roaring_problem(site_, kPostings, c.head_offset, *f);
  }
  const size_t head_ids = ids.size();
  const uint64_t tail_at = c.head_offset + c.head_len;
  if (auto f = decode_roaring(bytes_.substr(tail_at, c.tail_len), RoaringRules{}, &rs, &ids)) {
    return roaring_problem(site_, kPostings, tail_at, *f);
  }
  if (head_ids > 0 && head_ids < ids.size() && ids[head_ids - 1] >= ids[head_ids]) {
    return site_.at(kPostings, tail_at, "tail holds an id not above every head id");
  }
  return ids;
}

Checked<std::vector<uint32_t>> VlsfReader::lookup(std::string_view field,
                                                  std::string_view category) const {
  const bool fold = !h_.case_sensitive;
  const uint64_t key = facet_key(field, category, fold);
  const std::string want = fold ? to_lower_full(field) : std::string(field);
  std::vector<uint32_t> out;
  for (const VlsfField& f : fields_) {
    if ((fold ? to_lower_full(f.name) : std::string(f.name)) != want) continue;
    const auto begin = cats_.begin() + f.first;
    const auto end = begin + f.count;
    auto it = std::lower_bound(begin, end, key,
                               [](const VlsfCategory& c, uint64_t k) { return c.key < k; });
    for (; it != end && it->key == key; ++it) {
      VELLUM_CHECKED_ASSIGN(std::vector<uint32_t> ids,
                            category_ids(static_cast<uint32_t>(it - cats_.begin())));
      out = union_sorted(out, ids);
    }
  }
  return out;
}

std::vector<uint64_t> VlsfReader::distinct_keys() const {
  std::vector<uint64_t> keys;
  keys.reserve(cats_.size());
  for (const VlsfCategory& c : cats_) keys.push_back(c.key);
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

}  // namespace vellum
