// Reading the steering options of black-box runs and calling the Python callback and
// constraint function.
#include "blackbox/run_options.hpp"

#include "module/args.hpp"
#include "solve/arrays.hpp"

#include <cmath>
#include <limits>
#include <string>

namespace velmo::binding {

using py::Ref;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The value of `key` (borrowed); None counts as absent, as a default argument would.
PyObject* given(PyObject* kwargs, const char* key) {
  PyObject* v = kwargs != nullptr ? PyDict_GetItemString(kwargs, key) : nullptr;
  return v == Py_None ? nullptr : v;
}

[[noreturn]] void raise_value(const char* fname, const std::string& text) {
  py::raise(PyExc_ValueError, std::string(fname) + "(): " + text);
}

// A sequence (not a str) as n floats, or the binding's TypeError naming the key.
std::vector<double> float_items(PyObject* o, const char* fname, const char* key) {
  const std::vector<Ref> items = py::to_object_list(o, fname, key);
  std::vector<double> out;
  out.reserve(items.size());
  for (const Ref& item : items) out.push_back(py::to_real(item.get(), fname, key));
  return out;
}

uint64_t positive_count(PyObject* o, const char* fname, const char* key) {
  if (PyLong_Check(o) && !PyBool_Check(o)) {
    Ref zero = py::check(PyLong_FromLong(0));
    const int not_positive = PyObject_RichCompareBool(o, zero.get(), Py_LE);
    if (not_positive < 0) throw py::ErrorAlreadySet{};
    if (not_positive) raise_value(fname, std::string("argument '") + key + "' must be a positive integer");
  }
  const uint64_t v = py::to_u64(o, fname, key);
  if (v == 0) raise_value(fname, std::string("argument '") + key + "' must be a positive integer");
  return v;
}

PyObject* callable(PyObject* o, const char* fname, const char* key) {
  if (PyCallable_Check(o) == 0) {
    py::raise(PyExc_TypeError, std::string(fname) + "(): argument '" + key +
                                   "' must be callable, not " + py::type_name(o));
  }
  return o;
}

Ref float_obj_list(std::span<const double> values) { return py::float_list(values); }

void set_item(PyObject* dict, const char* key, Ref value) {
  py::check_status(PyDict_SetItemString(dict, key, value.get()));
}

}  // namespace

bool PyObserver::stop_after(const blackbox::Progress& progress) {
  const pycall::GilEnsure gil;
  Ref info = py::check(PyDict_New());
  set_item(info.get(), "generation", py::check(PyLong_FromUnsignedLongLong(progress.generation)));
  set_item(info.get(), "evaluations", py::check(PyLong_FromUnsignedLongLong(progress.evaluations)));
  if (progress.m == 0) {
    set_item(info.get(), "best_x", float_obj_list(progress.best_x));
    set_item(info.get(), "best_value", py::float_obj(progress.best.value));
  } else {
    const size_t count = progress.front.size() / progress.m;
    Ref front = py::check(PyList_New(static_cast<Py_ssize_t>(count)));
    for (size_t k = 0; k < count; ++k) {
      PyList_SetItem(front.get(), static_cast<Py_ssize_t>(k),
                     float_obj_list(progress.front.subspan(k * progress.m, progress.m)).release());
    }
    set_item(info.get(), "front", std::move(front));
  }
  Ref answer = py::check(PyObject_CallFunctionObjArgs(callback_, info.get(), static_cast<PyObject*>(nullptr)));
  const int stop = PyObject_IsTrue(answer.get());
  if (stop < 0) throw py::ErrorAlreadySet{};
  return stop == 1;
}

double PyConstraints::violation(std::span<const double> x) {
  const pycall::GilEnsure gil;
  Ref list = py::float_list(x);
  PyObject* answer = PyObject_CallFunctionObjArgs(func_, list.get(), static_cast<PyObject*>(nullptr));
  if (answer == nullptr) {
    // The user asking to stop is not an infeasible point.
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit)) {
      throw py::ErrorAlreadySet{};
    }
    PyErr_Clear();
    return kInf;
  }
  Ref hold = Ref::steal(answer);
  const std::vector<double> values = float_items(answer, fname_, "constraints");
  const Py_ssize_t count = static_cast<Py_ssize_t>(values.size());
  if (!count_) count_ = count;
  if (*count_ != count) {
    raise_value(fname_, "argument 'constraints' returned " + std::to_string(count) +
                            " values, but " + std::to_string(*count_) + " at its first call");
  }
  double total = 0.0;
  for (double g : values) {
    if (g != g) return kInf;  // NaN is neither feasible nor a measurable violation
    if (g > 0.0) total += g;
  }
  return total;
}

RunOptions::RunOptions(PyObject* kwargs, const char* fname, const blackbox::SearchBox& box) {
  if (kwargs == nullptr) return;
  const size_t n = box.dim();
  if (PyObject* v = given(kwargs, "x0")) {
    control_.x0 = float_items(v, fname, "x0");
    if (control_.x0.size() != n) {
      raise_value(fname, "argument 'x0' must have one coordinate per pair of bounds, " +
                             std::to_string(n) + ", not " + std::to_string(control_.x0.size()));
    }
    for (size_t i = 0; i < n; ++i) {
      const double xi = control_.x0[i];
      if (!(box.lower[i] <= xi && xi <= box.upper[i])) {
        raise_value(fname, "argument 'x0': coordinate " + std::to_string(i) + " lies outside its bounds");
      }
    }
    any_ = true;
  }
  if (PyObject* v = given(kwargs, "max_evals")) {
    control_.max_evals = positive_count(v, fname, "max_evals");
    any_ = true;
  }
  if (PyObject* v = given(kwargs, "time_limit")) {
    const double t = py::to_real(v, fname, "time_limit");
    if (!(t > 0.0)) raise_value(fname, "argument 'time_limit' must be a positive number of seconds");
    control_.time_limit = t;
    any_ = true;
  }
  if (PyObject* v = given(kwargs, "callback")) {
    observer_.emplace(callable(v, fname, "callback"));
    control_.observer = &*observer_;
    any_ = true;
  }
  if (PyObject* v = given(kwargs, "integrality")) {
    const std::vector<Ref> flags = py::to_object_list(v, fname, "integrality");
    if (flags.size() != n) {
      raise_value(fname, "argument 'integrality' must have one entry per pair of bounds, " +
                             std::to_string(n) + ", not " + std::to_string(flags.size()));
    }
    control_.integral.reserve(n);
    for (const Ref& f : flags) {
      if (PyUnicode_Check(f.get())) py::raise_wrong_type(f.get(), fname, "integrality", "a sequence of bools");
      const int truth = PyObject_IsTrue(f.get());
      if (truth < 0) throw py::ErrorAlreadySet{};
      control_.integral.push_back(static_cast<char>(truth));
    }
    for (size_t i = 0; i < n; ++i) {
      if (control_.integral[i] && !(std::ceil(box.lower[i]) <= std::floor(box.upper[i]))) {
        raise_value(fname, "argument 'integrality': the bounds of coordinate " + std::to_string(i) +
                               " hold no integer");
      }
    }
    any_ = true;
  }
  if (PyObject* v = given(kwargs, "constraints")) {
    constraints_.emplace(callable(v, fname, "constraints"), fname);
    control_.constraints = &*constraints_;
    any_ = true;
  }
}

}  // namespace velmo::binding
