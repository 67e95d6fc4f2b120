// Python-free black-box machinery: random numbers, boxes, outcomes, shared search helpers, the
// differential-evolution engine and the scenario-based stochastic solve built on it.
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

struct SolverOutcome {
  std::vector<double> x;
  std::vector<double> history;  // best value at the start and after each iteration
  double objective = 0.0;
  uint64_t iterations = 0;  // history length
  uint64_t evaluations = 0;
  bool converged = false;
};

// A non-owning reference to the objective: one indirect call per evaluation and no
// allocation, so an engine can run any callable (a Python function through the binding, or
// a C++ function) without being a template. The referenced callable must outlive the call.
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

// True when the last 10 of more than 10 entries span less than tol (NaN entries skipped).
bool history_stalled(std::span<const double> history, double tol) noexcept;

// Index of the best value: the first minimum, moving only on a strictly smaller value, so a
// leading NaN stays chosen and a later NaN never is.
size_t best_index(std::span<const double> values) noexcept;

// Whether `candidate` replaces the current best (strictly smaller only; never after NaN).
inline bool improves(double best, double candidate) noexcept { return best > candidate; }

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
                        SolverRng& rng);

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
                                SolverRng& rng);

}  // namespace velmo::blackbox
