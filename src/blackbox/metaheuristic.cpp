// Shared black-box helpers, the differential-evolution engine and the stochastic solve.
#include "blackbox/metaheuristic.hpp"

#include "expr/number_text.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string>

namespace velmo::blackbox {

namespace {

constexpr size_t kStallWindow = 10;
constexpr double kInf = std::numeric_limits<double>::infinity();

}  // namespace

double SolverRng::normal() noexcept {
  double u1 = uniform();
  const double u2 = uniform();
  if (u1 < 1e-15) u1 = 1e-15;  // keeps the logarithm finite
  return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
}

void random_point(SolverRng& rng, const SearchBox& box, std::span<double> out) noexcept {
  for (size_t i = 0; i < out.size(); ++i) {
    const double u = rng.uniform();
    out[i] = (box.upper[i] - box.lower[i]) * u + box.lower[i];
  }
}

bool history_stalled(std::span<const double> history, double tol) noexcept {
  if (history.size() <= kStallWindow) return false;
  double lo = kInf;
  double hi = -kInf;
  for (double v : history.last(kStallWindow)) {  // NaN fails both tests and is skipped
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  // An all-NaN window gives -inf - inf = -inf, which counts as stalled.
  return hi - lo < tol;
}

size_t best_index(std::span<const double> values) noexcept {
  size_t best = 0;
  for (size_t k = 1; k < values.size(); ++k) {
    if (improves(values[best], values[k])) best = k;
  }
  return best;
}

SolverOutcome de_engine(ObjectiveRef objective, const SearchBox& box, const DeSettings& settings,
                        SolverRng& rng) {
  const size_t n = box.dim();
  const uint64_t np = settings.pop_size;
  if (n == 0) {
    throw std::invalid_argument(
        "bounds must contain at least one (lower, upper) pair; differential evolution needs a "
        "dimension of 1 or more");
  }
  if (np < 4) {
    throw std::invalid_argument("pop_size must be 0 (the default size) or at least 4, got " +
                                std::to_string(np) +
                                ": each trial needs three donors distinct from its target");
  }
  if (np > std::numeric_limits<size_t>::max() / sizeof(double) / n) {
    throw std::length_error("population too large");
  }

  std::vector<double> pop(static_cast<size_t>(np) * n);
  std::vector<double> values(static_cast<size_t>(np));
  auto individual = [&](uint64_t k) { return std::span<double>(pop).subspan(k * n, n); };

  // All points are drawn before the first evaluation.
  for (uint64_t k = 0; k < np; ++k) random_point(rng, box, individual(k));
  for (uint64_t k = 0; k < np; ++k) values[k] = objective(individual(k));

  SolverOutcome out;
  out.evaluations = np;
  const size_t first = best_index(values);
  std::span<const double> first_point = individual(first);
  out.x.assign(first_point.begin(), first_point.end());
  out.objective = values[first];
  out.history.push_back(out.objective);

  std::vector<double> trial(n);
  for (uint64_t g = 0; g < settings.max_generations; ++g) {
    for (uint64_t i = 0; i < np; ++i) {
      uint64_t r1;
      do r1 = rng.index_below(np); while (r1 == i);
      uint64_t r2;
      do r2 = rng.index_below(np); while (r2 == i || r2 == r1);
      uint64_t r3;
      do r3 = rng.index_below(np); while (r3 == r2 || r3 == i || r3 == r1);
      const uint64_t jrand = rng.index_below(n);

      std::span<const double> target = individual(i);
      std::span<const double> x1 = individual(r1);
      std::span<const double> x2 = individual(r2);
      std::span<const double> x3 = individual(r3);
      for (size_t j = 0; j < n; ++j) {
        const double u = rng.uniform();  // drawn for every j, also at jrand
        trial[j] = (j == jrand || u < settings.cr) ? x1[j] + settings.f * (x2[j] - x3[j])
                                                   : target[j];
      }
      clamp_to_box(trial, box);

      const double value = objective(trial);
      ++out.evaluations;
      // Ties are accepted so the population keeps moving on plateaus; NaN never wins.
      if (value <= values[i]) {
        std::copy(trial.begin(), trial.end(), individual(i).begin());
        values[i] = value;
        if (improves(out.objective, value)) {
          out.x = trial;
          out.objective = value;
        }
      }
    }
    out.history.push_back(out.objective);
    if (history_stalled(out.history, settings.tol)) {
      out.converged = true;
      break;
    }
  }
  out.iterations = out.history.size();
  return out;
}

// ---- scenario-based stochastic solve

std::vector<double> scenario_weights(std::span<const double> probabilities) {
  double total = 0.0;
  for (size_t s = 0; s < probabilities.size(); ++s) {
    const double p = probabilities[s];
    if (p < 0.0 || p != p) {
      throw std::invalid_argument("scenario probabilities must be non-negative numbers, got " +
                                  number_text(p) + " in scenario " + std::to_string(s));
    }
    total += p;
  }
  if (!(total > 0.0 && total < kInf)) {
    throw std::invalid_argument("scenario probabilities must sum to a positive finite number, got " +
                                number_text(total));
  }
  const bool uniform = std::all_of(probabilities.begin(), probabilities.end(),
                                   [&](double p) { return p == probabilities[0]; });
  std::vector<double> weights;
  if (uniform) return weights;
  weights.reserve(probabilities.size());
  for (double p : probabilities) weights.push_back(p / total);
  return weights;
}

double scenario_mean(ScenarioTerms& terms, std::span<const double> weights,
                     std::span<const double> x) {
  const size_t n = terms.count();
  // Per evaluation: a scenario call may itself run a stochastic solve on this thread.
  std::vector<double> t(n);
  terms.all_terms(x, t);
  double sum = 0.0;
  if (weights.empty()) {
    for (size_t s = 0; s < n; ++s) sum += t[s];
    return sum / static_cast<double>(n);
  }
  bool failed = false;
  for (size_t s = 0; s < n; ++s) {
    if (weights[s] != 0.0) {
      sum += weights[s] * t[s];
    } else if (t[s] == kInf) {
      failed = true;  // 0 * inf would be NaN; a failure counts in any scenario
    }
  }
  return failed ? sum + kInf : sum;
}

SolverOutcome stochastic_engine(ScenarioTerms& terms, std::span<const double> weights,
                                const SearchBox& box, const StochasticSettings& settings,
                                SolverRng& rng) {
  if (terms.count() == 0) throw std::invalid_argument("scenarios must not be empty");
  if (!weights.empty() && weights.size() != terms.count()) {
    throw std::invalid_argument("one weight per scenario is needed");
  }
  DeSettings de;
  de.pop_size = settings.pop_size;
  de.max_generations = settings.max_generations;
  auto expected = [&](std::span<const double> x) { return scenario_mean(terms, weights, x); };
  return de_engine(expected, box, de, rng);
}

}  // namespace velmo::blackbox
