// Submitting independent evaluations to an executor and collecting them in order.
#include "blackbox/executor.hpp"

#include "module/args.hpp"
#include "solve/arrays.hpp"

#include <limits>
#include <string>

namespace velmo::binding {

using py::Ref;

std::optional<Executor> Executor::from_option(PyObject* value, const char* fname) {
  if (value == nullptr || value == Py_None) return std::nullopt;
  PyObject* submit = PyObject_GetAttrString(value, "submit");
  if (submit == nullptr || !PyCallable_Check(submit)) {
    Py_XDECREF(submit);
    PyErr_Clear();
    py::raise(PyExc_TypeError, std::string(fname) + "(): argument 'executor' must have a submit(fn, *args) method "
                                   "(a concurrent.futures executor), not " + py::type_name(value));
  }
  Ref hold = Ref::steal(submit);
  // The wrapper lives in a Python module so that process pools can pickle it by name.
  Ref wrapper = pycall::attr(pycall::import("velmo._executor_call").get(), "call_catching");
  return Executor(Ref::borrow(value), std::move(hold), std::move(wrapper));
}

void Executor::check_sendable(PyObject* fn, const char* what) const {
  Ref futures = pycall::import("concurrent.futures");
  Ref process_pool = pycall::attr(futures.get(), "ProcessPoolExecutor");
  const int is_pool = PyObject_IsInstance(executor_.get(), process_pool.get());
  if (is_pool < 0) throw py::ErrorAlreadySet{};
  if (is_pool == 0) return;
  Ref pickle = pycall::import("pickle");
  Ref dumps = pycall::attr(pickle.get(), "dumps");
  PyObject* done = PyObject_CallFunctionObjArgs(dumps.get(), fn, static_cast<PyObject*>(nullptr));
  if (done != nullptr) {
    Py_DECREF(done);
    return;
  }
  // Keep the pickler's exception type; say what could not be sent and why it must be.
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  PyErr_NormalizeException(&type, &value, &trace);
  Ref t = Ref::steal(type), v = Ref::steal(value), tb = Ref::steal(trace);
  Ref text = Ref::steal(v ? PyObject_Str(v.get()) : nullptr);
  PyErr_Clear();
  std::string message = std::string(what) +
                        " cannot be sent to the process pool's workers, which need to pickle it "
                        "(define it at module level, not as a lambda or a local function): ";
  if (text) message += py::utf8(text.get());
  PyErr_SetString(t ? t.get() : PyExc_TypeError, message.c_str());
  throw py::ErrorAlreadySet{};
}

void Executor::submit(PyObject* fn, std::initializer_list<PyObject*> args) {
  // submit(call_catching, fn, *args): the wrapper, the function, then the call's arguments.
  Ref all = py::check(PyTuple_New(static_cast<Py_ssize_t>(args.size() + 2)));
  PyTuple_SetItem(all.get(), 0, wrapper_.copy().release());
  PyTuple_SetItem(all.get(), 1, Ref::borrow(fn).release());
  Py_ssize_t k = 2;
  for (PyObject* a : args) PyTuple_SetItem(all.get(), k++, Ref::borrow(a).release());
  futures_.push_back(py::check(PyObject_Call(submit_.get(), all.get(), nullptr)));
}

PyObject* Executor::result_of(PyObject* future) noexcept {
  return PyObject_CallMethod(future, "result", nullptr);
}

PyObject* Executor::call_answer(PyObject* outcome) {
  if (PyTuple_Check(outcome) && PyTuple_Size(outcome) == 2 && PyBool_Check(PyTuple_GetItem(outcome, 0))) {
    return PyTuple_GetItem(outcome, 0) == Py_True ? PyTuple_GetItem(outcome, 1) : nullptr;
  }
  py::raise(PyExc_TypeError, "the executor's future returned " + py::type_name(outcome) +
                                 ", not the outcome of the submitted call: the executor did not run it as given");
}

void Executor::cancel_from(std::vector<Ref>& futures, size_t from) noexcept {
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  for (size_t k = from; k < futures.size(); ++k) {
    PyObject* r = PyObject_CallMethod(futures[k].get(), "cancel", nullptr);
    Py_XDECREF(r);
    PyErr_Clear();
  }
  PyErr_Restore(type, value, trace);
}

double score_answer(PyObject* answer) {
  if (answer == nullptr) return std::numeric_limits<double>::infinity();
  const double v = PyFloat_AsDouble(answer);
  if (v == -1.0 && PyErr_Occurred()) {
    if (py::stop_requested()) throw py::ErrorAlreadySet{};
    PyErr_Clear();
    return std::numeric_limits<double>::infinity();
  }
  return v;
}

}  // namespace velmo::binding
