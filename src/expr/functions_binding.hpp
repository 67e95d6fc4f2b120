// The velmo package's expression functions (module velmo._ext): exp, log, tan, atan, tanh,
// abs, power, square, product, dot, quad_form and sum.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

// The functions' table, ending in a null entry.
extern PyMethodDef extension_functions[];

}  // namespace velmo::binding
