#include "lib/tokenize.h"

#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "lib/binding.h"

namespace vellum::py {

namespace {

constexpr Callable kTokenize{
    "tokenize",
    {{"text"}, {"gram_size", "3"}},
    "Returns the distinct n-gram keys of text, in order of first occurrence: the keys "
    "a vellum text index is built from and queried with (case-folded)."};
std::vector<uint64_t> tokenize(std::string text, uint64_t gram_size) {
  return ngram_keys(text, gram_size, /*fold_case=*/true);
}

}  // namespace

PyObject* make_tokenize(PyObject* module_name) {
  static PyMethodDef def = function<kTokenize, tokenize>();
  return make_function(&def, module_name);
}

}  // namespace vellum::py
