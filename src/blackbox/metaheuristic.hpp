// Python-free black-box machinery: random numbers, boxes, outcomes, shared search helpers, the
// engines (differential evolution, particle swarm, annealing, evolution strategies and the
// portfolio that runs them in turn) and the scenario-based stochastic solve built on DE.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace velmo::blackbox {

// 64-bit xorshift (13, 7, 17). Runs must be reproducible bit for bit from the seed alone, so
// the generator and the order of its draws are part of every engine's contract.
class SolverRng {
 public:
  // A zero state would stay zero forever, so seed 0 acts as 1.
  explicit SolverRng(uint64_t seed) noexcept : state_(seed == 0 ? 1 : seed) {}

  uint64_t next_u64() noexcept {
    uint64_t s = state_;
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    state_ = s;
    return s;
  }
  // 53 random bits in [0, 1).
  double uniform() noexcept { return static_cast<double>(next_u64() >> 11) * 0x1p-53; }
  // Plain modulo of the raw word; k must not be 0.
  uint64_t index_below(uint64_t k) noexcept { return next_u64() % k; }
  // Box-Muller, cosine branch only: always exactly two uniform draws.
  double normal() noexcept;

 private:
  uint64_t state_;
};

// The search region; nothing requires lower <= upper or finite values.
struct SearchBox {
  std::vector<double> lower;
  std::vector<double> upper;
  size_t dim() const noexcept { return lower.size(); }
};

// Why a run ended (run_control.hpp gives the texts).
enum class StopReason : uint8_t { max_generations, converged, max_evals, time_limit, callback };

struct SolverOutcome {
  std::vector<double> x;
  std::vector<double> history;  // best value at the start and after each iteration
  double objective = 0.0;
  uint64_t iterations = 0;  // history length
  uint64_t evaluations = 0;
  bool converged = false;
  StopReason stop = StopReason::max_generations;
  double violation = 0.0;  // total constraint violation of x (0 without constraints)
};

// Steering options of a run (run_control.hpp); a null pointer means none.
struct RunControl;

// A non-owning reference to the objective: one indirect call per evaluation and no
// allocation, so an engine can run any callable (a Python function through the binding, or
// a C++ function) without being a template. The referenced callable must outlive the call.
// The callable may throw to abandon the run (the binding does so when the user interrupts);
// engines hold their state in RAII containers, so they simply let it pass.
class ObjectiveRef {
 public:
  template <class F>
    requires(!std::same_as<std::remove_cvref_t<F>, ObjectiveRef> &&
             std::is_invocable_r_v<double, F&, std::span<const double>>)
  ObjectiveRef(F&& f) noexcept  // NOLINT: implicit on purpose, like a function pointer
      : ctx_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* ctx, std::span<const double> x) -> double {
          return (*static_cast<std::remove_reference_t<F>*>(ctx))(x);
        }) {}

  double operator()(std::span<const double> x) const { return call_(ctx_, x); }

 private:
  void* ctx_;
  double (*call_)(void*, std::span<const double>);
};

// Fills `out` (length n) with a uniform point of the box, coordinate 0 first.
void random_point(SolverRng& rng, const SearchBox& box, std::span<double> out) noexcept;

// max with the lower bound, then min with the upper bound; a NaN operand yields the other one,
// so a NaN coordinate lands on a bound instead of escaping the box. Inline because it runs on
// every coordinate of every trial.
inline void clamp_to_box(std::span<double> point, const SearchBox& box) noexcept {
  for (size_t i = 0; i < point.size(); ++i) {
    double v = point[i];
    if (v < box.lower[i] || v != v) v = box.lower[i];
    if (v > box.upper[i] || v != v) v = box.upper[i];
    point[i] = v;
  }
}

// Largest minus smallest of the last `window` entries, NaN entries skipped (the minimum starts
// at +inf and the maximum at -inf, so an all-NaN window gives -inf).
double window_range(std::span<const double> history, size_t window) noexcept;

// True when the last 10 of more than 10 entries span less than tol (NaN entries skipped).
bool history_stalled(std::span<const double> history, double tol) noexcept;

// The order in which every engine ranks objective values: the usual order on numbers, with NaN
// worse than all of them (+inf included) and equal to itself. A plain `<` would let a NaN seen
// first stay the best forever, and sorting by it is undefined.
inline bool value_less(double a, double b) noexcept { return a < b || (b != b && a == a); }

// Whether `candidate` replaces the current best: strictly better only, so ties keep the
// incumbent; a NaN best gives way to any number and a NaN never replaces a number.
inline bool improves(double best, double candidate) noexcept { return value_less(candidate, best); }

// Selection that accepts ties (a candidate no worse than the incumbent), used where a
// population must keep moving on plateaus; a NaN candidate never takes a place.
inline bool no_worse(double incumbent, double candidate) noexcept {
  return candidate <= incumbent || (incumbent != incumbent && candidate == candidate);
}

// Index of the best value: the first one that no later value improves on.
size_t best_index(std::span<const double> values) noexcept;

// Sorts `order` (indices into `values`) by value_less, keeping equal values in index order.
void sort_by_value(std::vector<size_t>& order, std::span<const double> values);

// Throws std::length_error, before anything is allocated or evaluated, when `count` points of
// n coordinates cannot be held in memory (the binding reports it as MemoryError).
void check_room(uint64_t count, size_t n);

// A non-negative double's integer part as an unsigned count; negative values and NaN give 0,
// values beyond the range saturate (a plain cast of those is undefined).
uint64_t truncate_to_count(double v) noexcept;

struct PsoSettings {
  uint64_t swarm_size = 0;  // S, already resolved by the caller
  uint64_t max_iterations = 1000;
  double tol = 1e-8;
};

// Global-best particle swarm with constriction coefficients and the stall stop. Throws
// std::invalid_argument, before any objective call, when the box is empty (there would be no
// particle to pick a best from) or the swarm is empty.
SolverOutcome pso_engine(ObjectiveRef objective, const SearchBox& box, const PsoSettings& settings,
                         SolverRng& rng, const RunControl* control = nullptr);

struct SaSettings {
  uint64_t max_iterations = 10000;
  double temp_init = 100.0;
  double cooling_rate = 0.999;
};

// Simulated annealing from one random start: Gaussian steps of a tenth of the box width,
// Metropolis acceptance, geometric cooling, stop once the temperature drops below 1e-8.
SolverOutcome sa_engine(ObjectiveRef objective, const SearchBox& box, const SaSettings& settings,
                        SolverRng& rng, const RunControl* control = nullptr);

// The default offspring count of the evolution strategies, 4 + floor(3 ln n) (n = 0 and 1 give 4).
uint64_t default_offspring(size_t n) noexcept;

// Evaluates one generation's candidates side by side (an executor behind the binding):
// values[k] is the objective at points[k*n .. k*n+n). The strategies make every candidate of
// a generation before asking for their values, so the points and the order of the calls are
// those of the one-by-one run.
class CandidateBatch {
 public:
  virtual void evaluate(std::span<const double> points, size_t n, std::span<double> values) = 0;

 protected:
  ~CandidateBatch() = default;
};

struct EsSettings {
  uint64_t lambda = 0;  // offspring per generation, already resolved (at least 2)
  uint64_t max_generations = 1000;
  double sigma = 0.3;  // relative to the box width
  double tol = 1e-8;
};

// Isotropic (mu/mu, lambda) strategy from the box centre with a success-rule step size. Throws
// std::invalid_argument before any objective call when lambda < 2 (no parent to recombine).
// With `batch`, each generation's candidates go to it instead of to `objective` one by one.
SolverOutcome simple_es_engine(ObjectiveRef objective, const SearchBox& box,
                               const EsSettings& settings, SolverRng& rng, CandidateBatch* batch = nullptr,
                               const RunControl* control = nullptr);

struct CmaesSettings {
  uint64_t pop_size = 0;  // lambda; 0 means 4 + floor(3 ln n); at least 4 in any case
  uint64_t max_generations = 1000;  // per run
  double sigma = 0.3;  // absolute initial step size
  double tol = 1e-8;
  uint64_t restarts = 0;  // further runs, each with twice the population of the one before
  uint64_t seed = 42;
};

class Run;

// One run of covariance-matrix adaptation from the box centre (or the run's start point); its
// generator is seeded with `seed` and its evaluation count starts at `evaluations_before`.
// `run` carries the box, the budgets and the evaluation of points across restarts.
SolverOutcome cmaes_engine(Run& run, double sigma0, uint64_t lambda_option,
                           uint64_t max_generations, double tol, uint64_t seed,
                           uint64_t evaluations_before, CandidateBatch* batch = nullptr);

// cmaes_engine with the restart schedule: the outcome of the best run (the first on ties).
SolverOutcome cmaes_restarts(ObjectiveRef objective, const SearchBox& box,
                             const CmaesSettings& settings, CandidateBatch* batch = nullptr,
                             const RunControl* control = nullptr);

// Eigendecomposition of the exactly symmetric n-by-n row-major matrix `a` by cyclic Jacobi
// rotations (at most 100 sweeps, until the off-diagonal norm is below 1e-14). On return `a`
// holds the eigenvalues on its diagonal (in no particular order) and `vectors` the matching
// eigenvectors as columns.
void jacobi_eigen(std::span<double> a, size_t n, std::span<double> vectors);

// DE, particle swarm, evolution strategy and annealing in turn with fixed settings and seeds;
// the outcome of the first stage no later stage beats. Throws std::invalid_argument, before
// any objective call, for an empty box (the budget per stage would divide by zero).
SolverOutcome portfolio(ObjectiveRef objective, const SearchBox& box, uint64_t max_evals);

struct DeSettings {
  uint64_t pop_size = 0;  // NP, already resolved by the caller
  uint64_t max_generations = 1000;
  double f = 0.8;
  double cr = 0.9;
  double tol = 1e-8;
};

// DE/rand/1/bin with in-place population update and the stall stop. Throws
// std::invalid_argument, before any objective call, when the box is empty or NP < 4 (the
// donor draw needs four distinct individuals and would never end).
SolverOutcome de_engine(ObjectiveRef objective, const SearchBox& box, const DeSettings& settings,
                        SolverRng& rng, const RunControl* control = nullptr);

// ---- scenario-based stochastic solve

// The objective of one scenario: term(s, x) is the value of point x in scenario s (a failure
// already scored +inf). Called once per scenario per evaluation, scenarios in list order.
class ScenarioTerms {
 public:
  virtual size_t count() const noexcept = 0;
  virtual double term(size_t scenario, std::span<const double> x) = 0;
  // Every scenario's term of x into out (length count()), in scenario order; an
  // implementation may compute them side by side.
  virtual void all_terms(std::span<const double> x, std::span<double> out) {
    for (size_t s = 0; s < out.size(); ++s) out[s] = term(s, x);
  }

 protected:
  ~ScenarioTerms() = default;
};

// Normalised weights from scenario probabilities (p_s divided by their sum). Throws
// std::invalid_argument for a negative or NaN probability or a sum that is not positive and
// finite. Equal probabilities give an empty vector: the plain mean, computed the plain way, so
// uniform probabilities reproduce a run without them exactly.
std::vector<double> scenario_weights(std::span<const double> probabilities);

// The expected value of x: the plain mean of the terms when `weights` is empty, else their
// weighted sum in scenario order. A scenario of weight zero is still evaluated and does not
// count, except that a +inf term (a failed call) still makes the point +inf.
double scenario_mean(ScenarioTerms& terms, std::span<const double> weights,
                     std::span<const double> x);

struct StochasticSettings {
  uint64_t pop_size = 0;  // NP, already resolved by the caller
  uint64_t max_generations = 500;
};

// DE with F 0.8, CR 0.9 and tol 1e-8 on the expected value; one evaluation per point whatever
// the number of scenarios. Throws std::invalid_argument before any call for an empty scenario
// list (every value would be NaN) and for what de_engine refuses.
SolverOutcome stochastic_engine(ScenarioTerms& terms, std::span<const double> weights,
                                const SearchBox& box, const StochasticSettings& settings,
                                SolverRng& rng, const RunControl* control = nullptr);

}  // namespace velmo::blackbox
