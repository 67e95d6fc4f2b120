// Model.write: the model as an LP or MPS file.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

PyObject* model_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace velmo::binding
