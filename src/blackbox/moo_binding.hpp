// Binding of the multi-objective solver: the module function pareto_frontier.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

extern PyMethodDef pareto_frontier_def;

}  // namespace velmo::binding
