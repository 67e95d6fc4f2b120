// Known-option tables of the **kwargs functions. A key belongs to a function's row when some
// path of that function reads it; adding an option means adding its key here.
#include "module/known_options.hpp"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace velmo::binding {
namespace {

struct KnownOptions {
  std::string_view function;
  std::initializer_list<std::string_view> keys;  // in alphabetical order, as listed to users
};

const KnownOptions kKnownOptions[] = {
    {"Model.solve",
     {"basis", "eliminate_redundant", "gap", "parallel", "presolve", "ranging", "run_crossover",
      "scale_cleanup", "simplex_scale_strategy", "solver", "solver_method", "threads", "time_limit",
      "verbose", "warm_start"}},
    {"minimize", {"time_limit", "verbose"}},
    {"maximize", {"time_limit", "verbose"}},
    {"PersistentHighs.from_model", {"gap", "model", "threads", "time_limit", "verbose"}},
    {"solve_de",
     {"callback", "constraints", "cr", "f", "integrality", "max_evals", "max_generations", "pop_size",
      "seed", "time_limit", "tol", "x0"}},
    {"solve_parallel_de",
     {"callback", "constraints", "integrality", "max_evals", "max_generations", "pop_size", "seed",
      "time_limit", "x0"}},
    {"solve_pso",
     {"callback", "constraints", "integrality", "max_evals", "max_iterations", "pop_size", "seed",
      "time_limit", "tol", "x0"}},
    {"solve_sa",
     {"callback", "constraints", "cooling_rate", "integrality", "max_evals", "max_iterations", "seed",
      "temp_init", "time_limit", "x0"}},
    {"solve_cmaes",
     {"callback", "constraints", "executor", "integrality", "max_evals", "max_generations", "pop_size",
      "restarts", "seed", "sigma", "time_limit", "tol", "variant", "x0"}},
    {"pareto_frontier",
     {"callback", "constraints", "das_dennis_divisions", "executor", "generations", "integrality",
      "max_evals", "method", "pop_size", "seed", "time_limit", "x0"}},
    {"stochastic_solve",
     {"callback", "constraints", "executor", "integrality", "max_evals", "max_generations", "pop_size",
      "seed", "time_limit", "x0"}},
};

// The solver names Model.solve dispatches on (solve/solve.cpp); any other name runs HiGHS.
constexpr std::string_view kSolverNames[] = {"bonmin", "clarabel", "highs", "ipopt", "osqp", "scipy", "slsqp"};

// Edit distance, for suggesting the option a misspelt key probably meant.
size_t distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

template <class Names>
std::string suggestion(std::string_view key, const Names& names) {
  std::string_view best;
  size_t best_distance = 3;  // at most two edits away
  for (std::string_view name : names) {
    const size_t d = distance(key, name);
    // Two edits turn any short key into another ('f' into 'x0'): a hint needs most of the key.
    if (d < best_distance && 2 * d < std::max(key.size(), name.size())) {
      best = name;
      best_distance = d;
    }
  }
  return best.empty() ? std::string() : " (did you mean '" + std::string(best) + "'?)";
}

template <class Names>
std::string listed(const Names& names) {
  std::string out;
  for (std::string_view name : names) {
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

void warn(const std::string& message) {
  if (PyErr_WarnEx(PyExc_UserWarning, message.c_str(), 1) < 0) throw py::ErrorAlreadySet{};
}

}  // namespace

void warn_unknown_options(PyObject* kwargs, std::string_view function) {
  if (kwargs == nullptr) return;
  const auto row = std::find_if(std::begin(kKnownOptions), std::end(kKnownOptions),
                                [&](const KnownOptions& k) { return k.function == function; });
  if (row == std::end(kKnownOptions)) return;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  // The keys are collected first: a warning filter could change the dict while it is walked.
  std::vector<std::string> unknown;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) continue;
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) throw py::ErrorAlreadySet{};
    const std::string_view name(text, static_cast<size_t>(size));
    if (std::find(row->keys.begin(), row->keys.end(), name) == row->keys.end()) unknown.emplace_back(name);
  }
  for (const std::string& name : unknown) {
    warn(std::string(function) + "(): unknown option '" + name + "' is ignored" + suggestion(name, row->keys) +
         "; known options: " + listed(row->keys));
  }
}

void warn_unknown_solver(std::string_view solver) {
  if (std::find(std::begin(kSolverNames), std::end(kSolverNames), solver) != std::end(kSolverNames)) return;
  warn("Model.solve(): there is no solver named '" + std::string(solver) + "'" + suggestion(solver, kSolverNames) +
       "; HiGHS solves the model instead (solvers: " + listed(kSolverNames) + ")");
}

}  // namespace velmo::binding
