#include "facet/facet_sidecar.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "analysis/lowercase.h"
#include "common/coding.h"
#include "facet/facet_key.h"
#include "facet/vlsf_format.h"

namespace vellum {

namespace {

constexpr uint64_t kU32Max = std::numeric_limits<uint32_t>::max();

struct NameRef {
  uint32_t offset;
  uint16_t length;
};

struct CategoryEntry {
  uint64_t key;
  NameRef name;
  FacetCategory* source;
};

Status intern(std::string* blob, const std::string& name, NameRef* ref) {
  if (blob->size() > kU32Max) {
    return Error(ErrorKind::kIo, "facet string blob size exceeds the 32-bit limit");
  }
  if (name.size() > kVlsfMaxNameLength) {
    return Error(ErrorKind::kIo, "facet name exceeds the 16-bit length limit");
  }
  ref->offset = static_cast<uint32_t>(blob->size());
  ref->length = static_cast<uint16_t>(name.size());
  blob->append(name);
  return Status();
}

Status write_sidecar(Sink* sink, std::vector<FacetField> fields, bool fold_case) {
  // Everything that can fail on names happens here, before any output.
  std::string blob;
  std::vector<NameRef> field_names(fields.size());
  std::vector<uint32_t> first_index(fields.size());
  std::vector<CategoryEntry> entries;
  for (size_t f = 0; f < fields.size(); ++f) {
    FacetField& field = fields[f];
    VELLUM_RETURN_IF_ERROR(intern(&blob, field.name, &field_names[f]));
    const std::string field_key_form = fold_case ? to_lower_full(field.name) : field.name;
    first_index[f] = static_cast<uint32_t>(entries.size());
    for (FacetCategory& cat : field.categories) {
      CategoryEntry e;
      VELLUM_RETURN_IF_ERROR(intern(&blob, cat.name, &e.name));
      e.key = fold_case ? facet_key_of_prepared(field_key_form, to_lower_full(cat.name))
                        : facet_key_of_prepared(field_key_form, cat.name);
      e.source = &cat;
      entries.push_back(e);
    }
    // Equal keys (names folding together, or collisions) keep input order.
    std::stable_sort(entries.begin() + first_index[f], entries.end(),
                     [](const CategoryEntry& a, const CategoryEntry& b) { return a.key < b.key; });
  }
  if (blob.size() > kU32Max) {
    return Error(ErrorKind::kIo, "facet string blob size exceeds the 32-bit limit");
  }

  const uint64_t field_count = fields.size();
  const uint64_t category_count = entries.size();
  std::string buf;
  buf.append(kVlsfMagic);
  PutU16(&buf, kVlsfVersion);
  PutU16(&buf, fold_case ? 0 : 1);
  PutU32(&buf, static_cast<uint32_t>(field_count));
  PutU32(&buf, static_cast<uint32_t>(category_count));
  PutU32(&buf, static_cast<uint32_t>(blob.size()));
  PutU32(&buf, 0);
  for (size_t f = 0; f < fields.size(); ++f) {
    PutU32(&buf, field_names[f].offset);
    PutU16(&buf, field_names[f].length);
    PutU16(&buf, 0);
    PutU32(&buf, first_index[f]);
    PutU32(&buf, static_cast<uint32_t>(fields[f].categories.size()));
  }

  uint64_t offset = kVlsfHeaderSize + kVlsfFieldEntrySize * field_count +
                    kVlsfCategoryEntrySize * category_count + blob.size();
  for (const CategoryEntry& e : entries) {
    PutU64(&buf, e.key);
    PutU64(&buf, offset);
    const uint64_t head = e.source->head.size();
    const uint64_t tail = e.source->tail.size();
    if (head > kU32Max || tail > kU32Max) {
      VELLUM_RETURN_IF_ERROR(sink->append(buf));
      return Error(ErrorKind::kIo, head > kU32Max
                                       ? "VLSF head posting size exceeds the 32-bit limit"
                                       : "VLSF tail posting size exceeds the 32-bit limit");
    }
    PutU32(&buf, static_cast<uint32_t>(head));
    PutU32(&buf, static_cast<uint32_t>(tail));
    PutU32(&buf, e.source->doc_count);
    PutU32(&buf, e.name.offset);
    PutU16(&buf, e.name.length);
    PutU16(&buf, 0);
    offset += head + tail;
  }
  VELLUM_RETURN_IF_ERROR(sink->append(buf));
  std::string().swap(buf);
  VELLUM_RETURN_IF_ERROR(sink->append(blob));
  std::string().swap(blob);

  // Posting bytes go straight from the input to the output, released once
  // written.
  for (const CategoryEntry& e : entries) {
    VELLUM_RETURN_IF_ERROR(sink->append(e.source->head));
    VELLUM_RETURN_IF_ERROR(sink->append(e.source->tail));
    std::string().swap(e.source->head);
    std::string().swap(e.source->tail);
  }
  return Status();
}

}  // namespace

Status write_facet_sidecar(FileSink file, std::vector<FacetField> fields, bool fold_case) {
  return close_after(write_sidecar(&file, std::move(fields), fold_case), &file);
}

Status encode_facet_sidecar(std::string* out, std::vector<FacetField> fields,
                            bool fold_case) {
  StringSink sink(out);
  return write_sidecar(&sink, std::move(fields), fold_case);
}

}  // namespace vellum
