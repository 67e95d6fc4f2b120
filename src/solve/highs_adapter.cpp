// HiGHS adapter: status map, then the call sequence on highspy.Highs, then the outcome.
#include "solve/highs_adapter.hpp"

#include "solve/arrays.hpp"

#include <atomic>
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

namespace {

// The last HiGHS thread count applied anywhere in the process: HiGHS keeps one scheduler per
// OS thread and refuses a run whose count differs from the scheduler's.
std::atomic<int64_t> g_last_threads{0};

void set_option(PyObject* highs, const char* name, PyObject* value) {
  Ref n = py::str(name);
  call_method(highs, "setOptionValue", n.get(), value);
}

void apply_options(PyObject* highs, const SolveOptions& o) {
  if (!o.verbose) set_option(highs, "output_flag", Py_False);
  if (o.time_limit) set_option(highs, "time_limit", py::float_obj(*o.time_limit).get());
  if (o.gap) set_option(highs, "mip_rel_gap", py::float_obj(*o.gap).get());
  if (o.threads) {
    apply_thread_guard(highs, *o.threads);
    set_option(highs, "threads", ints(*o.threads).get());
  }
  if (o.solver_method) set_option(highs, "solver", py::str(*o.solver_method).get());
  if (o.run_crossover) set_option(highs, "run_crossover", py::str(*o.run_crossover).get());
  if (o.parallel) set_option(highs, "parallel", py::str(*o.parallel).get());
  if (o.simplex_scale_strategy) {
    set_option(highs, "simplex_scale_strategy", ints(*o.simplex_scale_strategy).get());
  }
  if (!o.presolve) set_option(highs, "presolve", py::str("off").get());
}

// The compiled Hessian is the upper triangle column by column; HiGHS's triangular format is
// the lower triangle column by column, which holds the same numbers in transposed order.
Hessian lower_triangle(const Hessian& h, size_t n) {
  Hessian t;
  t.q_start.assign(n + 1, 0);
  for (int32_t row : h.q_index) ++t.q_start[static_cast<size_t>(row) + 1];
  for (size_t j = 0; j < n; ++j) t.q_start[j + 1] += t.q_start[j];
  t.q_index.resize(h.q_index.size());
  t.q_value.resize(h.q_value.size());
  std::vector<int32_t> cursor(t.q_start.begin(), t.q_start.end() - 1);
  for (size_t col = 0; col < n; ++col) {
    for (int32_t k = h.q_start[col]; k < h.q_start[col + 1]; ++k) {
      const auto row = static_cast<size_t>(h.q_index[static_cast<size_t>(k)]);
      const int32_t at = cursor[row]++;
      t.q_index[static_cast<size_t>(at)] = static_cast<int32_t>(col);
      t.q_value[static_cast<size_t>(at)] = h.q_value[static_cast<size_t>(k)];
    }
  }
  return t;
}

std::optional<uint64_t> info_count(PyObject* highs, const char* name) {
  Ref r = call_method(highs, "getInfoValue", py::str(name).get());
  return to_count(second_of_pair(r.get()));
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

void load_into_highs(PyObject* highs, PyObject* highspy, PyObject* numpy, const CompiledModel& c) {
  Ref empty_list_i = py::check(PyList_New(0));
  Ref empty_list_f = py::check(PyList_New(0));
  Ref empty_int = numpy_array(numpy, empty_list_i.get());
  Ref empty_float = numpy_array(numpy, empty_list_f.get());
  Ref zero = ints(0);

  Ref add_col = attr(highs, "addCol");
  for (size_t j = 0; j < c.num_cols; ++j) {
    Ref cost = py::float_obj(c.col_cost[j]);
    Ref lower = py::float_obj(c.col_lower[j]);
    Ref upper = py::float_obj(c.col_upper[j]);
    call(add_col.get(), cost.get(), lower.get(), upper.get(), zero.get(), empty_int.get(), empty_float.get());
  }

  if (c.has_integer_column()) {
    Ref var_type = attr(highspy, "HighsVarType");
    Ref integer = attr(var_type.get(), "kInteger");
    Ref change = attr(highs, "changeColIntegrality");
    for (size_t j = 0; j < c.num_cols; ++j) {
      if (c.integrality[j] == 0) continue;
      call(change.get(), ints(static_cast<long long>(j)).get(), integer.get());
    }
  }

  // One pass over the columns turns A into rows, each with ascending column indices.
  std::vector<int32_t> row_start(c.num_rows + 1, 0);
  for (int32_t r : c.a_index) ++row_start[static_cast<size_t>(r) + 1];
  for (size_t i = 0; i < c.num_rows; ++i) row_start[i + 1] += row_start[i];
  std::vector<int32_t> row_cols(c.a_index.size());
  std::vector<double> row_vals(c.a_index.size());
  std::vector<int32_t> cursor(row_start.begin(), row_start.end() - 1);
  for (size_t j = 0; j < c.num_cols; ++j) {
    for (int32_t k = c.a_start[j]; k < c.a_start[j + 1]; ++k) {
      const auto r = static_cast<size_t>(c.a_index[static_cast<size_t>(k)]);
      const int32_t at = cursor[r]++;
      row_cols[static_cast<size_t>(at)] = static_cast<int32_t>(j);
      row_vals[static_cast<size_t>(at)] = c.a_value[static_cast<size_t>(k)];
    }
  }
  Ref add_row = attr(highs, "addRow");
  for (size_t i = 0; i < c.num_rows; ++i) {
    const auto begin = static_cast<size_t>(row_start[i]);
    const auto count = static_cast<size_t>(row_start[i + 1]) - begin;
    Ref lower = py::float_obj(c.row_lower[i]);
    Ref upper = py::float_obj(c.row_upper[i]);
    Ref n = ints(static_cast<long long>(count));
    Ref idx = numpy_array(numpy, int_list({row_cols.data() + begin, count}).get());
    Ref val = numpy_array(numpy, float_list({row_vals.data() + begin, count}).get());
    call(add_row.get(), lower.get(), upper.get(), n.get(), idx.get(), val.get());
  }

  if (c.hessian && !c.hessian->q_value.empty()) {
    const Hessian lower = lower_triangle(*c.hessian, c.num_cols);
    Ref format = attr(attr(highspy, "HessianFormat").get(), "kTriangular");
    Ref int32 = py::str("int32");
    Ref start = call_method(numpy_array(numpy, int_list(lower.q_start).get()).get(), "astype", int32.get());
    Ref index = call_method(numpy_array(numpy, int_list(lower.q_index).get()).get(), "astype", int32.get());
    Ref value = numpy_array(numpy, float_list(lower.q_value).get());
    call_method(highs, "passHessian", ints(static_cast<long long>(c.num_cols)).get(),
                ints(static_cast<long long>(lower.q_value.size())).get(), format.get(), start.get(),
                index.get(), value.get());
  }
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
  load_into_highs(h, highspy.get(), numpy.get(), c);

  const bool integer = c.has_integer_column();
  if (integer && o.warm_start && o.warm_start->size() == c.num_cols) {
    // highspy takes a HighsSolution, not a bare array; a refused warm start is ignored.
    try {
      Ref solution = call_method(highspy.get(), "HighsSolution");
      py::check_status(PyObject_SetAttrString(solution.get(), "col_value", float_list(*o.warm_start).get()));
      call_method(h, "setSolution", solution.get());
    } catch (const py::ErrorAlreadySet&) {
      PyErr_Clear();
    }
  }
  if (o.basis) {
    PyObject* r = PyObject_CallMethod(h, "setBasis", "O", o.basis.get());
    if (r == nullptr) PyErr_Clear();
    Py_XDECREF(r);
  }
  call_method(h, "run");
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = "HiGHS";
  out.solve_time = t1 - t0;
  Ref status = call_method(h, "getModelStatus");
  out.status = map_highs_status(lower_text(status.get()));
  if (out.status == SolveStatus::Optimal || out.status == SolveStatus::TimeLimit) {
    Ref info = call_method(h, "getInfoValue", py::str("objective_function_value").get());
    PyObject* v = second_of_pair(info.get());
    if (v == nullptr) {
      py::raise(PyExc_TypeError, "highspy getInfoValue('objective_function_value') did not return a (status, value) pair");
    }
    out.objective = model_objective(to_double(v), c.obj_offset, c.maximize);
    Ref solution = call_method(h, "getSolution");
    std::vector<double> primals = to_doubles(attr(solution.get(), "col_value").get());
    // A run stopped before any solution was found leaves no point behind.
    if (primals.size() == c.num_cols) out.primals = std::move(primals);
    if (integer) {
      out.nodes = info_count(h, "mip_node_count").value_or(0);
      out.gap = info_real(h, "mip_gap").value_or(0.0);
    } else {
      out.duals = to_doubles(attr(solution.get(), "row_dual").get());
    }
  }
  out.iterations = info_count(h, "simplex_iteration_count").value_or(0);
  out.basis = call_method(h, "getBasis");
  return out;
}

}  // namespace velmo
