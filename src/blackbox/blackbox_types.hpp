// Binding of the black-box solvers: BlackBoxResult, the shared argument readers, the Python
// objective adapter, and the module functions solve_de and solve_parallel_de.
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

// Calls `func(list_of_floats)` and converts the answer with float(). Any failure, whatever
// the exception, is cleared and scores +inf: a bad point must not abort a search. NaN stays
// NaN. Re-acquires the interpreter lock (nesting), so it can run from engine code.
double evaluate_point(PyObject* func, std::span<const double> point) noexcept;

// A Python callable as an engine objective.
struct PyObjective {
  PyObject* func;  // borrowed; the caller keeps it alive for the run
  double operator()(std::span<const double> point) const noexcept {
    return evaluate_point(func, point);
  }
};

py::Ref make_result(blackbox::SolverOutcome&& outcome);

extern PyMethodDef solve_de_def;
extern PyMethodDef solve_parallel_de_def;

}  // namespace velmo::binding
