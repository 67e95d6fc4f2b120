// The infeasibility report's solver path: when bound propagation shows no conflict, HiGHS
// looks for an irreducible infeasible subsystem in the Result's copy of the model.
#pragma once

#include "results/exact_iis.hpp"
#include "results/result.hpp"

namespace velmo::binding {

// The subsystem HiGHS finds in `r`'s stored rows and variables (integrality relaxed first;
// a deletion filter over MIP solves when only the integer model is infeasible). A model
// HiGHS refuses (NaN data) gives the empty report.
diagnostics::ExactReport exact_subsystem(const ResultRecord& r);

// Propagation's subsystem, checked member by member on HiGHS: it stands as found unless some
// member is not needed, and then the members HiGHS shows needed are reported.
diagnostics::ExactReport confirmed_subsystem(const ResultRecord& r, diagnostics::Subsystem&& found);

}  // namespace velmo::binding
