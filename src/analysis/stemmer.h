// Owner of one Snowball stemmer (libstemmer, UTF-8) for an analysis
// language. The library's stemmer keeps per-call state, so calls are
// serialised by a lock inside; a Stemmer may thus be shared by threads.
#ifndef VELLUM_ANALYSIS_STEMMER_H_
#define VELLUM_ANALYSIS_STEMMER_H_

#include <memory>
#include <string>
#include <string_view>

#include "analysis/stem_language.h"
#include "common/status.h"

namespace vellum {

class Stemmer {
 public:
  // Fails (kInvalidArgument) only when the installed library lacks the
  // language's algorithm or cannot allocate it.
  static Result<Stemmer> create(StemLanguage lang);

  Stemmer(Stemmer&&) noexcept;
  Stemmer& operator=(Stemmer&&) noexcept;
  ~Stemmer();

  StemLanguage language() const { return language_; }

  // The Snowball stem of `word`, which must be valid UTF-8. Throws
  // std::bad_alloc when the library runs out of memory, as any allocation
  // would. A word longer than the library's int length limit is returned
  // unchanged.
  std::string stem(std::string_view word) const;

 private:
  struct State;
  Stemmer(StemLanguage lang, std::unique_ptr<State> state);

  StemLanguage language_;
  std::unique_ptr<State> state_;
};

}  // namespace vellum

#endif  // VELLUM_ANALYSIS_STEMMER_H_
