// Python-free consensus ADMM (scaled form): the subproblems are solved by the caller, one
// proximal step per subproblem and iteration; this loop only averages and updates the duals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmo::blackbox {

// The local (proximal) steps of the N subproblems. `solve` writes subproblem i's answer for
// (rho, target) into x (length dim) and returns true, or returns false when the step failed;
// the loop then uses dim zeros. An exception from `solve` ends the run and passes through.
class LocalSteps {
 public:
  virtual size_t count() const noexcept = 0;
  virtual bool solve(size_t subproblem, double rho, std::span<const double> target,
                     std::span<double> x) = 0;
  // Whether the loop should hand each iteration's steps over together (solve_all) rather than
  // one by one (solve).
  virtual bool batched() const noexcept { return false; }
  // Every step of one iteration: block i (dim long) of targets and xs is subproblem i's;
  // ok[i] is false where that step failed. The targets depend only on the previous
  // iteration, so the steps are independent.
  virtual void solve_all(double rho, std::span<const double> targets, std::span<double> xs, size_t dim,
                         std::span<char> ok) {
    for (size_t i = 0; i < ok.size(); ++i) {
      ok[i] = solve(i, rho, targets.subspan(i * dim, dim), xs.subspan(i * dim, dim));
    }
  }

 protected:
  ~LocalSteps() = default;
};

struct AdmmSettings {
  uint64_t dim = 0;
  double rho = 1.0;
  uint64_t max_iter = 200;
  double tol = 1e-6;
};

struct AdmmOutcome {
  std::vector<double> z;  // final consensus vector
  uint64_t iterations = 0;
  double primal_residual = 0.0;
  double dual_residual = 0.0;
  bool converged = false;
};

// Runs until both residuals are below tol or max_iter iterations are done. Every vector is
// allocated before the first step, so a dim too large for memory throws std::bad_alloc or
// std::length_error before any subproblem is asked.
AdmmOutcome admm_consensus(LocalSteps& steps, const AdmmSettings& settings);

}  // namespace velmo::blackbox
