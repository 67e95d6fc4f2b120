// Binding of the diagnostics: Model.validate and the Result methods that explain a solve.
// The findings are computed first (under the model's lock for validate) and only then turned
// into Python objects.
#include "results/diagnostics_binding.hpp"

#include "expr/expr_types.hpp"
#include "modelling/model_type.hpp"
#include "module/args.hpp"
#include "results/diagnostics.hpp"
#include "results/exact_iis_binding.hpp"
#include "results/result.hpp"

namespace velmo::binding {

using py::Ref;
namespace dx = velmo::diagnostics;

namespace {

const char* const kNoModelData = "No model data stored \u2014 use Model.solve() for diagnostics";

const ResultRecord& rec(PyObject* self) { return reinterpret_cast<PyResult*>(self)->record; }

Ref size_obj(size_t v) { return py::check(PyLong_FromSize_t(v)); }

void set(PyObject* dict, const char* key, Ref value) {
  py::check_status(PyDict_SetItemString(dict, key, value.get()));
}

// A new list with one item made by `make` per element.
template <class T, class F>
Ref list_from(const std::vector<T>& items, F make) {
  Ref list = py::check(PyList_New(static_cast<Py_ssize_t>(items.size())));
  for (size_t i = 0; i < items.size(); ++i) {
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), make(items[i]).release());
  }
  return list;
}

// The items are owned until the tuple takes them, so a failure on the way leaks nothing.
template <class... R>
Ref tuple_of(R... items) {
  Ref t = py::check(PyTuple_New(sizeof...(items)));
  Py_ssize_t k = 0;
  (PyTuple_SetItem(t.get(), k++, items.release()), ...);
  return t;
}

Ref labelled_list(const std::vector<dx::Labelled>& items) {
  return list_from(items, [](const dx::Labelled& e) {
    return tuple_of(size_obj(e.first), py::str(e.second));
  });
}

Ref price_list(const std::vector<dx::ShadowPrice>& items) {
  return list_from(items, [](const dx::ShadowPrice& e) {
    return tuple_of(size_obj(e.position), py::str(e.label), py::float_obj(e.dual));
  });
}

// The variable a Var argument names, checked against this Result's own tables.
uint32_t var_index(const ResultRecord& r, PyObject* var, const char* fname) {
  if (Py_TYPE(var) != var_type) py::raise_wrong_type(var, fname, "var", "Var");
  require_result_model(r, var, fname);
  const uint32_t index = reinterpret_cast<PyVar*>(var)->index;
  const size_t size = std::min(r.variables.size(), r.primals ? r.primals->size() : 0);
  if (index >= size) {
    py::raise(PyExc_ValueError, "variable index " + std::to_string(index) + " is outside this result's " +
                                    std::to_string(size) + " variables (a Var of another model?)");
  }
  return index;
}

}  // namespace

PyObject* model_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("validate", {}, 0, args, nargs, kwnames);
    std::vector<dx::Finding> findings;
    {
      ModelLock lock(reinterpret_cast<PyModel*>(self)->core);
      findings = dx::validate(lock.data().variables, lock.data().linear_constraints);
    }
    return list_from(findings, [](const dx::Finding& f) {
             Ref d = py::check(PyDict_New());
             set(d.get(), "severity", py::str(dx::severity_text(f.level)));
             set(d.get(), "category", py::str(f.category));
             set(d.get(), "message", py::str(f.message));
             return d;
           }).release();
  });
}

PyObject* result_infeasibility_report(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("infeasibility_report", {}, 0, args, nargs, kwnames);
    const ResultRecord& r = rec(self);
    if (r.constraints.empty()) py::raise(PyExc_ValueError, kNoModelData);
    dx::Subsystem found = dx::infeasible_subsystem(r.constraints, r.variables);
    // Propagation's answer, confirmed on HiGHS, when it has one; otherwise HiGHS looks for
    // the conflict.
    const dx::ExactReport exact =
        found.indices.empty() ? exact_subsystem(r) : confirmed_subsystem(r, std::move(found));
    const dx::Subsystem& s = exact.subsystem;
    Ref d = py::check(PyDict_New());
    auto text = [](const std::string& t) { return py::str(t); };
    set(d.get(), "constraint_indices", list_from(s.indices, size_obj));
    set(d.get(), "constraint_names", list_from(s.names, text));
    set(d.get(), "explanation", py::str(s.explanation));
    set(d.get(), "suggestions", list_from(s.suggestions, text));
    set(d.get(), "num_constraints", size_obj(s.indices.size()));
    set(d.get(), "bounds", list_from(exact.bounds, text));
    return d.release();
  });
}

PyObject* result_sensitivity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("sensitivity", {}, 0, args, nargs, kwnames);
    const ResultRecord& r = rec(self);
    const dx::Sensitivity s = dx::sensitivity(r.constraints, r.variables, r.primals ? &*r.primals : nullptr,
                                              r.duals ? &*r.duals : nullptr, r.dual_rows);
    Ref d = py::check(PyDict_New());
    set(d.get(), "shadow_prices", price_list(s.shadow_prices));
    set(d.get(), "most_impactful", price_list(s.most_impactful));
    set(d.get(), "active_constraints", labelled_list(s.active));
    // Four status texts shared by every entry, made once.
    Ref texts[4];
    for (int k = 0; k < 4; ++k) texts[k] = py::str(dx::bound_status_text(static_cast<dx::BoundStatus>(k)));
    set(d.get(), "variable_bounds", list_from(s.bounds, [&](const std::pair<std::string, dx::BoundStatus>& b) {
          return tuple_of(py::str(b.first), texts[static_cast<int>(b.second)].copy());
        }));
    return d.release();
  });
}

PyObject* result_why(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("why", {"var"}, 1, args, nargs, kwnames);
    const ResultRecord& r = rec(self);
    if (Py_TYPE(a[0]) != var_type) py::raise_wrong_type(a[0], "why", "var", "Var");
    if (!r.primals) py::raise(PyExc_ValueError, "No solution available");
    if (r.constraints.empty()) py::raise(PyExc_ValueError, kNoModelData);
    const uint32_t index = var_index(r, a[0], "why");
    return py::str(dx::explain(r.constraints, r.variables, *r.primals, index).sentence).release();
  });
}

PyObject* result_why_detail(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("why_detail", {"var"}, 1, args, nargs, kwnames);
    const ResultRecord& r = rec(self);
    if (Py_TYPE(a[0]) != var_type) py::raise_wrong_type(a[0], "why_detail", "var", "Var");
    if (!r.primals) py::raise(PyExc_ValueError, "No solution available");
    const uint32_t index = var_index(r, a[0], "why_detail");
    const dx::Why w = dx::explain(r.constraints, r.variables, *r.primals, index);
    Ref d = py::check(PyDict_New());
    set(d.get(), "variable", py::str(w.variable));
    set(d.get(), "value", py::float_obj(w.value));
    set(d.get(), "bound_status", py::str(dx::bound_status_text(w.status)));
    set(d.get(), "explanation", py::str(w.sentence));
    set(d.get(), "binding_constraints", labelled_list(w.binding));
    return d.release();
  });
}

}  // namespace velmo::binding
