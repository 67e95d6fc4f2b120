// OSQP adapter: status map, then the call sequence on osqp.OSQP, then the outcome.
#include "solve/osqp_adapter.hpp"

#include "module/args.hpp"
#include "solve/arrays.hpp"
#include "solve/sparse.hpp"

#include <limits>

namespace velmo {

using py::Ref;
using namespace pycall;

SolveStatus map_osqp_status(std::string_view s) noexcept {
  auto has = [s](std::string_view w) { return s.find(w) != std::string_view::npos; };
  // "unsolved" holds the word "solved" but means no solution was computed.
  if (has("unsolved")) return SolveStatus::Unknown;
  if (has("solved")) return SolveStatus::Optimal;
  if (has("infeasible")) return SolveStatus::Infeasible;
  if (has("time_limit")) return SolveStatus::TimeLimit;
  if (has("maximum iterations")) return SolveStatus::TimeLimit;
  return SolveStatus::Unknown;
}

namespace {

// osqp 1.x warns when solve() is called without `raise_error` and is announced to start
// raising on every unsolved status; asking for the status object keeps both away. Older
// releases do not know the keyword.
Ref run_solve(PyObject* solver) {
  Ref method = attr(solver, "solve");
  Ref kwargs = py::check(PyDict_New());
  py::check_status(PyDict_SetItemString(kwargs.get(), "raise_error", Py_False));
  Ref empty = py::check(PyTuple_New(0));
  PyObject* res = PyObject_Call(method.get(), empty.get(), kwargs.get());
  if (res != nullptr) return Ref::steal(res);
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::ErrorAlreadySet{};
  PyErr_Clear();
  return call(method.get());
}

std::vector<double> concat(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> out;
  out.reserve(a.size() + b.size());
  out.insert(out.end(), a.begin(), a.end());
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

// A (m x n) with the n x n identity below it, column-wise: each column's entries of A, then
// its bound row m + j. Built here so that the matrix crosses into Python once.
Csc stack_identity(const CompiledModel& c) {
  const size_t n = c.num_cols;
  Csc s;
  s.start.resize(n + 1);
  s.index.reserve(c.a_index.size() + n);
  s.value.reserve(c.a_value.size() + n);
  for (size_t j = 0; j < n; ++j) {
    s.start[j] = static_cast<int32_t>(s.index.size());
    for (int32_t k = c.a_start[j]; k < c.a_start[j + 1]; ++k) {
      s.index.push_back(c.a_index[static_cast<size_t>(k)]);
      s.value.push_back(c.a_value[static_cast<size_t>(k)]);
    }
    s.index.push_back(static_cast<int32_t>(c.num_rows + j));
    s.value.push_back(1.0);
  }
  s.start[n] = static_cast<int32_t>(s.index.size());
  return s;
}

}  // namespace

BackendOutcome solve_osqp(const CompiledModel& c, const SolveOptions& o) {
  GilEnsure gil;
  Ref time = import("time");
  const double t0 = perf_counter(time.get());
  Ref osqp = import("osqp");
  Ref sparse = import("scipy.sparse");
  Ref numpy = import("numpy");
  const size_t n = c.num_cols;
  const size_t m = c.num_rows;

  Ref p;
  if (c.hessian) {
    p = csc_matrix(sparse.get(), numpy.get(), c.hessian->q_value, c.hessian->q_index,
                   c.hessian->q_start, n, n);
  } else {
    const std::vector<int32_t> starts(n + 1, 0);
    p = csc_matrix(sparse.get(), numpy.get(), {}, {}, starts, n, n);
  }
  const Csc stacked = stack_identity(c);
  Ref a = csc_matrix(sparse.get(), numpy.get(), stacked.value, stacked.index, stacked.start, m + n, n);
  Ref q = numpy_array(numpy.get(), c.col_cost);
  Ref l = numpy_array(numpy.get(), concat(c.row_lower, c.col_lower));
  Ref u = numpy_array(numpy.get(), concat(c.row_upper, c.col_upper));

  Ref solver = call_method(osqp.get(), "OSQP");
  Ref kw = py::check(PyDict_New());
  auto put = [&kw](const char* key, PyObject* value) {
    py::check_status(PyDict_SetItemString(kw.get(), key, value));
  };
  put("P", p.get());
  put("q", q.get());
  put("A", a.get());
  put("l", l.get());
  put("u", u.get());
  put("verbose", o.verbose ? Py_True : Py_False);
  if (o.time_limit) {
    // OSQP reads a limit of 0 as "no limit"; the smallest positive one stops it at once.
    const double limit = *o.time_limit > 0 ? *o.time_limit : std::numeric_limits<double>::min();
    put("time_limit", py::float_obj(limit).get());
  }
  put("eps_abs", py::float_obj(1e-8).get());
  put("eps_rel", py::float_obj(1e-8).get());
  call_kw(attr(solver.get(), "setup").get(), kw.get());
  Ref res = run_solve(solver.get());
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = "OSQP";
  out.solve_time = t1 - t0;
  Ref info = attr(res.get(), "info");
  Ref status = attr(info.get(), "status");
  out.status = map_osqp_status(py::to_text(status.get(), "OSQP result", "info.status"));
  if (out.status == SolveStatus::Optimal) {
    out.primals = array_doubles(numpy.get(), attr(res.get(), "x").get());
    out.objective = model_objective(to_double(attr(info.get(), "obj_val").get()), c.obj_offset, c.maximize);
    out.duals = array_doubles(numpy.get(), attr(res.get(), "y").get());
  }
  Ref iter = Ref::steal(PyObject_GetAttrString(info.get(), "iter"));
  if (!iter) PyErr_Clear();  // an unreadable count is 0
  out.iterations = to_count(iter.get()).value_or(0);
  return out;
}

}  // namespace velmo
