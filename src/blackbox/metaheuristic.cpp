// Shared black-box helpers, the engines and the stochastic solve built on differential evolution.
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

namespace {

// Throws before anything is allocated or evaluated when `count` points of n coordinates
// cannot be held in memory (the binding reports it as MemoryError).
void check_room(uint64_t count, size_t n) {
  if (n != 0 && count > std::numeric_limits<size_t>::max() / sizeof(double) / n) {
    throw std::length_error("population too large");
  }
}

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

// ---- evolution strategies

uint64_t default_offspring(size_t n) noexcept {
  return 4 + truncate_to_count(3.0 * std::log(static_cast<double>(n)));
}

namespace {
// Whether a selected candidate counts as a success against the best so far (within 1e-12 of it
// when both are feasible; by the feasibility rules otherwise).
bool succeeds(Score candidate, Score best) noexcept {
  if (candidate.violation == 0.0 && best.violation == 0.0) return candidate.value < best.value + 1e-12;
  return !score_less(best, candidate);
}
}  // namespace

SolverOutcome simple_es_engine(ObjectiveRef objective, const SearchBox& search_box,
                               const EsSettings& settings, SolverRng& rng, CandidateBatch* batch,
                               const RunControl* control) {
  const size_t n = search_box.dim();
  const uint64_t lambda = settings.lambda;
  if (lambda < 2) {
    throw std::invalid_argument("pop_size must be 0 (the default size) or at least 2, got " +
                                std::to_string(lambda) +
                                ": the simple variant recombines the better half of the offspring");
  }
  check_room(lambda, n);
  Run run(objective, search_box, control);
  const SearchBox& box = run.box();
  const uint64_t mu = lambda / 2;

  // Everything is allocated before the first call, so a population too large fails cleanly.
  std::vector<double> points(static_cast<size_t>(lambda) * n);
  std::vector<Score> scores(static_cast<size_t>(lambda));
  std::vector<size_t> order(static_cast<size_t>(lambda));
  std::vector<double> mean(n);
  for (size_t j = 0; j < n; ++j) mean[j] = (box.lower[j] + box.upper[j]) * 0.5;
  run.start_point(mean);
  SolverOutcome out;
  const Score start = run.evaluate(mean);
  out.objective = start.value;
  out.violation = start.violation;
  out.evaluations = 1;
  out.x = mean;
  out.history.push_back(out.objective);
  double sigma = settings.sigma;

  std::optional<StopReason> early = run.stop_before_loop();
  if (early) out.stop = *early;
  for (uint64_t g = 0; !early && g < settings.max_generations; ++g) {
    for (uint64_t k = 0; k < lambda; ++k) {
      std::span<double> x = std::span<double>(points).subspan(k * n, n);
      for (size_t j = 0; j < n; ++j) {
        x[j] = mean[j] + sigma * (box.upper[j] - box.lower[j]) * rng.normal();
      }
      clamp_to_box(x, box);
    }
    // A generation the budget cuts short evaluates its first candidates and ends the run.
    const uint64_t count = std::min(lambda, run.remaining());
    run.evaluate_all(points, n, std::span<Score>(scores).first(count), batch);
    out.evaluations += count;
    order.resize(count);
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    sort_by_score(order, scores);
    if (improves(Score{out.objective, out.violation}, scores[order[0]])) {
      std::span<const double> top = std::span<const double>(points).subspan(order[0] * n, n);
      out.x.assign(top.begin(), top.end());
      out.objective = scores[order[0]].value;
      out.violation = scores[order[0]].violation;
    }
    if (count == lambda) {
      const double divisor = static_cast<double>(mu);
      for (size_t j = 0; j < n; ++j) {
        double sum = 0.0;
        for (uint64_t k = 0; k < mu; ++k) sum += points[order[k] * n + j] / divisor;
        mean[j] = sum;
      }
      uint64_t successes = 0;
      for (uint64_t k = 0; k < mu; ++k) {
        if (succeeds(scores[order[k]], Score{out.objective, out.violation})) ++successes;
      }
      const double rate = static_cast<double>(successes) / divisor;
      sigma = rate > 0.2 ? sigma * 1.05 : sigma * 0.95;
      if (sigma < 1e-12) sigma = 1e-12;
      if (sigma > 1.0) sigma = 1.0;
    }
    out.history.push_back(out.objective);
    if (run.end_generation(out, count == lambda && sigma < settings.tol)) break;
  }
  out.iterations = out.history.size();
  run.finish(out);
  return out;
}

void jacobi_eigen(std::span<double> a, size_t n, std::span<double> vectors) {
  // The rotations accumulate into the transpose of the eigenvector matrix, whose rows p and q
  // are contiguous; `a` stays exactly symmetric (both halves get the same value), so its rows
  // serve for reading too. Neither changes a single result, only the memory walk.
  std::vector<double> vt(n * n, 0.0);
  for (size_t i = 0; i < n; ++i) vt[i * n + i] = 1.0;
  for (int sweep = 0; sweep < 100; ++sweep) {
    double off = 0.0;
    for (size_t p = 0; p < n; ++p) {
      for (size_t q = p + 1; q < n; ++q) off += a[p * n + q] * a[p * n + q];
    }
    if (std::sqrt(off) < 1e-14) break;
    for (size_t p = 0; p < n; ++p) {
      for (size_t q = p + 1; q < n; ++q) {
        const double apq = a[p * n + q];
        if (std::fabs(apq) < 1e-300) continue;
        const double app = a[p * n + p];
        const double aqq = a[q * n + q];
        const double theta = (aqq - app) / (2.0 * apq);
        // sign(0) is taken as +1: a zero tangent would leave the entry in place forever.
        const double sign = theta < 0 ? -1.0 : 1.0;
        const double t = sign / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        double* row_p = a.data() + p * n;
        double* row_q = a.data() + q * n;
        for (size_t r = 0; r < n; ++r) {
          if (r == p || r == q) continue;
          const double arp = row_p[r];
          const double arq = row_q[r];
          const double new_p = c * arp - s * arq;
          const double new_q = s * arp + c * arq;
          row_p[r] = a[r * n + p] = new_p;
          row_q[r] = a[r * n + q] = new_q;
        }
        row_p[p] = app - t * apq;
        row_q[q] = aqq + t * apq;
        row_p[q] = row_q[p] = 0.0;
        double* __restrict vp = vt.data() + p * n;
        double* __restrict vq = vt.data() + q * n;
        for (size_t r = 0; r < n; ++r) {
          const double vrp = vp[r];
          const double vrq = vq[r];
          vp[r] = c * vrp - s * vrq;
          vq[r] = s * vrp + c * vrq;
        }
      }
    }
  }
  for (size_t r = 0; r < n; ++r) {
    for (size_t k = 0; k < n; ++k) vectors[r * n + k] = vt[k * n + r];
  }
}

SolverOutcome cmaes_engine(Run& run, double sigma0, uint64_t lambda_option,
                           uint64_t max_generations, double tol, uint64_t seed,
                           uint64_t evaluations_before, CandidateBatch* batch) {
  const SearchBox& box = run.box();
  const size_t n = box.dim();
  const uint64_t lambda =
      std::max<uint64_t>(4, lambda_option != 0 ? lambda_option : default_offspring(n));
  check_room(lambda, n);
  check_room(n, n);
  const uint64_t mu = lambda / 2;
  const double nd = static_cast<double>(n);

  // Strategy constants, once per run.
  std::vector<double> w(static_cast<size_t>(mu));
  double wsum = 0.0;
  for (uint64_t i = 0; i < mu; ++i) {
    w[i] = std::log(static_cast<double>(mu) + 0.5) - std::log(static_cast<double>(i + 1));
    wsum += w[i];
  }
  double wsq = 0.0;
  for (double& wi : w) {
    wi = wi / wsum;
    wsq += wi * wi;
  }
  const double mu_eff = 1.0 / wsq;
  const double c1 = 2.0 / ((nd + 1.3) * (nd + 1.3) + mu_eff);
  const double cmu_rank = 2.0 * (mu_eff - 2.0 + 1.0 / mu_eff) / ((nd + 2.0) * (nd + 2.0) + mu_eff);
  const double c_mu = cmu_rank != cmu_rank ? 1.0 - c1 : std::min(1.0 - c1, cmu_rank);
  const double cc = (4.0 + mu_eff / nd) / (nd + 4.0 + 2.0 * mu_eff / nd);
  const double cs = (mu_eff + 2.0) / (nd + mu_eff + 5.0);
  const double damps = 1.0 + 2.0 * std::max(0.0, std::sqrt((mu_eff - 1.0) / (nd + 1.0)) - 1.0) + cs;
  const double chi_n = std::sqrt(nd) * (1.0 - 1.0 / (4.0 * nd) + 1.0 / (21.0 * nd * nd));
  const uint64_t eigen_interval =
      std::max<uint64_t>(1, truncate_to_count(1.0 / (c1 + c_mu) / nd / 10.0));
  const double hsig_threshold = 1.4 + 2.0 / (nd + 1.0);
  const double path_sigma_scale = std::sqrt(cs * (2.0 - cs) * mu_eff);
  const double path_c_scale = std::sqrt(cc * (2.0 - cc) * mu_eff);

  // Everything is allocated before the first call, so a population too large fails cleanly.
  std::vector<double> p_sigma(n, 0.0);
  std::vector<double> p_c(n, 0.0);
  std::vector<double> cov(n * n, 0.0);
  std::vector<double> basis(n * n, 0.0);
  for (size_t i = 0; i < n; ++i) cov[i * n + i] = basis[i * n + i] = 1.0;
  std::vector<double> axes(n, 1.0);
  const size_t cells = static_cast<size_t>(lambda) * n;
  std::vector<double> xs(cells), zs(cells), ys(cells);
  std::vector<Score> scores(static_cast<size_t>(lambda));
  std::vector<size_t> order(static_cast<size_t>(lambda));
  std::vector<double> scaled(n), new_mean(n), y_w(n), z_w(n), work(n * n);
  uint64_t since_eigen = 0;

  SolverRng rng(seed);
  std::vector<double> mean(n);
  for (size_t j = 0; j < n; ++j) mean[j] = (box.lower[j] + box.upper[j]) * 0.5;
  run.start_point(mean);
  SolverOutcome out;
  const Score start = run.evaluate(mean);
  out.objective = start.value;
  out.violation = start.violation;
  uint64_t evaluations = evaluations_before + 1;
  out.x = mean;
  out.history.push_back(out.objective);
  double sigma = sigma0;

  std::optional<StopReason> early = run.stop_before_loop();
  if (early) out.stop = *early;
  for (uint64_t g = 0; !early && g < max_generations; ++g) {
    for (uint64_t k = 0; k < lambda; ++k) {
      double* z = zs.data() + k * n;
      double* y = ys.data() + k * n;
      std::span<double> x(xs.data() + k * n, n);
      for (size_t j = 0; j < n; ++j) z[j] = rng.normal();
      for (size_t j = 0; j < n; ++j) scaled[j] = axes[j] * z[j];
      for (size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (size_t j = 0; j < n; ++j) sum += basis[i * n + j] * scaled[j];
        y[i] = sum;
        x[i] = mean[i] + sigma * sum;
      }
      clamp_to_box(x, box);
    }
    // A generation the budget cuts short evaluates its first candidates and ends the run.
    const uint64_t count = std::min(lambda, run.remaining());
    run.evaluate_all(xs, n, std::span<Score>(scores).first(count), batch);
    evaluations += count;
    order.resize(count);
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    sort_by_score(order, scores);
    if (improves(Score{out.objective, out.violation}, scores[order[0]])) {
      out.x.assign(xs.data() + order[0] * n, xs.data() + order[0] * n + n);
      out.objective = scores[order[0]].value;
      out.violation = scores[order[0]].violation;
    }
    if (count < lambda) {
      out.history.push_back(out.objective);
      run.end_generation(out, false);
      break;
    }

    for (size_t j = 0; j < n; ++j) {
      double m = 0.0, yw = 0.0, zw = 0.0;
      for (uint64_t i = 0; i < mu; ++i) {
        const size_t k = order[i];
        m += w[i] * xs[k * n + j];
        yw += w[i] * ys[k * n + j];
        zw += w[i] * zs[k * n + j];
      }
      new_mean[j] = m;
      y_w[j] = yw;
      z_w[j] = zw;
    }
    double ps_sq = 0.0;
    for (size_t i = 0; i < n; ++i) {
      double sum = 0.0;
      for (size_t j = 0; j < n; ++j) sum += basis[i * n + j] * z_w[j];
      p_sigma[i] = (1.0 - cs) * p_sigma[i] + path_sigma_scale * sum;
      ps_sq += p_sigma[i] * p_sigma[i];
    }
    const double ps_norm = std::sqrt(ps_sq);
    const double decay =
        std::pow(1.0 - cs, 2.0 * static_cast<double>(evaluations) / static_cast<double>(lambda));
    const double h_sigma = ps_norm / std::sqrt(1.0 - decay) / chi_n < hsig_threshold ? 1.0 : 0.0;
    for (size_t i = 0; i < n; ++i) p_c[i] = (1.0 - cc) * p_c[i] + h_sigma * path_c_scale * y_w[i];

    // Rank-mu part first, then every entry from its own old value (symmetric by construction
    // up to rounding; the decomposition symmetrises).
    std::fill(work.begin(), work.end(), 0.0);
    for (uint64_t i = 0; i < mu; ++i) {
      const double* y = ys.data() + order[i] * n;
      for (size_t a = 0; a < n; ++a) {
        for (size_t b = 0; b < n; ++b) work[a * n + b] += w[i] * y[a] * y[b];
      }
    }
    const double keep = 1.0 - c1 - c_mu;
    const double lost_path = (1.0 - h_sigma) * cc * (2.0 - cc);
    for (size_t a = 0; a < n; ++a) {
      for (size_t b = 0; b < n; ++b) {
        double& c = cov[a * n + b];
        c = keep * c + c1 * (p_c[a] * p_c[b] + lost_path * c) + c_mu * work[a * n + b];
      }
    }
    sigma = sigma * std::exp((ps_norm / chi_n - 1.0) * cs / damps);
    if (sigma < 1e-20) sigma = 1e-20;

    if (++since_eigen >= eigen_interval) {
      since_eigen = 0;
      for (size_t p = 0; p < n; ++p) {
        for (size_t q = p + 1; q < n; ++q) {
          const double m = (cov[p * n + q] + cov[q * n + p]) * 0.5;
          cov[p * n + q] = cov[q * n + p] = m;
        }
      }
      // Rotations work on a copy: C itself keeps accumulating in the search coordinates.
      work = cov;
      jacobi_eigen(work, n, basis);
      for (size_t i = 0; i < n; ++i) axes[i] = std::sqrt(std::max(work[i * n + i], 1e-30));
    }

    mean.swap(new_mean);
    out.history.push_back(out.objective);

    double widest = 0.0;
    for (double d : axes) widest = std::max(widest, d);
    // The value target counts only for a feasible best.
    const bool reached = out.violation == 0.0 && out.objective < tol;
    const bool done =
        widest * sigma < tol || reached ||
        (out.history.size() > 20 && window_range(out.history, 20) < tol * 0.001 && sigma < 1e-6);
    if (run.end_generation(out, done)) break;
  }
  out.evaluations = evaluations;
  out.iterations = out.history.size();
  return out;
}

SolverOutcome cmaes_restarts(ObjectiveRef objective, const SearchBox& box,
                             const CmaesSettings& settings, CandidateBatch* batch,
                             const RunControl* control) {
  Run run(objective, box, control);  // one budget, clock and observer for all the runs
  if (settings.restarts == 0) {
    SolverOutcome out = cmaes_engine(run, settings.sigma, settings.pop_size,
                                     settings.max_generations, settings.tol, settings.seed, 0, batch);
    run.finish(out);
    return out;
  }
  const uint64_t lambda0 = std::max<uint64_t>(
      4, settings.pop_size != 0 ? settings.pop_size : default_offspring(box.dim()));
  SolverOutcome kept;
  uint64_t evaluations = 0;
  for (uint64_t r = 0; r <= settings.restarts; ++r) {
    if (r > 0) {
      // A budget spent exactly by a converged run leaves no room for another start.
      if (const std::optional<StopReason> early = run.stop_before_loop()) {
        kept.stop = *early;
        kept.converged = false;
        kept.evaluations = evaluations;
        break;
      }
    }
    if (r >= 64 || lambda0 > (std::numeric_limits<uint64_t>::max() >> r)) {
      throw std::length_error("population too large");  // lambda0 * 2^r does not fit
    }
    SolverOutcome one = cmaes_engine(run, settings.sigma, lambda0 << r, settings.max_generations,
                                     settings.tol, settings.seed + 7919 * r, evaluations, batch);
    evaluations = one.evaluations;
    const StopReason stop = one.stop;
    if (r == 0 || improves(Score{kept.objective, kept.violation}, Score{one.objective, one.violation})) {
      kept = std::move(one);
    }
    if (kept.violation == 0.0 && kept.objective < settings.tol) break;
    // A spent budget, the time limit or the caller's request ends the whole schedule.
    if (stop == StopReason::max_evals || stop == StopReason::time_limit ||
        stop == StopReason::callback) {
      kept.stop = stop;
      kept.converged = false;
      kept.evaluations = evaluations;
      break;
    }
  }
  // Under a budget the count is what the budget counts: every call of every run made.
  if (control != nullptr && control->max_evals != kNoEvalLimit) kept.evaluations = run.evaluations();
  run.finish(kept);
  return kept;
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
