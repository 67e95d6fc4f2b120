// The SciPy SLSQP adapter: scipy.optimize.minimize with method SLSQP on the compiled model.
#pragma once

#include "solve/model.hpp"
#include "solve/records.hpp"
#include "solve/solver_forms.hpp"

#include <cstdint>
#include <optional>

namespace velmo {

BackendOutcome solve_slsqp(const CompiledModel& c, const SolveOptions& options, std::optional<int64_t> maxiter);

}  // namespace velmo
