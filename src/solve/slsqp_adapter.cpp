// SLSQP adapter: start point, bounds, one linear constraint, the objective as a lambda over
// the compiled cost vector and Hessian, then scipy.optimize.minimize and the outcome.
#include "solve/slsqp_adapter.hpp"

#include "solve/arrays.hpp"

#include <cmath>
#include <limits>

namespace velmo {

using py::Ref;
using namespace pycall;

namespace {

Ref objective_function(PyObject* numpy, PyObject* sparse, const CompiledModel& c) {
  Ref scope = py::check(PyDict_New());
  // Python 3.9 does not add the builtins to a bare globals dict.
  py::check_status(PyDict_SetItemString(scope.get(), "__builtins__", PyEval_GetBuiltins()));
  py::check_status(PyDict_SetItemString(scope.get(), "q", numpy_array(numpy, c.col_cost).get()));
  const char* text = "lambda x: q @ x";
  if (c.hessian) {
    const Csc p = symmetric_hessian(*c.hessian, c.num_cols);
    Ref matrix = csc_matrix(sparse, numpy, p.value, p.index, p.start, c.num_cols, c.num_cols);
    py::check_status(PyDict_SetItemString(scope.get(), "P", matrix.get()));
    py::check_status(PyDict_SetItemString(scope.get(), "np", numpy));
    text = "lambda x: 0.5 * x @ P @ x + q @ x";
  }
  Ref code = py::check(Py_CompileString(text, "<velmo objective>", Py_eval_input));
  return py::check(PyEval_EvalCode(code.get(), scope.get(), scope.get()));
}

// The rows whose bounds are (or are not) equal, as one LinearConstraint: SciPy handles each
// kind on its own and warns when one constraint mixes them.
Ref linear_constraint(PyObject* optimize, PyObject* sparse, PyObject* numpy, const CompiledModel& c, bool equal) {
  std::vector<uint32_t> place(c.num_rows, UINT32_MAX);
  std::vector<double> lower, upper;
  for (size_t i = 0; i < c.num_rows; ++i) {
    if ((c.row_lower[i] == c.row_upper[i]) != equal) continue;
    // A row bounded on neither side always holds; SciPy drops it with a warning and then
    // fails on the emptied constraint, so it is left out here.
    if (!std::isfinite(c.row_lower[i]) && !std::isfinite(c.row_upper[i])) continue;
    place[i] = static_cast<uint32_t>(lower.size());
    lower.push_back(c.row_lower[i]);
    upper.push_back(c.row_upper[i]);
  }
  if (lower.empty()) return Ref();
  std::vector<Entry> entries;
  for (size_t j = 0; j < c.num_cols; ++j) {
    for (int32_t k = c.a_start[j]; k < c.a_start[j + 1]; ++k) {
      const uint32_t row = place[static_cast<size_t>(c.a_index[static_cast<size_t>(k)])];
      if (row != UINT32_MAX) entries.push_back({row, static_cast<uint32_t>(j), c.a_value[static_cast<size_t>(k)]});
    }
  }
  const Csc a = csc_from_entries(entries, lower.size(), c.num_cols);
  Ref matrix = csc_matrix(sparse, numpy, a.value, a.index, a.start, lower.size(), c.num_cols);
  return call_method(optimize, "LinearConstraint", matrix.get(), numpy_array(numpy, lower).get(),
                     numpy_array(numpy, upper).get());
}

void put(PyObject* dict, const char* key, PyObject* value) {
  py::check_status(PyDict_SetItemString(dict, key, value));
}

}  // namespace

BackendOutcome solve_slsqp(const CompiledModel& c, const SolveOptions&, std::optional<int64_t> maxiter) {
  GilEnsure gil;
  Ref time = import("time");
  const double t0 = perf_counter(time.get());
  Ref optimize = import("scipy.optimize");
  Ref numpy = import("numpy");
  const size_t n = c.num_cols;
  constexpr double inf = std::numeric_limits<double>::infinity();

  std::vector<double> x0(n), lower(n), upper(n);
  for (size_t j = 0; j < n; ++j) {
    const double lo = std::isfinite(c.col_lower[j]) ? c.col_lower[j] : 0.0;
    const double hi = std::isfinite(c.col_upper[j]) ? c.col_upper[j] : lo + 1;
    x0[j] = (lo + hi) * 0.5;
    lower[j] = std::isfinite(c.col_lower[j]) ? c.col_lower[j] : -inf;
    upper[j] = std::isfinite(c.col_upper[j]) ? c.col_upper[j] : inf;
  }
  Ref start = numpy_array(numpy.get(), x0);
  // One Bounds object of two arrays holds what a list of (lower, upper) pairs would.
  Ref bounds = call_method(optimize.get(), "Bounds", numpy_array(numpy.get(), lower).get(),
                           numpy_array(numpy.get(), upper).get());
  Ref sparse;
  Ref constraints = py::check(PyList_New(0));
  if (c.num_rows > 0) {
    sparse = import("scipy.sparse");
    for (bool equal : {true, false}) {
      Ref rows = linear_constraint(optimize.get(), sparse.get(), numpy.get(), c, equal);
      if (rows) py::check_status(PyList_Append(constraints.get(), rows.get()));
    }
  }
  if (c.hessian && !sparse) sparse = import("scipy.sparse");
  Ref fun = objective_function(numpy.get(), sparse.get(), c);

  Ref kw = py::check(PyDict_New());
  put(kw.get(), "method", py::str("SLSQP").get());
  put(kw.get(), "bounds", bounds.get());
  if (PyList_Size(constraints.get()) > 0) put(kw.get(), "constraints", constraints.get());
  if (maxiter) {
    Ref options = py::check(PyDict_New());
    put(options.get(), "maxiter", ints(*maxiter).get());
    put(kw.get(), "options", options.get());
  }
  Ref args = py::check(PyTuple_Pack(2, fun.get(), start.get()));
  Ref minimize = attr(optimize.get(), "minimize");
  Ref res = py::check(PyObject_Call(minimize.get(), args.get(), kw.get()));
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = "SciPy/SLSQP";
  out.solve_time = t1 - t0;
  Ref success = attr(res.get(), "success");
  if (!PyBool_Check(success.get())) {
    py::raise(PyExc_TypeError, "SciPy result: 'success' must be bool, not " + py::type_name(success.get()));
  }
  out.status = success.get() == Py_True ? SolveStatus::Optimal : SolveStatus::Unknown;
  out.primals = array_doubles(numpy.get(), attr(res.get(), "x").get());
  out.objective = model_objective(to_double(attr(res.get(), "fun").get()), c.obj_offset, c.maximize);
  // SciPy leaves `nit` out when every variable is fixed by its bounds.
  Ref iter = Ref::steal(PyObject_GetAttrString(res.get(), "nit"));
  if (!iter) PyErr_Clear();
  out.iterations = to_count(iter.get()).value_or(0);
  return out;
}

}  // namespace velmo
