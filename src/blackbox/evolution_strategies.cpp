// The evolution strategies: the isotropic (mu/mu, lambda) strategy, CMA-ES with its restart
// schedule, and the Jacobi eigendecomposition CMA-ES uses.
#include "blackbox/metaheuristic.hpp"

#include "blackbox/run_control.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace velmo::blackbox {

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

// Both strategies start at the centre of the box: its score is the run's first value.
SolverOutcome start_at_centre(Run& run, std::vector<double>& mean) {
  const SearchBox& box = run.box();
  for (size_t j = 0; j < mean.size(); ++j) mean[j] = (box.lower[j] + box.upper[j]) * 0.5;
  run.start_point(mean);
  SolverOutcome out;
  const Score start = run.evaluate(mean);
  out.objective = start.value;
  out.violation = start.violation;
  out.x = mean;
  out.history.push_back(out.objective);
  return out;
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
  SolverOutcome out = start_at_centre(run, mean);
  out.evaluations = 1;
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
  SolverOutcome out = start_at_centre(run, mean);
  uint64_t evaluations = evaluations_before + 1;
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

}  // namespace velmo::blackbox
