// Which solver a model goes to, and whether that solver can take all of it.
#pragma once

#include "modelling/model_data.hpp"

#include <optional>
#include <string>

namespace velmo {

// The solver for a model when none is forced: any cone gives "clarabel"; otherwise LP and MILP
// "highs", QP "osqp", NLP "ipopt", and a quadratic or nonlinear model with an integer
// variable "bonmin" (HiGHS refuses mixed-integer QPs; Ipopt ignores integrality).
std::string automatic_solver(const ModelData& m);

// The display name of the adapter a solver name runs ("HiGHS" for names without their own).
const char* solver_display_name(const std::string& solver) noexcept;

// Whether the model has a nonlinear constraint with a nonlinear term or a nonlinear objective
// with one (the two rules that make a model NLP).
bool needs_expressions(const ModelData& m);

// The refusal message when `solver` (lower-cased; unknown names stand for HiGHS) would have
// to drop part of the model: its cones or its nonlinear terms. Integrality is not such a
// part: a continuous solver runs the relaxation.
std::optional<std::string> refusal(const std::string& solver, const ModelData& m);

}  // namespace velmo
