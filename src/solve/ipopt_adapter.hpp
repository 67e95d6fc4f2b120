// The CasADi/Ipopt adapter, in two variants: on the model's own expressions (nonlinear
// models) and on the compiled form alone; and Bonmin through the same CasADi calls.
#pragma once

#include "modelling/model_data.hpp"
#include "solve/model.hpp"
#include "solve/records.hpp"
#include "solve/solver_forms.hpp"

#include <string_view>

namespace velmo {

enum class NlpSolver : uint8_t { Ipopt, Bonmin };

// `model` is given for the expression variant, null for the compiled variant. Bonmin is the
// same call sequence with a `discrete` flag per column: Ipopt inside a branch and bound.
BackendOutcome solve_nlp(const CompiledModel& c, const SolveOptions& options, const ModelData* model,
                         NlpSolver which);
inline BackendOutcome solve_ipopt(const CompiledModel& c, const SolveOptions& options, const ModelData* model) {
  return solve_nlp(c, options, model, NlpSolver::Ipopt);
}
SolveStatus map_ipopt_status(std::string_view status) noexcept;
SolveStatus map_bonmin_status(std::string_view status) noexcept;

}  // namespace velmo
