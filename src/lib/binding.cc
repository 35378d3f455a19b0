#include "lib/binding.h"

#include <cstring>

namespace vellum::py {

Derived derive(const char* owner, const Callable& c, Receiver receiver) {
  Derived d;
  std::string signature = c.name;
  signature += receiver == Receiver::kSelf ? "($self" : "(";
  bool optional = false;
  for (size_t i = 0; i < param_count(c); ++i) {
    const Param& p = c.params[i];
    if (p.default_literal != nullptr && !optional) {
      d.format += '|';
      optional = true;
    }
    d.format += 'O';
    d.keywords[i] = p.name;
    if (i > 0 || receiver == Receiver::kSelf) signature += ", ";
    signature += p.name;
    if (p.default_literal != nullptr) {
      signature += '=';
      signature += p.default_literal;
    }
  }
  d.format += ':';
  if (owner != nullptr) {
    d.format += owner;
    d.format += '.';
  }
  d.format += c.name;
  d.doc = signature + ")\n--\n\n" + c.doc;
  return d;
}

PyObject* default_object(const char* literal) {
  if (std::strcmp(literal, "None") == 0) Py_RETURN_NONE;
  if (std::strcmp(literal, "True") == 0) Py_RETURN_TRUE;
  if (std::strcmp(literal, "False") == 0) Py_RETURN_FALSE;
  const size_t n = std::strlen(literal);
  if (n >= 2 && literal[0] == '"') {
    return PyUnicode_FromStringAndSize(literal + 1, static_cast<Py_ssize_t>(n - 2));
  }
  return PyLong_FromString(literal, nullptr, 0);
}

void free_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

PyObject* make_function(PyMethodDef* def, PyObject* module_name) {
  return PyCFunction_NewEx(def, nullptr, module_name);
}

}  // namespace vellum::py
