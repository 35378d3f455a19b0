#include "analysis/stemmer.h"

#include <libstemmer.h>

#include <climits>
#include <mutex>
#include <new>
#include <string>

namespace vellum {

struct Stemmer::State {
  explicit State(sb_stemmer* s) : stemmer(s) {}
  ~State() { sb_stemmer_delete(stemmer); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  sb_stemmer* const stemmer;
  std::mutex mu;
};

Result<Stemmer> Stemmer::create(StemLanguage lang) {
  // The language's English name is its Snowball algorithm's name.
  const std::string algorithm(language_name(lang));
  sb_stemmer* s = sb_stemmer_new(algorithm.c_str(), "UTF_8");
  if (s == nullptr) {
    return Error(ErrorKind::kInvalidArgument,
                 "Snowball stemmer \"" + algorithm + "\" is not available");
  }
  return Stemmer(lang, std::make_unique<State>(s));
}

Stemmer::Stemmer(StemLanguage lang, std::unique_ptr<State> state)
    : language_(lang), state_(std::move(state)) {}
Stemmer::Stemmer(Stemmer&&) noexcept = default;
Stemmer& Stemmer::operator=(Stemmer&&) noexcept = default;
Stemmer::~Stemmer() = default;

std::string Stemmer::stem(std::string_view word) const {
  if (word.size() > static_cast<size_t>(INT_MAX)) return std::string(word);
  std::lock_guard<std::mutex> lock(state_->mu);
  const sb_symbol* out =
      sb_stemmer_stem(state_->stemmer, reinterpret_cast<const sb_symbol*>(word.data()),
                      static_cast<int>(word.size()));
  if (out == nullptr) throw std::bad_alloc();
  const int n = sb_stemmer_length(state_->stemmer);
  return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
}

}  // namespace vellum
