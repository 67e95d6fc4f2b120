// Clarabel adapter: the status map, then the call sequence on clarabel.DefaultSolver with the
// conic form of the model, and the outcome.
#include "solve/clarabel_adapter.hpp"

#include "module/args.hpp"
#include "module/memory_limit.hpp"
#include "solve/arrays.hpp"

#include <cmath>

namespace velmo {

using py::Ref;
using namespace pycall;

SolveStatus map_clarabel_status(std::string_view s) noexcept {
  auto has = [s](std::string_view w) { return s.find(w) != std::string_view::npos; };
  if (has("Solved") && !has("Almost")) return SolveStatus::Optimal;
  if (has("PrimalInfeasible")) return SolveStatus::Infeasible;
  if (has("DualInfeasible")) return SolveStatus::Unbounded;
  if (has("MaxIterations") || has("MaxTime")) return SolveStatus::TimeLimit;
  if (has("AlmostSolved")) return SolveStatus::Optimal;
  return SolveStatus::Unknown;
}

namespace {

Ref cone(PyObject* clarabel, const char* kind, size_t size) {
  Ref dim = py::check(PyLong_FromSize_t(size));
  return call_method(clarabel, kind, dim.get());
}

Ref cone_list(PyObject* clarabel, const CompiledModel& c, const ConicForm& f) {
  Ref list = py::check(PyList_New(0));
  auto add = [&list](Ref item) { py::check_status(PyList_Append(list.get(), item.get())); };
  if (f.zero_rows > 0) add(cone(clarabel, "ZeroConeT", f.zero_rows));
  if (f.nonnegative_rows > 0) add(cone(clarabel, "NonnegativeConeT", f.nonnegative_rows));
  for (const std::vector<uint32_t>& soc : c.soc_cones) add(cone(clarabel, "SecondOrderConeT", soc.size()));
  for (size_t d : f.psd_sides) add(cone(clarabel, "PSDTriangleConeT", d));
  return list;
}

void set(PyObject* o, const char* name, PyObject* value) {
  py::check_status(PyObject_SetAttrString(o, name, value));
}

}  // namespace

BackendOutcome solve_clarabel(const CompiledModel& c, const SolveOptions& o) {
  const double need = clarabel_psd_bytes(c);
  const uint64_t have = physical_memory_bytes();
  if (have != 0 && need > static_cast<double>(have)) {
    py::raise(PyExc_MemoryError, "Clarabel would need about " + gigabytes(need) +
                                     " for the model's PSD cones, more than this machine's " +
                                     gigabytes(static_cast<double>(have)) + " of memory");
  }
  GilEnsure gil;
  Ref time = import("time");
  const double t0 = perf_counter(time.get());
  Ref clarabel = import("clarabel");
  Ref sparse = import("scipy.sparse");
  Ref numpy = import("numpy");
  const size_t n = c.num_cols;

  const ConicForm form = conic_form(c);
  Ref a = csc_matrix(sparse.get(), numpy.get(), form.a.value, form.a.index, form.a.start, form.rows, n);
  // The compiled Hessian already is the upper triangle Clarabel reads.
  Ref p;
  if (c.hessian) {
    p = csc_matrix(sparse.get(), numpy.get(), c.hessian->q_value, c.hessian->q_index, c.hessian->q_start, n, n);
  } else {
    const std::vector<int32_t> starts(n + 1, 0);
    p = csc_matrix(sparse.get(), numpy.get(), {}, {}, starts, n, n);
  }
  Ref q = numpy_array(numpy.get(), c.col_cost);
  Ref b = numpy_array(numpy.get(), form.b);
  Ref cones = cone_list(clarabel.get(), c, form);

  Ref settings = call_method(clarabel.get(), "DefaultSettings");
  set(settings.get(), "verbose", o.verbose ? Py_True : Py_False);
  if (o.time_limit) set(settings.get(), "time_limit", py::float_obj(*o.time_limit).get());
  Ref tol = py::float_obj(1e-9);
  for (const char* name : {"tol_feas", "tol_gap_abs", "tol_gap_rel"}) set(settings.get(), name, tol.get());

  Ref solver = call_method(clarabel.get(), "DefaultSolver", p.get(), q.get(), a.get(), b.get(), cones.get(),
                           settings.get());
  Ref sol = call_method(solver.get(), "solve");
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = "Clarabel";
  out.solve_time = t1 - t0;
  Ref status = call_method(attr(sol.get(), "status").get(), "__repr__");
  out.status = map_clarabel_status(py::to_text(status.get(), "Clarabel solution", "status"));
  if (out.status == SolveStatus::Optimal) {
    out.primals = array_doubles(numpy.get(), attr(sol.get(), "x").get());
    out.objective = model_objective(to_double(attr(sol.get(), "obj_val").get()), c.obj_offset, c.maximize);
  }
  Ref iter = Ref::steal(PyObject_GetAttrString(sol.get(), "iterations"));
  if (!iter) PyErr_Clear();  // an unreadable count is 0
  out.iterations = to_count(iter.get()).value_or(0);
  return out;
}

}  // namespace velmo
