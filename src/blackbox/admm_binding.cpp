// Binding of solve_admm: Python subproblems as the loop's local steps, and the result dict.
#include "blackbox/admm_binding.hpp"

#include "blackbox/executor.hpp"

#include "blackbox/parallel.hpp"
#include "module/args.hpp"
#include "module/type_builder.hpp"
#include "solve/arrays.hpp"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace velmo::binding {

using py::Ref;

namespace {

// NumPy, when the program has already imported it (an answer can only be an array then).
Ref numpy_if_loaded() {
  PyObject* modules = PyImport_GetModuleDict();  // borrowed
  PyObject* numpy = PyDict_GetItemString(modules, "numpy");
  return Ref::borrow(numpy);
}

class PySubproblems final : public blackbox::LocalSteps {
 public:
  PySubproblems(std::vector<Ref> funcs, std::optional<Executor>& executor)
      : funcs_(std::move(funcs)), numpy_(numpy_if_loaded()), executor_(executor) {
    if (numpy_) {
      ndarray_ = Ref::steal(PyObject_GetAttrString(numpy_.get(), "ndarray"));
      if (!ndarray_) PyErr_Clear();
    }
  }

  size_t count() const noexcept override { return funcs_.size(); }

  bool solve(size_t i, double rho, std::span<const double> target, std::span<double> x) override {
    const pycall::GilEnsure gil;  // nests: the loop runs on the calling thread, lock held
    // Our own arguments failing to build is not the subproblem's failure: it propagates.
    Ref rho_obj = py::float_obj(rho);
    Ref list = py::float_list(target);
    Ref answer = Ref::steal(PyObject_CallFunctionObjArgs(funcs_[i].get(), rho_obj.get(), list.get(),
                                                         static_cast<PyObject*>(nullptr)));
    if (answer && read_point(answer.get(), x)) return true;
    // A failing subproblem counts as zeros, but a request to stop the program is obeyed.
    if (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit)) {
      throw py::ErrorAlreadySet{};
    }
    PyErr_Clear();
    return false;
  }

  bool batched() const noexcept override { return executor_.has_value(); }

  // The iteration's subproblem calls side by side through the executor, collected in
  // subproblem order; answers are read as one by one.
  void solve_all(double rho, std::span<const double> targets, std::span<double> xs, size_t dim,
                 std::span<char> ok) override {
    const pycall::GilEnsure gil;
    Ref rho_obj = py::float_obj(rho);
    for (size_t i = 0; i < funcs_.size(); ++i) {
      Ref list = py::float_list(targets.subspan(i * dim, dim));
      executor_->submit(funcs_[i].get(), {rho_obj.get(), list.get()});
    }
    executor_->collect([&](size_t i, PyObject* answer) {
      ok[i] = answer != nullptr && read_point(answer, xs.subspan(i * dim, dim));
      if (ok[i]) return;
      if (PyErr_Occurred() &&
          (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit))) {
        throw py::ErrorAlreadySet{};
      }
      PyErr_Clear();
    });
  }

 private:
  // The whole answer converts as a list of floats; its first dim entries are the point.
  // Shorter answers are refused like failures.
  bool read_point(PyObject* answer, std::span<double> x) const {
    if (ndarray_ && Py_TYPE(answer) == reinterpret_cast<PyTypeObject*>(ndarray_.get())) {
      if (const int read = read_array(answer, x); read >= 0) return read == 1;
    }
    if (PyUnicode_Check(answer) || !PySequence_Check(answer)) return false;
    const Py_ssize_t size = PySequence_Size(answer);
    if (size < 0 || static_cast<size_t>(size) < x.size()) return false;
    for (Py_ssize_t k = 0; k < size; ++k) {
      PyObject* item = PySequence_GetItem(answer, k);
      if (item == nullptr) return false;
      const double v = PyFloat_AsDouble(item);
      Py_DECREF(item);
      if (v == -1.0 && PyErr_Occurred()) return false;
      if (static_cast<size_t>(k) < x.size()) x[static_cast<size_t>(k)] = v;
    }
    return true;
  }

  // A one-dimensional array of booleans, integers or reals gives the same doubles as reading
  // it item by item, in one bytes copy instead of one NumPy scalar per entry. 1 read, 0
  // failed (error set), -1 not such an array: read it as a sequence.
  int read_array(PyObject* answer, std::span<double> x) const {
    try {
      Ref ndim = pycall::attr(answer, "ndim");
      if (PyLong_AsLong(ndim.get()) != 1) return PyErr_Occurred() ? 0 : -1;
      Ref dtype = pycall::attr(answer, "dtype");
      Ref kind = pycall::attr(dtype.get(), "kind");
      const std::string k = py::utf8(kind.get());
      if (k != "b" && k != "i" && k != "u" && k != "f") return -1;
      const std::vector<double> values = pycall::array_doubles(numpy_.get(), answer);
      if (values.size() < x.size()) return 0;
      std::copy_n(values.begin(), x.size(), x.begin());
      return 1;
    } catch (const py::ErrorAlreadySet&) {
      return 0;
    }
  }

  std::vector<Ref> funcs_;
  Ref numpy_;
  Ref ndarray_;
  std::optional<Executor>& executor_;
};

void set_item(PyObject* dict, const char* key, Ref value) {
  py::check_status(PyDict_SetItemString(dict, key, value.get()));
}

PyObject* solve_admm(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    const char* fname = "solve_admm";
    // executor is keyword-only, as the text signature says.
    if (nargs > 5) py::raise(PyExc_TypeError, "solve_admm() takes at most 5 positional arguments");
    py::Args a(fname, {"subproblems", "dim", "rho", "max_iter", "tol", "executor"}, 2, args, nargs, kwnames);
    std::vector<Ref> funcs = py::to_object_list(a[0], fname, "subproblems");
    for (const Ref& f : funcs) {
      if (!PyCallable_Check(f.get())) py::raise(PyExc_TypeError, "subproblems must be callables");
    }
    blackbox::AdmmSettings settings;
    settings.dim = a.count(1);
    settings.rho = a.real(2, 1.0);
    settings.max_iter = a.has(3) ? a.count(3) : 200;
    settings.tol = a.real(4, 1e-6);
    std::optional<Executor> executor = Executor::from_option(a[5], fname);
    if (executor) {
      for (const Ref& f : funcs) executor->check_sendable(f.get(), "a subproblem");
    }

    PySubproblems steps(std::move(funcs), executor);
    const blackbox::AdmmOutcome out = blackbox::admm_consensus(steps, settings);

    Ref result = py::check(PyDict_New());
    set_item(result.get(), "x", py::float_list(out.z));
    set_item(result.get(), "z", py::float_list(out.z));
    set_item(result.get(), "iterations", py::check(PyLong_FromUnsignedLongLong(out.iterations)));
    set_item(result.get(), "primal_residual", py::float_obj(out.primal_residual));
    set_item(result.get(), "dual_residual", py::float_obj(out.dual_residual));
    set_item(result.get(), "converged", py::bool_obj(out.converged));
    return result.release();
  });
}

}  // namespace

PyMethodDef solve_admm_def = {
    "solve_admm", py::fastcall<solve_admm>(), py::kFastcallFlags,
    "solve_admm(subproblems, dim, rho=1.0, max_iter=200, tol=1e-6, *, executor=None)\n--\n\n"
    "ADMM consensus solver for decomposable problems.\n"
    "subproblems: list of callables, each takes (rho: float, target: list[float]) -> list[float]\n"
    VELMO_EXECUTOR_DOC
    "the subproblems of each iteration run through it\n"
    "side by side, with the same results as without."};

}  // namespace velmo::binding
