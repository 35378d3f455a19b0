#include "terms_dict/term_builder.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "common/sink.h"
#include "terms_dict/vlti_format.h"

namespace vellum {

namespace {

// Passes appends through and remembers whether the sink itself failed, so
// that a write error can be told from a format limit of the encoder.
class WatchedSink final : public Sink {
 public:
  explicit WatchedSink(Sink* inner) : inner_(inner) {}
  Status append(std::string_view data) override {
    Status s = inner_->append(data);
    if (!s.ok()) failed_ = true;
    return s;
  }
  bool failed() const { return failed_; }

 private:
  Sink* inner_;
  bool failed_ = false;
};

Status create_parent_dirs(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? Status() : create_dirs(parent);
}

// A document's terms are gathered first, so that the sets they go to can
// be loaded while the earlier ones are added.
void collect(const TermDocs& docs, TermVocabulary* vocab, TermPostingsCollector* postings) {
  std::vector<uint32_t> terms;
  for (size_t i = 0; i < docs.size(); ++i) {
    const uint32_t doc = docs.id(i);
    terms.clear();
    vocab->analyze(docs.text(i), &terms);
    for (uint32_t term : terms) postings->prefetch(term);
    for (uint32_t term : terms) postings->add(term, doc);
  }
}

}  // namespace

Result<TermBuilder> TermBuilder::create(const TermBuilderOptions& options) {
  std::optional<std::string_view> language;
  if (options.language) language = *options.language;
  VELLUM_ASSIGN_OR_RETURN(
      TermAnalyzer analyzer,
      TermAnalyzer::create(language, options.stem, options.stopwords, options.case_sensitive));
  TermIndexOptions index;
  index.head_boundary = options.head_boundary.value_or(kTermDefaultHeadBoundary);
  index.language = analyzer.language();
  index.stem = analyzer.stem();
  index.stopwords = analyzer.stopwords();
  index.fold = analyzer.fold();
  index.block_cap = options.block_cap.value_or(0);
  return TermBuilder(TermVocabulary(std::move(analyzer)), index);
}

Status TermBuilder::add_many(const TermDocs& docs) {
  if (finished_) return Error(ErrorKind::kFinished, std::string(kTermBuilderFinishedMessage));
  collect(docs, &vocab_, &postings_);
  return Status();
}

Status TermBuilder::finish(const std::string& path) {
  if (finished_) return Error(ErrorKind::kFinished, std::string(kTermBuilderFinishedMessage));
  VELLUM_RETURN_IF_ERROR(create_parent_dirs(path));
  VELLUM_ASSIGN_OR_RETURN(FileSink file, FileSink::create(path));
  bool io_failed = false;
  Status written = write(&file, &io_failed);
  // The caller may fix the path and try again: the postings are untouched.
  if (io_failed) return written;
  finished_ = true;
  postings_.clear();
  vocab_.clear();
  return written;
}

Status TermBuilder::write(FileSink* file, bool* io_failed) {
  WatchedSink sink(file);
  const Status encoded = postings_.encode(vocab_, index_options_, &sink);
  Status closed = close_after(encoded, file);
  *io_failed = sink.failed() || (encoded.ok() && !closed.ok());
  return closed;
}

Status write_term_index(const std::string& path, const TermDocs& docs,
                        std::optional<uint32_t> head_boundary) {
  VELLUM_RETURN_IF_ERROR(create_parent_dirs(path));
  VELLUM_ASSIGN_OR_RETURN(FileSink file, FileSink::create(path));
  VELLUM_ASSIGN_OR_RETURN(TermAnalyzer analyzer,
                          TermAnalyzer::create(std::nullopt, std::nullopt, false, false));
  TermVocabulary vocab(std::move(analyzer));
  TermPostingsCollector postings;
  collect(docs, &vocab, &postings);
  TermIndexOptions options;
  options.head_boundary = head_boundary.value_or(kTermDefaultHeadBoundary);
  options.block_cap = vlti::kDefaultBlockCap;
  return close_after(postings.encode(vocab, options, &file), &file);
}

}  // namespace vellum
