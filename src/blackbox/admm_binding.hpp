// Binding of the consensus ADMM solver.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

extern PyMethodDef solve_admm_def;

}  // namespace velmo::binding
