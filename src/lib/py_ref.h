// Owning reference to a Python object, released on scope exit.
#ifndef VELLUM_LIB_PY_REF_H_
#define VELLUM_LIB_PY_REF_H_

#include "lib/python.h"

namespace vellum::py {

class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* owned) : p_(owned) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = o.p_;
      o.p_ = nullptr;
    }
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace vellum::py

#endif  // VELLUM_LIB_PY_REF_H_
