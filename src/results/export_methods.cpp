// Binding of the text exports: each text is built under the model's lock and becomes a str
// after the lock is released.
#include "results/export_methods.hpp"

#include "modelling/model_type.hpp"
#include "module/args.hpp"
#include "results/export.hpp"

#include <string>

namespace velmo::binding {
namespace {

template <std::string (*Build)(const ModelData&)>
PyObject* export_text(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      const char* fname) {
  return py::guard([&] {
    py::Args a(fname, {}, 0, args, nargs, kwnames);
    std::string text;
    {
      ModelLock lock(reinterpret_cast<PyModel*>(self)->core);
      text = Build(lock.data());
    }
    return py::str(text).release();
  });
}

}  // namespace

PyObject* model_to_lp(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return export_text<lp_text>(self, args, nargs, kwnames, "to_lp");
}
PyObject* model_summary(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return export_text<summary_text>(self, args, nargs, kwnames, "summary");
}
PyObject* model_to_python(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return export_text<python_text>(self, args, nargs, kwnames, "to_python");
}

}  // namespace velmo::binding
