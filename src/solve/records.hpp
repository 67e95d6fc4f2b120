// The records shared by the solve path: parsed options, the status vocabulary and what every
// adapter hands back.
#pragma once

#include "module/py.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmo {

namespace diagnostics {
struct RawRanging;
}

enum class SolveStatus : uint8_t {
  Optimal = 0,
  Infeasible,
  Unbounded,
  InfeasibleOrUnbounded,
  TimeLimit,
  IterationLimit,
  Error,
  Unknown,
};

inline const char* status_text(SolveStatus s) noexcept {
  switch (s) {
    case SolveStatus::Optimal: return "optimal";
    case SolveStatus::Infeasible: return "infeasible";
    case SolveStatus::Unbounded: return "unbounded";
    case SolveStatus::InfeasibleOrUnbounded: return "infeasible_or_unbounded";
    case SolveStatus::TimeLimit: return "time_limit";
    case SolveStatus::IterationLimit: return "iteration_limit";
    case SolveStatus::Error: return "error";
    case SolveStatus::Unknown: return "unknown";
  }
  return "unknown";
}

struct SolveOptions {
  std::optional<double> time_limit;
  std::optional<double> gap;
  std::optional<std::vector<double>> warm_start;
  std::optional<std::string> solver_method;
  std::optional<std::string> run_crossover;
  std::optional<std::string> parallel;
  std::optional<uint32_t> threads;
  std::optional<int32_t> simplex_scale_strategy;
  py::Ref basis;  // empty when the key was not given; Py_None when it was given as None
  bool verbose = false;
  bool scale_cleanup = false;
  bool eliminate_redundant = false;
  bool presolve = true;  // `presolve` and no `basis` key
  bool ranging = false;   // HiGHS ranging after an optimal LP run
};

struct BackendOutcome {
  std::optional<double> objective;
  std::optional<uint64_t> iterations;
  std::optional<uint64_t> nodes;
  std::optional<double> gap;
  std::string solver;
  std::optional<std::vector<double>> primals;
  std::optional<std::vector<double>> duals;
  double solve_time = 0.0;
  py::Ref basis;
  SolveStatus status = SolveStatus::Unknown;
  std::shared_ptr<const diagnostics::RawRanging> ranging;  // only with the `ranging` option
};

// The reported objective: the solver's value v of the minimisation form, brought back into
// the model's own sense with the constant it never saw.
inline double model_objective(double v, double obj_offset, bool maximize) noexcept {
  return maximize ? -(v + obj_offset) : v + obj_offset;
}

}  // namespace velmo
