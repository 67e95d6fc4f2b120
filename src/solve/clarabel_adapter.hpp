// The Clarabel adapter: the compiled model as min ½xᵀPx + qᵀx s.t. Ax + s = b, s in a product
// of cones (equalities, then one-sided rows and variable bounds, then the model's own cones).
#pragma once

#include "solve/model.hpp"
#include "solve/records.hpp"
#include "solve/solver_forms.hpp"

#include <string_view>

namespace velmo {

BackendOutcome solve_clarabel(const CompiledModel& c, const SolveOptions& options);
SolveStatus map_clarabel_status(std::string_view status) noexcept;

}  // namespace velmo
