#include "lib/term_builder_type.h"

#include <optional>
#include <string>
#include <string_view>

#include "lib/binding.h"
#include "terms_dict/term_builder.h"

namespace vellum::py {

// A batch of (doc_id, text) tuples, every text copied into one buffer.
template <>
struct Arg<TermDocs> {
  static bool convert(PyObject* o, TermDocs* out) {
    SeqView seq;
    if (!seq.open(o)) return false;
    TermDocs docs;
    for (Py_ssize_t i = 0; i < seq.size(); ++i) {
      PyObject* item = seq.item(i);
      if (item == nullptr) return false;
      const bool ok = convert_doc(item, &docs);
      Py_DECREF(item);
      if (!ok) return false;
    }
    *out = std::move(docs);
    return true;
  }

 private:
  static bool convert_doc(PyObject* item, TermDocs* docs) {
    PyObject* f[2];
    uint32_t id = 0;
    std::string_view text;
    if (!unpack_tuple(item, 2, f) || !to_u32(f[0], &id) || !to_str_view(f[1], &text)) {
      return false;
    }
    docs->add(id, text);
    return true;
  }
};

namespace {

struct TermBuilderClass {
  using Core = TermBuilder;
  static constexpr const char* kName = "TermBuilder";
};

constexpr Callable kNew{
    "TermBuilder",
    {{"head_boundary", "None"},
     {"language", "None"},
     {"stem", "None"},
     {"stopwords", "False"},
     {"block_cap", "None"},
     {"case_sensitive", "False"}},
    "A streaming `VLTI` term-index builder for corpora too large to hold in memory. "
    "Construct with a head boundary and optional Snowball stemming / stop-word removal, "
    "feed `(doc_id, text)` documents in chunks with `add_many` (each is tokenized and the "
    "text discarded \xe2\x80\x94 only the postings grow), then `finish(path)` writes the "
    "`.vlt`. Doc IDs should be the shared rank-order IDs so the index composes with the "
    "others."};
Result<TermBuilder> make(std::optional<uint32_t> head_boundary, std::optional<std::string> language,
                         std::optional<bool> stem, bool stopwords,
                         std::optional<uint64_t> block_cap, bool case_sensitive) {
  return TermBuilder::create(
      {head_boundary, std::move(language), stem, stopwords, block_cap, case_sensitive});
}

constexpr Callable kAddMany{
    "add_many",
    {{"docs"}},
    "Adds a batch of `(doc_id, text)` documents; the text is tokenized and discarded.",
    Borrow::kExclusive};
Status add_many(TermBuilder& b, TermDocs docs) { return b.add_many(docs); }

constexpr Callable kTermCount{"term_count", {}, "Distinct terms accumulated so far.",
                              Borrow::kShared};
uint64_t term_count(TermBuilder& b) { return b.term_count(); }

constexpr Callable kFinish{
    "finish",
    {{"path"}},
    "Writes the accumulated index to `path`, consuming the builder.",
    Borrow::kExclusive};
Status finish(TermBuilder& b, std::string path) { return b.finish(path); }

constexpr Callable kWriteTermIndex{
    "write_term_index",
    {{"path"}, {"docs"}, {"head_boundary", "None"}},
    "Builds an `VLTI` term-level inverted index over `(doc_id, text)` documents and writes "
    "it to `path` (parent directories are created). Unlike the trigram `VLS` index, this "
    "keys postings by whole terms (an FST dictionary); doc IDs should be the shared "
    "rank-order IDs so facets/records/vector compose. `head_boundary` is the doc-ID "
    "head/tail split (a multiple of 65536); it defaults to the core default (65536). "
    "Raises `IOError` on write failure or a posting that overflows the format's "
    "size/offset limits."};
Status write_index(std::string path, TermDocs docs, std::optional<uint32_t> head_boundary) {
  return write_term_index(path, docs, head_boundary);
}

}  // namespace

PyObject* make_term_builder_type() {
  static PyMethodDef methods[] = {
      method<TermBuilderClass, kAddMany, add_many>(),
      method<TermBuilderClass, kTermCount, term_count>(),
      method<TermBuilderClass, kFinish, finish>(),
      kEndOfMethods,
  };
  return make_class<TermBuilderClass, kNew, make>(methods);
}

PyObject* make_write_term_index(PyObject* module_name) {
  static PyMethodDef def = function<kWriteTermIndex, write_index>();
  return make_function(&def, module_name);
}

}  // namespace vellum::py
