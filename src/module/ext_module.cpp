// Entry of velmo._ext, the velmo package's compiled additions. It shares the core library
// with velmo_opt and makes velmo_opt's own objects: the expression type objects are taken
// from the imported velmo_opt, so each class exists once in the process.
#include "expr/expr_types.hpp"
#include "expr/functions_binding.hpp"
#include "module/py.hpp"

namespace {

using velmo::py::Ref;

PyModuleDef ext_def = {PyModuleDef_HEAD_INIT, "velmo._ext", "", -1, velmo::binding::extension_functions,
                       nullptr, nullptr, nullptr, nullptr};

// This module's copies of the binding's type pointers start empty (its statics are its
// own); they are pointed at velmo_opt's types, held for the life of the process.
bool adopt_types() {
  using namespace velmo::binding;
  Ref opt = Ref::steal(PyImport_ImportModule("velmo_opt"));
  if (!opt) return false;
  struct Entry {
    const char* name;
    PyTypeObject** type;
  };
  const Entry entries[] = {{"Var", &var_type}, {"Expr", &expr_type}, {"QuadExpr", &quad_type},
                           {"NlExpr", &nl_type}, {"Constraint", &constraint_type}};
  for (const Entry& e : entries) {
    PyObject* t = PyObject_GetAttrString(opt.get(), e.name);
    if (t == nullptr) return false;
    if (!PyType_Check(t)) {
      Py_DECREF(t);
      PyErr_Format(PyExc_ImportError, "velmo_opt.%s is not a class", e.name);
      return false;
    }
    if (*e.type == nullptr) {
      *e.type = reinterpret_cast<PyTypeObject*>(t);  // the reference is kept
    } else {
      Py_DECREF(t);
    }
  }
  return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__ext() {
  if (!adopt_types()) return nullptr;
  return PyModule_Create(&ext_def);
}
