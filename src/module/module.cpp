// Module entry: creates velmo_opt and registers its classes and functions in their fixed order.
#include "blackbox/admm_binding.hpp"
#include "blackbox/blackbox_types.hpp"
#include "blackbox/moo_binding.hpp"
#include "blackbox/stochastic_binding.hpp"
#include "expr/expr_types.hpp"
#include "modelling/model_type.hpp"
#include "results/persistent_highs.hpp"
#include "results/result.hpp"
#include "solve/solve.hpp"
#include "module/py.hpp"

namespace {

using velmo::py::Ref;

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "velmo_opt", "", -1, nullptr,
                          nullptr, nullptr, nullptr, nullptr};

// Filled at import time (the entries come from other files) and kept for the process.
PyMethodDef module_functions[16];

PyObject* cached_module = nullptr;

PyObject* create_module() {
  using namespace velmo::binding;
  Ref module = Ref::steal(PyModule_Create(&module_def));
  if (!module) return nullptr;
  // Classes first, in registration order; each type object is created once per process.
  struct ClassEntry {
    const char* name;
    PyTypeObject** type;
    PyTypeObject* (*make)();
  };
  const ClassEntry classes[] = {
      {"Model", &model_type, make_model_type},
      {"Var", &var_type, make_var_type},
      {"Expr", &expr_type, make_expr_type},
      {"QuadExpr", &quad_type, make_quad_type},
      {"NlExpr", &nl_type, make_nl_type},
      {"Constraint", &constraint_type, make_constraint_type},
      {"Result", &result_type, make_result_type},
      {"BlackBoxResult", &blackbox_result_type, make_blackbox_result_type},
      {"PersistentHighs", &persistent_highs_type, make_persistent_highs_type},
  };
  for (const ClassEntry& c : classes) {
    if (*c.type == nullptr) *c.type = c.make();
    if (*c.type == nullptr) return nullptr;
    if (PyModule_AddObjectRef(module.get(), c.name, reinterpret_cast<PyObject*>(*c.type)) < 0) return nullptr;
  }
  // Then the functions, in registration order.
  const PyMethodDef* functions[] = {&minimize_def,         &maximize_def,        &sum_def,
                                    &sin_def,              &cos_def,             &sqrt_def,
                                    &solve_de_def,         &solve_pso_def,       &solve_sa_def,
                                    &solve_cmaes_def,      &pareto_frontier_def, &stochastic_solve_def,
                                    &solve_portfolio_def,  &solve_parallel_de_def, &solve_admm_def};
  size_t k = 0;
  for (const PyMethodDef* f : functions) module_functions[k++] = *f;
  module_functions[k] = {nullptr, nullptr, 0, nullptr};
  if (PyModule_AddFunctions(module.get(), module_functions) < 0) return nullptr;
  return module.release();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_velmo_opt() {
  if (cached_module != nullptr) {
    Py_INCREF(cached_module);
    return cached_module;
  }
  PyObject* module = create_module();
  if (module == nullptr) return nullptr;
  Py_INCREF(module);
  cached_module = module;
  return module;
}
