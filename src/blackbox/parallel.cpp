// Scaled-form consensus ADMM over caller-supplied local steps.
#include "blackbox/parallel.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

namespace velmo::blackbox {

namespace {

// Zero-filling touches every page, so vectors larger than the machine's memory would not fail
// to allocate (the system promises address space freely) but get the process killed once
// written. Refusing them up front turns that into an ordinary allocation failure.
void check_fits_in_memory(uint64_t doubles) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return;  // unknown: leave it to the allocator
  const uint64_t bytes = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
  if (doubles > bytes / sizeof(double)) throw std::bad_alloc();
}

}  // namespace

AdmmOutcome admm_consensus(LocalSteps& steps, const AdmmSettings& settings) {
  const size_t n = steps.count();
  const uint64_t dim = settings.dim;
  const double rho = settings.rho;
  // x_i and u_i for every subproblem plus z, z_old and the target, checked before allocating.
  constexpr uint64_t kMaxDoubles = std::numeric_limits<size_t>::max() / sizeof(double);
  if (dim > kMaxDoubles / 4 || (n != 0 && dim * 2 > (kMaxDoubles - dim * 3) / n)) {
    throw std::length_error("consensus vectors too large");
  }
  const bool batched = steps.batched();
  check_fits_in_memory(((batched ? 3 : 2) * n + 3) * dim);
  AdmmOutcome out;
  out.z.assign(dim, 0.0);
  std::vector<double> z_old(dim);
  std::vector<double> target(dim);
  std::vector<double> xs(n * dim, 0.0);
  std::vector<double> us(n * dim, 0.0);
  std::vector<double> targets(batched ? n * dim : 0);  // every subproblem's target at once
  std::vector<char> ok(batched ? n : 0);
  auto local = [&](std::vector<double>& v, size_t i) {
    return std::span<double>(v).subspan(i * dim, dim);
  };
  const double count = static_cast<double>(n);
  std::vector<double>& z = out.z;

  for (uint64_t k = 1; k <= settings.max_iter; ++k) {
    std::copy(z.begin(), z.end(), z_old.begin());
    bool failed = false;  // a failed subproblem's zeros say nothing about convergence
    // Every subproblem sees the same z and the duals of the previous iteration.
    if (batched) {
      for (size_t i = 0; i < n; ++i) {
        std::span<double> u = local(us, i);
        std::span<double> t = local(targets, i);
        for (size_t j = 0; j < dim; ++j) t[j] = z[j] - u[j];
      }
      steps.solve_all(rho, targets, xs, dim, ok);
      for (size_t i = 0; i < n; ++i) {
        if (ok[i]) continue;
        std::fill(local(xs, i).begin(), local(xs, i).end(), 0.0);
        failed = true;
      }
    } else {
      for (size_t i = 0; i < n; ++i) {
        std::span<double> u = local(us, i);
        for (size_t j = 0; j < dim; ++j) target[j] = z[j] - u[j];
        std::span<double> x = local(xs, i);
        if (!steps.solve(i, rho, target, x)) {
          std::fill(x.begin(), x.end(), 0.0);
          failed = true;
        }
      }
    }
    for (size_t j = 0; j < dim; ++j) {
      double sum = 0.0;
      for (size_t i = 0; i < n; ++i) sum += xs[i * dim + j] + us[i * dim + j];
      z[j] = sum / count;  // 0/0 = NaN without subproblems, which never converges
    }
    double primal = 0.0;
    for (size_t i = 0; i < n; ++i) {
      std::span<double> x = local(xs, i);
      std::span<double> u = local(us, i);
      for (size_t j = 0; j < dim; ++j) {
        u[j] = u[j] + x[j] - z[j];
        const double d = x[j] - z[j];
        primal += d * d;
      }
    }
    double dual = 0.0;
    for (size_t j = 0; j < dim; ++j) {
      const double d = rho * count * (z[j] - z_old[j]);
      dual += d * d;
    }
    out.primal_residual = std::sqrt(primal);
    out.dual_residual = std::sqrt(dual);
    out.iterations = k;
    if (!failed && out.primal_residual < settings.tol && out.dual_residual < settings.tol) {
      out.converged = true;
      break;
    }
  }
  return out;
}

}  // namespace velmo::blackbox
