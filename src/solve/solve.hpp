// Model.solve (options, classification, solver choice, the LP-relaxation shortcut, dispatch)
// and the one-line solve functions.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

PyObject* model_solve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The module functions minimize and maximize: a throw-away model solved in one call.
extern PyMethodDef minimize_def;
extern PyMethodDef maximize_def;

}  // namespace velmo::binding
