// The OSQP adapter: the compiled model as min ½xᵀPx + qᵀx s.t. l <= Ax <= u, with the
// variable bounds appended to A as an identity block.
#pragma once

#include "solve/model.hpp"
#include "solve/records.hpp"

#include <string_view>

namespace velmo {

BackendOutcome solve_osqp(const CompiledModel& c, const SolveOptions& options);
SolveStatus map_osqp_status(std::string_view status) noexcept;

}  // namespace velmo
