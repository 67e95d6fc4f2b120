// Binding of the scenario-based stochastic solve.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

extern PyMethodDef stochastic_solve_def;

}  // namespace velmo::binding
