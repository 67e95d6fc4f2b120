// Shared black-box helpers, the swarm, annealing, differential evolution, the portfolio and the
// stochastic solve built on differential evolution (the evolution strategies have a file of their own).
#include "blackbox/metaheuristic.hpp"

#include "blackbox/run_control.hpp"

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

double window_range(std::span<const double> history, size_t window) noexcept {
  double lo = kInf;
  double hi = -kInf;
  for (double v : history.last(std::min(window, history.size()))) {  // NaN fails both tests
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  return hi - lo;
}

bool history_stalled(std::span<const double> history, double tol) noexcept {
  if (history.size() <= kStallWindow) return false;
  // An all-NaN window gives -inf - inf = -inf, which counts as stalled.
  return window_range(history, kStallWindow) < tol;
}

size_t best_index(std::span<const double> values) noexcept {
  size_t best = 0;
  for (size_t k = 1; k < values.size(); ++k) {
    if (improves(values[best], values[k])) best = k;
  }
  return best;
}

void sort_by_value(std::vector<size_t>& order, std::span<const double> values) {
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return value_less(values[a], values[b]); });
}

uint64_t truncate_to_count(double v) noexcept {
  if (!(v >= 1.0)) return 0;  // also NaN
  if (v >= 0x1p64) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(v);
}

void check_room(uint64_t count, size_t n) {
  if (n != 0 && count > std::numeric_limits<size_t>::max() / sizeof(double) / n) {
    throw std::length_error("population too large");
  }
}

namespace {

[[noreturn]] void refuse_empty_box(const char* what) {
  throw std::invalid_argument(
      std::string("bounds must contain at least one (lower, upper) pair; ") + what +
      " needs a dimension of 1 or more");
}

}  // namespace

// ---- particle swarm

SolverOutcome pso_engine(ObjectiveRef objective, const SearchBox& search_box,
                         const PsoSettings& settings, SolverRng& rng, const RunControl* control) {
  constexpr double kInertia = 0.7298;
  constexpr double kCognitive = 1.49618;
  constexpr double kSocial = 1.49618;
  const size_t n = search_box.dim();
  const uint64_t swarm = settings.swarm_size;
  if (n == 0) refuse_empty_box("particle swarm");
  if (swarm == 0) throw std::invalid_argument("pop_size must give at least one particle");
  check_room(swarm, n);
  Run run(objective, search_box, control);
  const SearchBox& box = run.box();

  const size_t cells = static_cast<size_t>(swarm) * n;
  std::vector<double> pos(cells);
  std::vector<double> vel(cells);
  auto row = [n](std::vector<double>& m, uint64_t k) {
    return std::span<double>(m).subspan(k * n, n);
  };

  for (uint64_t k = 0; k < swarm; ++k) random_point(rng, box, row(pos, k));
  // Velocities only after all positions, so positions match a plain random population.
  for (uint64_t k = 0; k < swarm; ++k) {
    for (size_t j = 0; j < n; ++j) {
      vel[k * n + j] = (rng.uniform() - 0.5) * (box.upper[j] - box.lower[j]) * 0.1;
    }
  }
  run.start_point(row(pos, 0));  // after every draw, so the others do not shift
  std::vector<Score> best_scores(static_cast<size_t>(swarm));
  const uint64_t first_count = std::min(swarm, run.remaining());
  for (uint64_t k = 0; k < first_count; ++k) best_scores[k] = run.evaluate(row(pos, k));
  std::vector<double> best_pos = pos;

  SolverOutcome out;
  out.evaluations = first_count;
  const size_t first = best_index(std::span<const Score>(best_scores).first(first_count));
  std::span<const double> first_point = row(pos, first);
  out.x.assign(first_point.begin(), first_point.end());
  out.objective = best_scores[first].value;
  out.violation = best_scores[first].violation;
  out.history.push_back(out.objective);

  std::optional<StopReason> early = run.stop_before_loop();
  if (early) out.stop = *early;
  for (uint64_t t = 0; !early && t < settings.max_iterations; ++t) {
    for (uint64_t i = 0; i < swarm && !run.exhausted(); ++i) {
      std::span<double> x = row(pos, i);
      std::span<double> v = row(vel, i);
      std::span<const double> own = row(best_pos, i);
      for (size_t j = 0; j < n; ++j) {
        const double r1 = rng.uniform();
        const double r2 = rng.uniform();
        v[j] = kInertia * v[j] + kCognitive * r1 * (own[j] - x[j]) +
               kSocial * r2 * (out.x[j] - x[j]);
        x[j] = x[j] + v[j];
      }
      clamp_to_box(x, box);  // the velocity keeps pointing where the particle was heading
      const Score score = run.evaluate(x);
      ++out.evaluations;
      if (improves(best_scores[i], score)) {
        std::copy(x.begin(), x.end(), row(best_pos, i).begin());
        best_scores[i] = score;
        // Updated at once, so later particles of this iteration already follow it.
        if (improves(Score{out.objective, out.violation}, score)) {
          out.x.assign(x.begin(), x.end());
          out.objective = score.value;
          out.violation = score.violation;
        }
      }
    }
    out.history.push_back(out.objective);
    if (run.end_generation(out, history_stalled(out.history, settings.tol))) break;
  }
  out.iterations = out.history.size();
  run.finish(out);
  return out;
}

// ---- simulated annealing

SolverOutcome sa_engine(ObjectiveRef objective, const SearchBox& search_box,
                        const SaSettings& settings, SolverRng& rng, const RunControl* control) {
  constexpr double kFloor = 1e-8;
  const size_t n = search_box.dim();
  Run run(objective, search_box, control);
  const SearchBox& box = run.box();
  // Constraints enter annealing as a penalty: the violation added to the objective. Without
  // constraints nothing is added (0.0 would turn a -0.0 value into +0.0).
  auto penalised = [&](Score s) { return run.constrained() ? s.value + s.violation : s.value; };
  std::vector<double> current(n);
  random_point(rng, box, current);
  run.start_point(current);
  Score current_score = run.evaluate(current);
  double current_value = penalised(current_score);

  SolverOutcome out;
  out.evaluations = 1;
  out.x = current;
  out.objective = current_score.value;
  out.violation = current_score.violation;
  double best_value = current_value;
  out.history.push_back(out.objective);

  double temperature = settings.temp_init;
  std::vector<double> candidate(n);
  std::optional<StopReason> early = run.stop_before_loop();
  if (early) out.stop = *early;
  for (uint64_t k = 0; !early && k < settings.max_iterations; ++k) {
    // The step does not shrink with the temperature; only the acceptance does.
    for (size_t j = 0; j < n; ++j) {
      candidate[j] = current[j] + (box.upper[j] - box.lower[j]) * 0.1 * rng.normal();
    }
    clamp_to_box(candidate, box);
    const Score score = run.evaluate(candidate);
    const double value = penalised(score);
    ++out.evaluations;

    bool accept;
    if (current_value != current_value && value == value) {
      accept = true;  // any number beats a NaN position, without a draw
    } else {
      const double delta = value - current_value;
      // A NaN delta (both +inf, or a NaN candidate) still costs its draw and is refused.
      accept = delta < 0 || rng.uniform() < std::exp(-delta / temperature);
    }
    if (accept) {
      current.swap(candidate);
      current_value = value;
      if (improves(best_value, value)) {
        out.x = current;
        out.objective = score.value;
        out.violation = score.violation;
        best_value = value;
      }
    }
    temperature = temperature * settings.cooling_rate;
    out.history.push_back(out.objective);
    if (run.end_generation(out, temperature < kFloor)) break;
  }
  out.converged = temperature < kFloor;
  if (out.converged) out.stop = StopReason::converged;
  out.iterations = out.history.size();
  run.finish(out);
  return out;
}

// ---- portfolio

SolverOutcome portfolio(ObjectiveRef objective, const SearchBox& box, uint64_t max_evals) {
  const uint64_t n = box.dim();
  if (n == 0) refuse_empty_box("the portfolio");
  const uint64_t generations = std::max<uint64_t>(50, max_evals / (10 * n));

  SolverOutcome stages[4];
  {
    DeSettings de{
        .pop_size = 10 * n, .max_generations = generations, .f = 0.8, .cr = 0.9, .tol = 1e-8};
    SolverRng rng(42);
    stages[0] = de_engine(objective, box, de, rng);
  }
  {
    PsoSettings pso{
        .swarm_size = std::min<uint64_t>(20, 10 * n), .max_iterations = generations, .tol = 1e-8};
    SolverRng rng(137);
    stages[1] = pso_engine(objective, box, pso, rng);
  }
  {
    EsSettings es{.lambda = std::max<uint64_t>(5, default_offspring(n)),
                  .max_generations = generations, .sigma = 0.3, .tol = 1e-8};
    SolverRng rng(271);
    stages[2] = simple_es_engine(objective, box, es, rng);
  }
  {
    SaSettings sa{.max_iterations = 10 * generations, .temp_init = 100.0, .cooling_rate = 0.999};
    SolverRng rng(314);
    stages[3] = sa_engine(objective, box, sa, rng);
  }
  size_t chosen = 0;  // ties keep the earlier stage
  for (size_t k = 1; k < 4; ++k) {
    if (improves(stages[chosen].objective, stages[k].objective)) chosen = k;
  }
  return std::move(stages[chosen]);
}

// ---- differential evolution

SolverOutcome de_engine(ObjectiveRef objective, const SearchBox& search_box,
                        const DeSettings& settings, SolverRng& rng, const RunControl* control) {
  const size_t n = search_box.dim();
  const uint64_t np = settings.pop_size;
  if (n == 0) refuse_empty_box("differential evolution");
  if (np < 4) {
    throw std::invalid_argument("pop_size must be 0 (the default size) or at least 4, got " +
                                std::to_string(np) +
                                ": each trial needs three donors distinct from its target");
  }
  check_room(np, n);
  Run run(objective, search_box, control);
  const SearchBox& box = run.box();

  std::vector<double> pop(static_cast<size_t>(np) * n);
  std::vector<Score> scores(static_cast<size_t>(np));
  auto individual = [&](uint64_t k) { return std::span<double>(pop).subspan(k * n, n); };

  // All points are drawn before the first evaluation; a start point takes the first place
  // without shifting the draws of the others.
  for (uint64_t k = 0; k < np; ++k) random_point(rng, box, individual(k));
  run.start_point(individual(0));
  const uint64_t first_count = std::min(np, run.remaining());
  for (uint64_t k = 0; k < first_count; ++k) scores[k] = run.evaluate(individual(k));

  SolverOutcome out;
  out.evaluations = first_count;
  const size_t first = best_index(std::span<const Score>(scores).first(first_count));
  std::span<const double> first_point = individual(first);
  out.x.assign(first_point.begin(), first_point.end());
  out.objective = scores[first].value;
  out.violation = scores[first].violation;
  out.history.push_back(out.objective);

  std::optional<StopReason> early = run.stop_before_loop();
  if (early) out.stop = *early;
  std::vector<double> trial(n);
  for (uint64_t g = 0; !early && g < settings.max_generations; ++g) {
    for (uint64_t i = 0; i < np && !run.exhausted(); ++i) {
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

      const Score score = run.evaluate(trial);
      ++out.evaluations;
      // Ties are accepted so the population keeps moving on plateaus.
      if (no_worse(scores[i], score)) {
        std::copy(trial.begin(), trial.end(), individual(i).begin());
        scores[i] = score;
        if (improves(Score{out.objective, out.violation}, score)) {
          out.x = trial;
          out.objective = score.value;
          out.violation = score.violation;
        }
      }
    }
    out.history.push_back(out.objective);
    if (run.end_generation(out, history_stalled(out.history, settings.tol))) break;
  }
  out.iterations = out.history.size();
  run.finish(out);
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
                                SolverRng& rng, const RunControl* control) {
  if (terms.count() == 0) throw std::invalid_argument("scenarios must not be empty");
  if (!weights.empty() && weights.size() != terms.count()) {
    throw std::invalid_argument("one weight per scenario is needed");
  }
  DeSettings de;
  de.pop_size = settings.pop_size;
  de.max_generations = settings.max_generations;
  auto expected = [&](std::span<const double> x) { return scenario_mean(terms, weights, x); };
  return de_engine(expected, box, de, rng, control);
}

}  // namespace velmo::blackbox
