// Binding of the black-box solvers: BlackBoxResult, the shared argument readers, the Python
// objective adapter, and the module functions of the single-objective solvers.
#pragma once

#include "blackbox/metaheuristic.hpp"
#include "module/py.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velmo::binding {

struct PyBlackBoxResult {
  PyObject ob_base;
  blackbox::SolverOutcome outcome;
};

extern PyTypeObject* blackbox_result_type;
PyTypeObject* make_blackbox_result_type();

// `bounds` as a box: a non-str sequence of 2-tuples of numbers, else the binding's TypeError
// (or OverflowError) naming `bounds`.
blackbox::SearchBox parse_bounds(PyObject* bounds, const char* fname);

// Keyword option `key` of the collected **kwargs (nullptr when there were none), converted to
// T (uint64_t, double or std::string); nullopt when absent. A value that does not convert
// raises the binding's TypeError/OverflowError naming the key. Callers read options one at a
// time in their documented order, so the first bad one is reported.
template <class T>
std::optional<T> read_option(PyObject* kwargs, const char* fname, const char* key);

// Raises TypeError("<name> must be callable") unless `func` is callable; solvers check it
// first, before any other work, since a run with it would only score +inf everywhere.
void require_callable(PyObject* func, const char* name = "obj_func");

// Calls `func(list_of_floats)` and converts the answer with float(). A failure is cleared and
// scores +inf, so a bad point does not abort a search; NaN stays NaN. KeyboardInterrupt and
// SystemExit are the exception: they stay set and py::ErrorAlreadySet is thrown, so the run
// stops at once and the caller sees them (engines are exception-neutral). Re-acquires the
// interpreter lock (nesting), so it can run from engine code.
double evaluate_point(PyObject* func, std::span<const double> point);

// A Python callable as an engine objective.
struct PyObjective {
  PyObject* func;  // borrowed; the caller keeps it alive for the run
  double operator()(std::span<const double> point) const { return evaluate_point(func, point); }
};

py::Ref make_result(blackbox::SolverOutcome&& outcome);

extern PyMethodDef solve_de_def;
extern PyMethodDef solve_pso_def;
extern PyMethodDef solve_sa_def;
extern PyMethodDef solve_cmaes_def;
extern PyMethodDef solve_portfolio_def;
extern PyMethodDef solve_parallel_de_def;

}  // namespace velmo::binding
