// HiGHS adapter: status map, then the call sequence on highspy.Highs, then the outcome.
#include "solve/highs_adapter.hpp"

#include "results/ranging_binding.hpp"
#include "solve/arrays.hpp"
#include "solve/solver_interrupt.hpp"
#include "solve/sparse.hpp"

#include <atomic>
#include <cmath>
#include <cstdio>

namespace velmo {

using py::Ref;
using namespace pycall;

SolveStatus map_highs_status(std::string_view s) noexcept {
  auto has = [s](std::string_view w) { return s.find(w) != std::string_view::npos; };
  if (has("optimal")) return SolveStatus::Optimal;
  if (has("infeasible") && has("unbounded")) return SolveStatus::InfeasibleOrUnbounded;
  if (has("infeasible")) return SolveStatus::Infeasible;
  if (has("unbounded")) return SolveStatus::Unbounded;
  if (has("time_limit") || has("timelimit")) return SolveStatus::TimeLimit;
  if (has("iteration_limit") || has("iterationlimit")) return SolveStatus::IterationLimit;
  return SolveStatus::Unknown;
}

void set_highs_option(PyObject* highs, const char* name, PyObject* value) {
  Ref n = py::str(name);
  call_method(highs, "setOptionValue", n.get(), value);
}

bool highs_refused(PyObject* status) { return lower_text(status).find("error") != std::string::npos; }

namespace {

// The last HiGHS thread count applied anywhere in the process: HiGHS keeps one scheduler per
// OS thread and refuses a run whose count differs from the scheduler's.
std::atomic<int64_t> g_last_threads{0};

void apply_options(PyObject* highs, const SolveOptions& o) {
  if (!o.verbose) set_highs_option(highs, "output_flag", Py_False);
  if (o.time_limit) set_highs_option(highs, "time_limit", py::float_obj(*o.time_limit).get());
  if (o.gap) set_highs_option(highs, "mip_rel_gap", py::float_obj(*o.gap).get());
  if (o.threads) {
    apply_thread_guard(highs, *o.threads);
    set_highs_option(highs, "threads", ints(*o.threads).get());
  }
  if (o.solver_method) set_highs_option(highs, "solver", py::str(*o.solver_method).get());
  if (o.run_crossover) set_highs_option(highs, "run_crossover", py::str(*o.run_crossover).get());
  if (o.parallel) set_highs_option(highs, "parallel", py::str(*o.parallel).get());
  if (o.simplex_scale_strategy) {
    set_highs_option(highs, "simplex_scale_strategy", ints(*o.simplex_scale_strategy).get());
  }
  if (!o.presolve) set_highs_option(highs, "presolve", py::str("off").get());
}

std::optional<double> info_real(PyObject* highs, const char* name) {
  Ref r = call_method(highs, "getInfoValue", py::str(name).get());
  PyObject* v = second_of_pair(r.get());
  if (v == nullptr) return std::nullopt;
  const double d = PyFloat_AsDouble(v);
  if (d == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return d;
}

}  // namespace

std::optional<uint64_t> highs_info_count(PyObject* highs, const char* name) {
  Ref r = call_method(highs, "getInfoValue", py::str(name).get());
  return to_count(second_of_pair(r.get()));
}

std::optional<HighsPoint> read_highs_point(PyObject* h, size_t num_cols) {
  // A run stopped before it found any point (a MIP on its time limit) has no objective and
  // no values, whatever HiGHS leaves in them.
  if (highs_info_count(h, "primal_solution_status").value_or(1) == 0) return std::nullopt;
  Ref info = call_method(h, "getInfoValue", py::str("objective_function_value").get());
  PyObject* v = second_of_pair(info.get());
  if (v == nullptr) {
    py::raise(PyExc_TypeError, "highspy getInfoValue('objective_function_value') did not return a (status, value) pair");
  }
  HighsPoint p;
  p.objective = to_double(v);
  p.solution = call_method(h, "getSolution");
  p.primals = to_doubles(attr(p.solution.get(), "col_value").get());
  if (p.primals.size() != num_cols) return std::nullopt;
  return p;
}

void apply_thread_guard(PyObject* highs, uint32_t threads) {
  const int64_t previous = g_last_threads.exchange(threads);
  if (previous == threads) return;
  // Before the first explicit count, earlier solves may have started HiGHS's scheduler with
  // its default size, which would make this run fail; so it is reset then too, silently.
  PyObject* reset = PyObject_GetAttrString(highs, "resetGlobalScheduler");
  PyObject* done = reset == nullptr ? nullptr : PyObject_CallFunctionObjArgs(reset, Py_True, nullptr);
  Py_XDECREF(reset);
  if (done != nullptr) {
    Py_DECREF(done);
    return;
  }
  PyErr_Clear();
  if (previous < 1) return;
  std::fprintf(stderr,
               "[velmo-opt] warning: HiGHS thread count changed (%lld -> %u) within this process and "
               "resetGlobalScheduler is unavailable; solve may return status 'unknown'. Keep "
               "`threads` uniform per process.\n",
               static_cast<long long>(previous), threads);
  std::fflush(stderr);
}

namespace {

Ref size_obj(size_t v) { return ints(static_cast<long long>(v)); }

}  // namespace

bool load_into_highs(PyObject* highs, PyObject* highspy, PyObject* numpy, const CompiledModel& c) {
  if (has_unusable_numbers(c)) return false;
  const size_t n = c.num_cols;
  Ref no_index = numpy_array(numpy, std::span<const int32_t>{});
  Ref no_value = numpy_array(numpy, std::span<const double>{});
  Ref zero = ints(0);

  // The rows first, empty, then the columns with their entries: the compiled matrix is
  // column-wise, which is also how HiGHS stores it, so it goes in as it is, with no
  // transposition on either side.
  if (c.num_rows > 0) {
    Ref lower = numpy_array(numpy, c.row_lower);
    Ref upper = numpy_array(numpy, c.row_upper);
    Ref st = call_method(highs, "addRows", size_obj(c.num_rows).get(), lower.get(), upper.get(), zero.get(),
                         no_index.get(), no_index.get(), no_value.get());
    if (highs_refused(st.get())) return false;
  }
  if (n > 0) {
    Ref cost = numpy_array(numpy, c.col_cost);
    Ref lower = numpy_array(numpy, c.col_lower);
    Ref upper = numpy_array(numpy, c.col_upper);
    const size_t nnz = c.a_value.size();
    // HiGHS reads one start per column; the end of the last column is the entry count.
    Ref starts = nnz == 0 ? no_index.copy() : numpy_array(numpy, std::span<const int32_t>(c.a_start.data(), n));
    Ref st = call_method(highs, "addCols", size_obj(n).get(), cost.get(), lower.get(), upper.get(),
                         size_obj(nnz).get(), starts.get(), numpy_array(numpy, c.a_index).get(),
                         numpy_array(numpy, c.a_value).get());
    if (highs_refused(st.get())) return false;
  }

  if (c.has_integer_column()) {
    Ref var_type = attr(highspy, "HighsVarType");
    Ref integer = attr(var_type.get(), "kInteger");
    const long code = PyLong_AsLong(py::check(PyNumber_Index(integer.get())).get());
    if (code == -1 && PyErr_Occurred()) throw py::ErrorAlreadySet{};
    std::vector<int32_t> cols;
    for (size_t j = 0; j < n; ++j) {
      if (c.integrality[j] != 0) cols.push_back(static_cast<int32_t>(j));
    }
    const std::vector<uint8_t> types(cols.size(), static_cast<uint8_t>(code));
    Ref st = call_method(highs, "changeColsIntegrality", size_obj(cols.size()).get(),
                         numpy_array(numpy, cols).get(), numpy_array(numpy, types).get());
    if (highs_refused(st.get())) return false;
  }

  if (c.hessian && !c.hessian->q_value.empty()) {
    // The compiled upper triangle by columns, transposed: HiGHS's triangular format is the
    // lower triangle by columns.
    const Csc lower = transposed(c.hessian->q_start, c.hessian->q_index, c.hessian->q_value, n);
    Ref format = attr(attr(highspy, "HessianFormat").get(), "kTriangular");
    Ref st = call_method(highs, "passHessian", size_obj(n).get(), size_obj(lower.value.size()).get(),
                         format.get(), numpy_array(numpy, lower.start).get(),
                         numpy_array(numpy, lower.index).get(), numpy_array(numpy, lower.value).get());
    if (highs_refused(st.get())) return false;
  }
  return true;
}

BackendOutcome solve_highs(const CompiledModel& c, const SolveOptions& o) {
  GilEnsure gil;
  Ref time = import("time");
  const double t0 = perf_counter(time.get());
  Ref highspy = import("highspy");
  Ref highs = call_method(highspy.get(), "Highs");
  PyObject* h = highs.get();
  apply_options(h, o);
  Ref numpy = import("numpy");
  if (!load_into_highs(h, highspy.get(), numpy.get(), c)) {
    // Whatever HiGHS took of a refused model is never solved: the run would answer for a
    // different model.
    BackendOutcome out;
    out.solver = "HiGHS";
    out.status = SolveStatus::Error;
    out.solve_time = perf_counter(time.get()) - t0;
    return out;
  }

  const bool integer = c.has_integer_column();
  if (integer && o.warm_start && o.warm_start->size() == c.num_cols) {
    // highspy takes a HighsSolution, not a bare array; a refused warm start is ignored.
    try {
      Ref solution = call_method(highspy.get(), "HighsSolution");
      py::check_status(PyObject_SetAttrString(solution.get(), "col_value", float_list(*o.warm_start).get()));
      call_method(h, "setSolution", solution.get());
    } catch (const py::ErrorAlreadySet&) {
      py::clear_error();
    }
  }
  if (o.basis) {
    Ref r = Ref::steal(PyObject_CallMethod(h, "setBasis", "O", o.basis.get()));
    if (!r) py::clear_error();
  }
  {
    HighsSignalWatch watch(h, highspy.get());
    call_method(h, "run");
    watch.raise_if_stopped();
  }
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = "HiGHS";
  out.solve_time = t1 - t0;
  Ref status = call_method(h, "getModelStatus");
  out.status = map_highs_status(lower_text(status.get()));
  if (out.status == SolveStatus::Optimal || out.status == SolveStatus::TimeLimit) {
    if (std::optional<HighsPoint> p = read_highs_point(h, c.num_cols)) {
      out.objective = model_objective(p->objective, c.obj_offset, c.maximize);
      out.primals = std::move(p->primals);
      if (!integer) out.duals = to_doubles(attr(p->solution.get(), "row_dual").get());
      if (o.ranging && out.status == SolveStatus::Optimal) out.ranging = read_highs_ranging(h, c, p->solution.get());
    }
    if (integer) {
      out.nodes = highs_info_count(h, "mip_node_count").value_or(0);
      out.gap = info_real(h, "mip_gap").value_or(0.0);
    }
  }
  out.iterations = highs_info_count(h, "simplex_iteration_count").value_or(0);
  out.basis = call_method(h, "getBasis");
  return out;
}

}  // namespace velmo
