// Builds one VLTI term index file from documents fed in batches. Each
// document is analysed into terms as it arrives and its text is dropped,
// so only the postings grow with the corpus.
//
// Open -> finished. finish() writes the file; success, or a failure of
// the index format's own limits, finishes the builder, which then holds
// nothing and refuses add_many and finish ("TermBuilder already
// finished"). A failure to create the directory or the file, or to write
// or close it, finishes nothing: the postings stay, and a later finish to
// a good path writes the bytes a first successful call would have.
#ifndef VELLUM_TERMS_DICT_TERM_BUILDER_H_
#define VELLUM_TERMS_DICT_TERM_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/status.h"
#include "terms_dict/term_docs.h"
#include "terms_dict/term_index_writer.h"
#include "terms_dict/term_postings_collector.h"
#include "terms_dict/term_vocabulary.h"

namespace vellum {

inline constexpr uint32_t kTermDefaultHeadBoundary = 65536;
inline constexpr std::string_view kTermBuilderFinishedMessage = "TermBuilder already finished";

struct TermBuilderOptions {
  std::optional<uint32_t> head_boundary;  // none: 65536; 0 puts every id in the tail
  std::optional<std::string> language;    // UTF-8 as the caller gave it
  std::optional<bool> stem;               // none: true exactly when a language is given
  bool stopwords = false;
  std::optional<uint64_t> block_cap;  // none or 0: the writer's 4096
  bool case_sensitive = false;
};

class TermBuilder {
 public:
  // Fails (kInvalidArgument) on invalid language settings.
  static Result<TermBuilder> create(const TermBuilderOptions& options);

  TermBuilder(TermBuilder&&) noexcept = default;
  TermBuilder& operator=(TermBuilder&&) noexcept = default;

  // Adds every document's terms; kFinished once finished.
  Status add_many(const TermDocs& docs);

  // Distinct terms so far; 0 once finished.
  uint64_t term_count() const { return postings_.term_count(); }

  bool finished() const { return finished_; }

  // Creates the parent directory of `path` when it has one, creates or
  // truncates the file and writes the index to it.
  Status finish(const std::string& path);

 private:
  TermBuilder(TermVocabulary vocab, TermIndexOptions index_options)
      : vocab_(std::move(vocab)), index_options_(index_options) {}

  // Writes and closes; `*io_failed` tells a file failure from a format one.
  Status write(FileSink* file, bool* io_failed);

  TermVocabulary vocab_;
  TermPostingsCollector postings_;
  TermIndexOptions index_options_;
  bool finished_ = false;
};

// Writes the term index of `docs` to `path` in one call, with the default
// analysis (no language, folding) and dict blocks: creates the parent
// directory and the file first, then analyses. `head_boundary` none means
// 65536.
Status write_term_index(const std::string& path, const TermDocs& docs,
                        std::optional<uint32_t> head_boundary);

}  // namespace vellum

#endif  // VELLUM_TERMS_DICT_TERM_BUILDER_H_
