#include "lib/tokenize.h"

#include <string>
#include <vector>

#include "analysis/ngram_keys.h"
#include "lib/args.h"
#include "lib/errors.h"
#include "lib/py_ref.h"

namespace vellum::py {

namespace {

PyObject* tokenize(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const kw[] = {"text", "gram_size", nullptr};
    PyObject* a[kMaxParams];
    if (!bind(args, kwargs, "O|O:tokenize", kw, a)) return nullptr;
    std::string text;
    size_t gram_size = 3;
    if (!arg("text", to_str(a[0], &text))) return nullptr;
    if (a[1] && !arg("gram_size", to_size(a[1], &gram_size))) return nullptr;
    std::vector<uint64_t> keys = ngram_keys(text, gram_size, /*fold_case=*/true);
    Ref list(PyList_New(static_cast<Py_ssize_t>(keys.size())));
    if (!list) return nullptr;
    for (size_t i = 0; i < keys.size(); ++i) {
      PyObject* key = PyLong_FromUnsignedLongLong(keys[i]);
      if (key == nullptr) return nullptr;
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), key);  // steals
    }
    return list.release();
  });
}

PyMethodDef kTokenize = {
    "tokenize", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(tokenize)),
    METH_VARARGS | METH_KEYWORDS,
    "tokenize(text, gram_size=3)\n--\n\n"
    "Returns the distinct n-gram keys of text, in order of first occurrence: the keys "
    "a vellum text index is built from and queried with (case-folded)."};

}  // namespace

PyObject* make_tokenize(PyObject* module_name) {
  return PyCFunction_NewEx(&kTokenize, nullptr, module_name);
}

}  // namespace vellum::py
