// Model.solve: options, classification, solver choice, the LP-relaxation shortcut and
// dispatch to an adapter.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

PyObject* model_solve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace velmo::binding
