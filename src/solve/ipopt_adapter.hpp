// The CasADi/Ipopt adapter, in two variants: on the model's own expressions (nonlinear
// models) and on the compiled form alone.
#pragma once

#include "modelling/model_data.hpp"
#include "solve/model.hpp"
#include "solve/records.hpp"
#include "solve/solver_forms.hpp"

#include <string_view>

namespace velmo {

// `model` is given for the expression variant, null for the compiled variant.
BackendOutcome solve_ipopt(const CompiledModel& c, const SolveOptions& options, const ModelData* model);
SolveStatus map_ipopt_status(std::string_view status) noexcept;

}  // namespace velmo
