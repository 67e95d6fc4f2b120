// The SciPy SLSQP adapter: scipy.optimize.minimize with method SLSQP on the compiled model.
#pragma once

#include "solve/model.hpp"
#include "solve/records.hpp"
#include "solve/sparse.hpp"

#include <cstdint>
#include <optional>

namespace velmo {

// SciPy reads its iteration cap as a C int, so a larger one would mean no iterations at all.
constexpr int64_t kMaxSlsqpIterations = 2147483647;

// The cap a time limit stands for: 100 iterations a second, truncated, within 0..2^31-1
// (NaN gives 0).
int64_t slsqp_iteration_cap(double time_limit) noexcept;

// The full symmetric matrix of the compiled (upper-triangle) Hessian, so that ½xᵀPx is the
// model's quadratic part with every cross term whole.
Csc symmetric_hessian(const Hessian& h, size_t n);

BackendOutcome solve_slsqp(const CompiledModel& c, const SolveOptions& options, std::optional<int64_t> maxiter);

}  // namespace velmo
