// Declarative bindings for every class, method and function of the module.
//
// A callable is one constant description, a Callable: its name, its
// parameters with their default literals, its docstring text and (for
// methods) its borrow mode, plus a C++ body whose parameters are the
// converted arguments. The keyword list, the parse format and the text
// signature are all derived from the one description, so they cannot
// disagree; a static_assert ties the parameter count to the body.
//
//   constexpr Callable kAdd{"add", {{"rank"}, {"text"}, {"facets", "None"}},
//                           "Stages one record.", Borrow::kExclusive};
//   Status add(Builder& b, int64_t rank, std::string text,
//              std::optional<FacetList> facets);
//   ... method<BuilderClass, kAdd, add>() ...
//
// Arguments convert in parameter order through Arg<T> (lib/args.h); the
// first failure ends the call before the body runs. Results convert
// through to_py (lib/to_py.h). Every entry point runs under guarded().
#ifndef VELLUM_LIB_BINDING_H_
#define VELLUM_LIB_BINDING_H_

#include <cstddef>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "lib/args.h"
#include "lib/borrow.h"
#include "lib/errors.h"
#include "lib/py_ref.h"
#include "lib/python.h"
#include "lib/to_py.h"

namespace vellum::py {

struct Param {
  const char* name = nullptr;
  // The Python literal shown in the signature and converted when the
  // argument is omitted: None, True, False, an integer or a double-quoted
  // string without escapes. nullptr marks a required parameter.
  const char* default_literal = nullptr;
};

struct Callable {
  const char* name;  // for a constructor, the class name
  Param params[kMaxParams];
  const char* doc;  // the text after the signature lines
  Borrow::Mode mode = Borrow::kShared;
};

constexpr size_t param_count(const Callable& c) {
  size_t n = 0;
  while (n < kMaxParams && c.params[n].name != nullptr) ++n;
  return n;
}

// Required parameters first, as Python requires.
constexpr bool defaults_last(const Callable& c) {
  bool seen_default = false;
  for (size_t i = 0; i < param_count(c); ++i) {
    if (c.params[i].default_literal != nullptr) {
      seen_default = true;
    } else if (seen_default) {
      return false;
    }
  }
  return true;
}

enum class Receiver { kNone, kSelf };

// What bind() and introspection need, computed once per callable.
struct Derived {
  std::string format;  // e.g. "OOO|O:Builder.add"
  const char* keywords[kMaxParams + 1] = {};
  std::string doc;  // e.g. "add($self, rank, text, record, facets=None)\n--\n\n..."
};

Derived derive(const char* owner, const Callable& c, Receiver receiver);

// A new reference to the value of a default literal.
PyObject* default_object(const char* literal);

// Frees a module object and drops its reference to its heap type.
void free_object(PyObject* self);

namespace detail {

template <typename T>
bool convert_param(const Param& p, PyObject* o, T* out) {
  Ref fallback;
  if (o == nullptr) {
    fallback = Ref(default_object(p.default_literal));
    if (!fallback) return false;
    o = fallback.get();
  }
  return arg(p.name, Arg<T>::convert(o, out));
}

template <typename Tuple, size_t... I>
bool convert_all(const Callable& c, PyObject* const* a, Tuple& values,
                 std::index_sequence<I...>) {
  return (convert_param(c.params[I], a[I], &std::get<I>(values)) && ...);
}

// Converts the bound arguments into a Tuple of parameter values and hands
// them to `invoke`, which returns the Python result.
template <typename Tuple, typename Invoke>
PyObject* convert_and_apply(const Callable& c, PyObject* const* a, Invoke&& invoke) {
  Tuple values;
  if (!convert_all(c, a, values, std::make_index_sequence<std::tuple_size_v<Tuple>>{})) {
    return nullptr;
  }
  return std::apply(invoke, std::move(values));
}

// The Python result of a body's call: None for void, else to_py.
template <typename Call>
PyObject* call_to_py(Call&& call) {
  if constexpr (std::is_void_v<decltype(call())>) {
    call();
    Py_RETURN_NONE;
  } else {
    return to_py(call());
  }
}

// Parameter types of a body; a method body's first parameter is the core.
template <typename F>
struct FreeSignature;
template <typename R, typename... A>
struct FreeSignature<R (*)(A...)> {
  using Args = std::tuple<std::decay_t<A>...>;
  static constexpr size_t kArity = sizeof...(A);
};

template <typename F>
struct MethodSignature;
template <typename R, typename Core, typename... A>
struct MethodSignature<R (*)(Core&, A...)> {
  using Args = std::tuple<std::decay_t<A>...>;
  static constexpr size_t kArity = sizeof...(A);
};

// Owner of module functions and constructors: messages name only the
// callable itself.
struct Unqualified {
  static constexpr const char* kName = nullptr;
};

template <const Callable& C, Receiver kReceiver, typename Owner>
const Derived& derived() {
  static const Derived d = derive(Owner::kName, C, kReceiver);
  return d;
}

template <const Callable& C, Receiver kReceiver, typename Owner>
bool bind_args(PyObject* args, PyObject* kwargs, PyObject* (&a)[kMaxParams]) {
  const Derived& d = derived<C, kReceiver, Owner>();
  return bind(args, kwargs, d.format.c_str(), d.keywords, a);
}

template <typename Fn>
PyCFunction as_cfunction(Fn fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

template <typename Signature, const Callable& C>
constexpr bool matches() {
  static_assert(Signature::kArity == param_count(C), "parameters and body disagree");
  static_assert(defaults_last(C), "required parameters must come first");
  return true;
}

}  // namespace detail

// The Python object of a class whose native state is a Core.
template <typename Core>
struct Object {
  PyObject_HEAD
  Core* core;
  BorrowFlag borrow;
};

// A class binding names its core type and its Python name:
//   struct BuilderClass { using Core = Builder; static constexpr const char* kName = "Builder"; };
template <typename Class>
struct ClassType {
  using Core = typename Class::Core;
  // Set once, when the module creates the class; static methods allocate
  // instances through it.
  static inline PyTypeObject* type = nullptr;

  static Object<Core>* self_of(PyObject* o) { return reinterpret_cast<Object<Core>*>(o); }

  // A new instance owning `core`.
  static PyObject* wrap(PyTypeObject* t, Core&& core) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(t, Py_tp_alloc));
    PyObject* obj = alloc(t, 0);
    if (obj == nullptr) return nullptr;
    self_of(obj)->borrow = 0;
    self_of(obj)->core = new Core(std::move(core));
    return obj;
  }

  static PyObject* wrap(PyTypeObject* t, Result<Core>&& core) {
    if (!core.ok()) return raise(core.error());
    return wrap(t, std::move(core).value());
  }

  static void dealloc(PyObject* self) {
    delete self_of(self)->core;
    free_object(self);
  }
};

// A method of Class: `Body` takes `Core&`, then the converted arguments.
template <typename Class, const Callable& C, auto Body>
PyMethodDef method() {
  using Sig = detail::MethodSignature<decltype(Body)>;
  static_assert(detail::matches<Sig, C>());
  auto entry = [](PyObject* self, PyObject* args, PyObject* kwargs) -> PyObject* {
    return guarded([&]() -> PyObject* {
      auto* obj = ClassType<Class>::self_of(self);
      Borrow borrow(obj->borrow, C.mode);
      if (!borrow.ok()) return nullptr;
      PyObject* a[kMaxParams];
      if (!detail::bind_args<C, Receiver::kSelf, Class>(args, kwargs, a)) return nullptr;
      return detail::convert_and_apply<typename Sig::Args>(C, a, [&](auto&&... v) {
        return detail::call_to_py([&] { return Body(*obj->core, std::move(v)...); });
      });
    });
  };
  return {C.name, detail::as_cfunction(+entry), METH_VARARGS | METH_KEYWORDS,
          detail::derived<C, Receiver::kSelf, Class>().doc.c_str()};
}

// A static method of Class whose body returns a Core (or a Result<Core>),
// which becomes a new instance.
template <typename Class, const Callable& C, auto Body>
PyMethodDef static_method() {
  using Sig = detail::FreeSignature<decltype(Body)>;
  static_assert(detail::matches<Sig, C>());
  auto entry = [](PyObject*, PyObject* args, PyObject* kwargs) -> PyObject* {
    return guarded([&]() -> PyObject* {
      PyObject* a[kMaxParams];
      if (!detail::bind_args<C, Receiver::kNone, Class>(args, kwargs, a)) return nullptr;
      return detail::convert_and_apply<typename Sig::Args>(C, a, [&](auto&&... v) {
        return ClassType<Class>::wrap(ClassType<Class>::type, Body(std::move(v)...));
      });
    });
  };
  return {C.name, detail::as_cfunction(+entry), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
          detail::derived<C, Receiver::kNone, Class>().doc.c_str()};
}

// A module-level function.
template <const Callable& C, auto Body>
PyMethodDef function() {
  using Sig = detail::FreeSignature<decltype(Body)>;
  static_assert(detail::matches<Sig, C>());
  auto entry = [](PyObject*, PyObject* args, PyObject* kwargs) -> PyObject* {
    return guarded([&]() -> PyObject* {
      PyObject* a[kMaxParams];
      if (!detail::bind_args<C, Receiver::kNone, detail::Unqualified>(args, kwargs, a)) {
        return nullptr;
      }
      return detail::convert_and_apply<typename Sig::Args>(C, a, [&](auto&&... v) {
        return detail::call_to_py([&] { return Body(std::move(v)...); });
      });
    });
  };
  return {C.name, detail::as_cfunction(+entry), METH_VARARGS | METH_KEYWORDS,
          detail::derived<C, Receiver::kNone, detail::Unqualified>().doc.c_str()};
}

// A module-level function object for `def`, which must outlive it.
PyObject* make_function(PyMethodDef* def, PyObject* module_name);

// Creates the class: `Make` is the constructor body (returning a Core or a
// Result<Core>), `Ctor` its description (its name is the class name, its
// doc the class doc); `methods` ends with kEndOfMethods and must outlive
// the class.
template <typename Class, const Callable& Ctor, auto Make>
PyObject* make_class(PyMethodDef* methods) {
  using Sig = detail::FreeSignature<decltype(Make)>;
  static_assert(detail::matches<Sig, Ctor>());
  auto tp_new = [](PyTypeObject* type, PyObject* args, PyObject* kwargs) -> PyObject* {
    return guarded([&]() -> PyObject* {
      PyObject* a[kMaxParams];
      if (!detail::bind_args<Ctor, Receiver::kNone, detail::Unqualified>(args, kwargs, a)) {
        return nullptr;
      }
      return detail::convert_and_apply<typename Sig::Args>(Ctor, a, [&](auto&&... v) {
        return ClassType<Class>::wrap(type, Make(std::move(v)...));
      });
    });
  };
  static const std::string qualified = std::string("vellum.") + Ctor.name;
  const Derived& d = detail::derived<Ctor, Receiver::kNone, detail::Unqualified>();
  PyType_Slot slots[] = {
      {Py_tp_doc, const_cast<char*>(d.doc.c_str())},
      {Py_tp_new, reinterpret_cast<void*>(+tp_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&ClassType<Class>::dealloc)},
      {Py_tp_methods, methods},
      {0, nullptr},
  };
  PyType_Spec spec = {qualified.c_str(), sizeof(Object<typename Class::Core>), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  PyObject* type = PyType_FromSpec(&spec);
  if (type != nullptr) ClassType<Class>::type = reinterpret_cast<PyTypeObject*>(type);
  return type;
}

constexpr PyMethodDef kEndOfMethods = {nullptr, nullptr, 0, nullptr};

}  // namespace vellum::py

#endif  // VELLUM_LIB_BINDING_H_
