// Binding of Result: getters, value/values/basis and the repr.
#include "results/result.hpp"

#include "expr/expr_types.hpp"
#include "expr/number_text.hpp"
#include "module/args.hpp"
#include "module/type_builder.hpp"
#include "results/diagnostics_binding.hpp"
#include "results/ranging_binding.hpp"

#include <new>

namespace velmo::binding {

using py::Ref;

PyTypeObject* result_type = nullptr;

void require_result_model(const ResultRecord& r, PyObject* var, const char* fname) {
  if (reinterpret_cast<PyVar*>(var)->model == r.model) return;
  py::raise(PyExc_ValueError, std::string(fname) +
                                  "(): the variable belongs to another model than the one this result was "
                                  "solved from");
}

ResultRecord record_from(BackendOutcome&& o) {
  ResultRecord r;
  r.status = o.status;
  r.objective = o.objective;
  r.solve_time = o.solve_time;
  r.solver = std::move(o.solver);
  r.iterations = o.iterations;
  r.nodes = o.nodes;
  r.gap = o.gap;
  r.primals = std::move(o.primals);
  r.duals = std::move(o.duals);
  r.basis = std::move(o.basis);
  r.ranging = std::move(o.ranging);
  return r;
}

Ref new_result(ResultRecord&& record) {
  PyResult* o = py::alloc_instance<PyResult>(result_type);
  new (&o->record) ResultRecord(std::move(record));
  return Ref::steal(reinterpret_cast<PyObject*>(o));
}

namespace {

const ResultRecord& rec(PyObject* self) { return reinterpret_cast<PyResult*>(self)->record; }

[[noreturn]] void no_solution() { py::raise(PyExc_ValueError, "No solution available"); }

PyObject* optional_float(const std::optional<double>& v) {
  return v ? py::float_obj(*v).release() : py::new_none();
}
PyObject* optional_count(const std::optional<uint64_t>& v) {
  return v ? py::check(PyLong_FromUnsignedLongLong(*v)).release() : py::new_none();
}
void result_dealloc(PyObject* self) {
  reinterpret_cast<PyResult*>(self)->record.~ResultRecord();
  py::free_instance(self);
}

PyObject* result_repr(PyObject* self) {
  return py::guard([&] {
    const ResultRecord& r = rec(self);
    std::string s = "SolveResult(status=";
    s += status_text(r.status);
    if (r.objective) {
      s += ", objective=";
      append_fixed(s, *r.objective, 6);
    }
    s += ", solver=" + r.solver + ", time=";
    append_fixed(s, r.solve_time, 3);
    s += "s)";
    return py::str(s).release();
  });
}

PyObject* get_status(PyObject* self, void*) {
  return py::guard([&] { return py::str(status_text(rec(self).status)).release(); });
}
PyObject* get_objective(PyObject* self, void*) {
  return py::guard([&] { return optional_float(rec(self).objective); });
}
PyObject* get_solve_time(PyObject* self, void*) {
  return py::guard([&] { return py::float_obj(rec(self).solve_time).release(); });
}
PyObject* get_solver(PyObject* self, void*) {
  return py::guard([&] { return py::str(rec(self).solver).release(); });
}
PyObject* get_iterations(PyObject* self, void*) {
  return py::guard([&] { return optional_count(rec(self).iterations); });
}
PyObject* get_nodes(PyObject* self, void*) {
  return py::guard([&] { return optional_count(rec(self).nodes); });
}
PyObject* get_gap(PyObject* self, void*) {
  return py::guard([&] { return optional_float(rec(self).gap); });
}
PyObject* get_is_optimal(PyObject* self, void*) {
  return py::guard([&] { return py::bool_obj(rec(self).status == SolveStatus::Optimal).release(); });
}
PyObject* get_primals(PyObject* self, void*) {
  return py::guard([&] {
    if (!rec(self).primals) no_solution();
    return py::float_list(*rec(self).primals).release();
  });
}
PyObject* get_var_names(PyObject* self, void*) {
  return py::guard([&] {
    const ResultRecord& r = rec(self);
    Ref list = py::check(PyList_New(static_cast<Py_ssize_t>(r.num_var_names())));
    for (size_t i = 0; i < r.num_var_names(); ++i) {
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), py::str(r.var_name(i)).release());
    }
    return list.release();
  });
}
PyObject* get_duals(PyObject* self, void*) {
  return py::guard([&] { return rec(self).duals ? py::float_list(*rec(self).duals).release() : py::new_none(); });
}

PyObject* r_value(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("value", {"var"}, 1, args, nargs, kwnames);
    if (Py_TYPE(a[0]) != var_type) py::raise_wrong_type(a[0], "value", "var", "Var");
    const auto& primals = rec(self).primals;
    if (!primals) no_solution();
    require_result_model(rec(self), a[0], "value");
    const uint32_t index = reinterpret_cast<PyVar*>(a[0])->index;
    if (index >= primals->size()) no_solution();
    return py::float_obj((*primals)[index]).release();
  });
}

PyObject* r_values(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("values", {}, 0, args, nargs, kwnames);
    const ResultRecord& r = rec(self);
    if (!r.primals) no_solution();
    Ref dict = py::check(PyDict_New());
    const size_t n = std::min(r.num_var_names(), r.primals->size());
    for (size_t i = 0; i < n; ++i) {
      Ref key = py::str(r.var_name(i));
      Ref value = py::float_obj((*r.primals)[i]);
      py::check_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
    }
    return dict.release();
  });
}

PyObject* r_basis(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("basis", {}, 0, args, nargs, kwnames);
    const Ref& b = rec(self).basis;
    return b ? b.copy().release() : py::new_none();
  });
}

PyMethodDef result_methods[] = {
    {"value", py::fastcall<r_value>(), py::kFastcallFlags,
     "value($self, var)\n--\n\nGet the value of a variable by its Var reference."},
    {"values", py::fastcall<r_values>(), py::kFastcallFlags,
     "values($self)\n--\n\nGet all variable values as a dict {name: value}."},
    {"basis", py::fastcall<r_basis>(), py::kFastcallFlags,
     "basis($self)\n--\n\nBasis object for LP hot-start (HiGHS only)."},
    {"infeasibility_report", py::fastcall<result_infeasibility_report>(), py::kFastcallFlags,
     "infeasibility_report($self)\n--\n\nCompute the Irreducible Infeasible Subsystem.\n"
     "Only meaningful when status is \"infeasible\".\n"
     "Calls HiGHS: to check member by member the subsystem that bound propagation finds, and to\n"
     "find one when propagation finds none (its IIS of the linear relaxation, or MIP runs capped\n"
     "at 2 s each and 20 s in all when only the integer model is infeasible)."},
    {"sensitivity", py::fastcall<result_sensitivity>(), py::kFastcallFlags,
     "sensitivity($self)\n--\n\nGet sensitivity analysis: shadow prices, active constraints, bound status."},
    {"why", py::fastcall<result_why>(), py::kFastcallFlags,
     "why($self, var)\n--\n\nExplain why a variable has its current value at the optimum."},
    {"why_detail", py::fastcall<result_why_detail>(), py::kFastcallFlags,
     "why_detail($self, var)\n--\n\nGet detailed \"why\" report as a dict."},
    {"ranging", py::fastcall<result_ranging>(), py::kFastcallFlags, kRangingDoc},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef result_getset[] = {
    {"status", get_status, nullptr, "Solution status as a string.", nullptr},
    {"objective", get_objective, nullptr, "Objective value (None if no solution).", nullptr},
    {"solve_time", get_solve_time, nullptr, "Solve time in seconds.", nullptr},
    {"solver", get_solver, nullptr, "Solver used.", nullptr},
    {"iterations", get_iterations, nullptr, "Number of simplex/barrier iterations.", nullptr},
    {"nodes", get_nodes, nullptr, "Number of B&B nodes explored (MIP only).", nullptr},
    {"gap", get_gap, nullptr, "MIP gap (MIP only).", nullptr},
    {"is_optimal", get_is_optimal, nullptr, "Whether the solve found an optimal solution.", nullptr},
    {"primals", get_primals, nullptr, "Raw primal values as a flat list, indexed by variable creation order.", nullptr},
    {"var_names_list", get_var_names, nullptr, "Variable names in creation order (matches primals indexing).", nullptr},
    {"duals", get_duals, nullptr, "Dual values (shadow prices) as a list.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

void* fn(auto f) { return reinterpret_cast<void*>(f); }

}  // namespace

PyTypeObject* make_result_type() {
  return py::build_type("velmo_opt.Result", sizeof(PyResult),
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                        {{Py_tp_doc, const_cast<char*>("The solve result returned to Python.")},
                         {Py_tp_dealloc, fn(result_dealloc)},
                         {Py_tp_repr, fn(result_repr)},
                         {Py_tp_methods, result_methods},
                         {Py_tp_getset, result_getset}});
}

}  // namespace velmo::binding
