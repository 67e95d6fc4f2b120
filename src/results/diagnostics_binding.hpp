// The Python entry points of the diagnostics, for the method tables of Model and Result.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

PyObject* model_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* result_infeasibility_report(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* result_sensitivity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* result_why(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* result_why_detail(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace velmo::binding
