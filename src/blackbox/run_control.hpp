// Steering a black-box run: a start point, budgets in evaluations and seconds, a progress
// observer that may stop the run, integer coordinates and constraints. Python-free; the
// binding supplies the observer and the constraint function behind the interfaces below.
#pragma once

#include "blackbox/metaheuristic.hpp"

#include <chrono>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace velmo::blackbox {

// The text of a StopReason, as users see it in BlackBoxResult.message.
const char* stop_text(StopReason reason) noexcept;

// A point's standing: its objective value and its total constraint violation (the sum of the
// positive parts of g(x); 0 for a feasible point and always 0 without constraints).
struct Score {
  double value = 0.0;
  double violation = 0.0;
};

// The feasibility rules: a feasible point beats an infeasible one, two feasible points compare
// by value (value_less, NaN last), two infeasible ones by violation. Without constraints every
// violation is 0 and this is value_less exactly, so runs without constraints do not change.
inline bool score_less(Score a, Score b) noexcept {
  if (a.violation == 0.0 && b.violation == 0.0) return value_less(a.value, b.value);
  if (a.violation == 0.0) return true;
  if (b.violation == 0.0) return false;
  return a.violation < b.violation;
}
inline bool improves(Score best, Score candidate) noexcept { return score_less(candidate, best); }
// Ties accepted, as no_worse on values.
inline bool no_worse(Score incumbent, Score candidate) noexcept {
  if (incumbent.violation == 0.0 && candidate.violation == 0.0) {
    return no_worse(incumbent.value, candidate.value);
  }
  if (candidate.violation == 0.0) return true;
  if (incumbent.violation == 0.0) return false;
  return candidate.violation <= incumbent.violation;
}
size_t best_index(std::span<const Score> scores) noexcept;
void sort_by_score(std::vector<size_t>& order, std::span<const Score> scores);

// What an observer sees after each generation (iteration for annealing and the swarm).
// Single-objective runs fill best_x and best; multi-objective runs fill front (the objective
// vectors of the current first front, m values each, flat).
struct Progress {
  uint64_t generation = 0;
  uint64_t evaluations = 0;
  std::span<const double> best_x;
  Score best;
  std::span<const double> front;
  size_t m = 0;
};

class RunObserver {
 public:
  // True asks the run to end after this generation. May throw (the run is abandoned).
  virtual bool stop_after(const Progress& progress) = 0;

 protected:
  ~RunObserver() = default;
};

class ConstraintSet {
 public:
  // Total violation of x: sum of max(0, g_i(x)); +inf when g cannot be evaluated there.
  virtual double violation(std::span<const double> x) = 0;

 protected:
  ~ConstraintSet() = default;
};

inline constexpr uint64_t kNoEvalLimit = std::numeric_limits<uint64_t>::max();

// The caller's steering options; the defaults leave a run exactly as it is without them.
struct RunControl {
  std::vector<double> x0;  // empty: no start point
  uint64_t max_evals = kNoEvalLimit;
  double time_limit = std::numeric_limits<double>::infinity();  // seconds
  RunObserver* observer = nullptr;
  std::vector<char> integral;  // empty: no integer coordinates; else one flag per coordinate
  ConstraintSet* constraints = nullptr;
};

// The integer coordinates' bounds rounded inwards (ceil of the lower, floor of the upper).
// Throws std::invalid_argument when such a coordinate's bounds hold no integer.
SearchBox integral_box(const SearchBox& box, std::span<const char> integral);

// One run's view of its RunControl: evaluation with rounding, constraints and counting, the
// budgets, and the end-of-generation decisions. Shared by every engine so they stop alike.
class Run {
 public:
  Run(ObjectiveRef objective, const SearchBox& box, const RunControl* control);

  // The box the engine searches (integer coordinates with integral bounds).
  const SearchBox& box() const noexcept { return box_; }
  bool constrained() const noexcept { return control_.constraints != nullptr; }

  // Copies the start point into `out` when one was given.
  void start_point(std::span<double> out) const noexcept;
  // Rounds the integer coordinates of x (half away from zero, kept in the box).
  void round(std::span<double> x) const noexcept;

  // The violation and the objective at x (integer coordinates rounded first); one evaluation.
  Score evaluate(std::span<const double> x);
  // scores[k] for points[k*n .. k*n+n), k < scores.size(): through `batch` when given (the
  // violations in order, then the objective values side by side), else one by one.
  void evaluate_all(std::span<const double> points, size_t n, std::span<Score> scores,
                    CandidateBatch* batch);

  // For engines that call several objectives per point: the point as it is evaluated (x, or a
  // rounded copy valid until the next call), its violation, and the count of evaluated points.
  std::span<const double> prepare(std::span<const double> x);
  double violation_at(std::span<const double> prepared) {
    return control_.constraints != nullptr ? control_.constraints->violation(prepared) : 0.0;
  }
  void add_evaluations(uint64_t count) noexcept { evaluations_ += count; }
  bool observed() const noexcept { return control_.observer != nullptr; }

  uint64_t evaluations() const noexcept { return evaluations_; }
  // Evaluations the budget still allows (kNoEvalLimit without one).
  uint64_t remaining() const noexcept {
    return control_.max_evals == kNoEvalLimit ? kNoEvalLimit : control_.max_evals - evaluations_;
  }
  bool exhausted() const noexcept { return evaluations_ >= control_.max_evals; }
  bool time_up() const;

  // Before the first generation: the reason to stop at once (budget spent by the initial
  // population, or time up), if any.
  std::optional<StopReason> stop_before_loop() const;
  // After each generation: tells the observer, then decides in this order: converged, the
  // observer's request, the evaluation budget, the time limit.
  std::optional<StopReason> after_generation(bool converged, const Progress& progress);
  // The single-objective form: progress from `out`; records the reason in `out`. True = stop.
  bool end_generation(SolverOutcome& out, bool converged);
  // Final touches on an outcome: integer coordinates of x rounded as they were evaluated.
  void finish(SolverOutcome& out) const noexcept;

 private:
  ObjectiveRef objective_;
  RunControl control_;
  SearchBox box_;
  uint64_t evaluations_ = 0;
  uint64_t generation_ = 0;
  std::vector<double> scratch_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace velmo::blackbox
