// Builds heap types from lists of type slots (the stable ABI's only way to define a class).
#pragma once

#include "module/py.hpp"

#include <initializer_list>
#include <vector>

namespace velmo::py {

// `name` must be a string literal ("velmo_opt.X"): the type keeps pointing at it. Method and
// getset tables passed as slots must be static for the same reason.
inline PyTypeObject* build_type(const char* name, int basicsize, unsigned int flags,
                                std::initializer_list<PyType_Slot> slots) {
  std::vector<PyType_Slot> all(slots);
  all.push_back({0, nullptr});
  PyType_Spec spec{name, basicsize, 0, flags, all.data()};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

// Our instances are plain (non-GC) heap-type objects: allocation goes through the type's own
// tp_alloc and deallocation must release the type reference the instance holds.
template <class T>
T* alloc_instance(PyTypeObject* type) {
  PyObject* o = PyType_GenericAlloc(type, 0);
  if (o == nullptr) throw ErrorAlreadySet{};
  return reinterpret_cast<T*>(o);
}

inline void free_instance(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_fn(self);
  Py_DECREF(type);
}

// Functions and methods all use the vectorcall convention with keywords.
template <PyObject* (*F)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
constexpr PyCFunction fastcall() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}
constexpr int kFastcallFlags = METH_FASTCALL | METH_KEYWORDS;

}  // namespace velmo::py
