// Model.to_lp, Model.summary and Model.to_python: the text exports as Model methods.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

PyObject* model_to_lp(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* model_summary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* model_to_python(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace velmo::binding
