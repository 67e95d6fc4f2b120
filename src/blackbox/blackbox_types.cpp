// Binding of the black-box solvers: BlackBoxResult, bounds and option readers, the Python
// objective call, and the single-objective solver functions.
#include "blackbox/blackbox_types.hpp"

#include "blackbox/executor.hpp"
#include "blackbox/run_options.hpp"

#include "expr/number_text.hpp"
#include "module/args.hpp"
#include "module/known_options.hpp"
#include "module/type_builder.hpp"
#include "solve/arrays.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace velmo::binding {

using py::Ref;

PyTypeObject* blackbox_result_type = nullptr;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

[[noreturn]] void raise_bad_bounds(const char* fname, const std::string& detail) {
  py::raise(PyExc_TypeError, std::string(fname) +
                                 "(): argument 'bounds' must be a sequence of (lower, upper) "
                                 "tuples of numbers, " + detail);
}

double bound_value(PyObject* o, const char* fname, Py_ssize_t item) {
  const double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      raise_bad_bounds(fname, "but item " + std::to_string(item) + " holds " + py::type_name(o));
    }
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      py::raise(PyExc_OverflowError, std::string(fname) + "(): argument 'bounds': item " +
                                         std::to_string(item) + " is too large to convert to float");
    }
    throw py::ErrorAlreadySet{};  // raised by the object's own __float__: keep it
  }
  return v;
}

// The value given for option `key`, borrowed, or nullptr when it was not given.
PyObject* option_value(PyObject* kwargs, const char* key) {
  if (kwargs == nullptr) return nullptr;
  Ref name = py::check(PyUnicode_FromString(key));
  PyObject* value = PyDict_GetItemWithError(kwargs, name.get());
  if (value == nullptr && PyErr_Occurred()) throw py::ErrorAlreadySet{};
  return value;
}

}  // namespace

blackbox::SearchBox parse_bounds(PyObject* bounds, const char* fname) {
  if (PyUnicode_Check(bounds) || !PySequence_Check(bounds)) {
    raise_bad_bounds(fname, "not " + py::type_name(bounds));
  }
  const Py_ssize_t n = PySequence_Size(bounds);
  if (n < 0) throw py::ErrorAlreadySet{};
  blackbox::SearchBox box;
  box.lower.reserve(static_cast<size_t>(n));
  box.upper.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = py::check(PySequence_GetItem(bounds, i));
    if (!PyTuple_Check(item.get())) {
      raise_bad_bounds(fname, "but item " + std::to_string(i) + " is " + py::type_name(item.get()));
    }
    const Py_ssize_t size = PyTuple_Size(item.get());
    if (size != 2) {
      raise_bad_bounds(fname, "but item " + std::to_string(i) + " has " + std::to_string(size) +
                                  " entries");
    }
    box.lower.push_back(bound_value(PyTuple_GetItem(item.get(), 0), fname, i));
    box.upper.push_back(bound_value(PyTuple_GetItem(item.get(), 1), fname, i));
  }
  return box;
}

template <>
std::optional<uint64_t> read_option<uint64_t>(PyObject* kwargs, const char* fname, const char* key) {
  PyObject* v = option_value(kwargs, key);
  if (v == nullptr) return std::nullopt;
  return py::to_u64(v, fname, key);
}

template <>
std::optional<double> read_option<double>(PyObject* kwargs, const char* fname, const char* key) {
  PyObject* v = option_value(kwargs, key);
  if (v == nullptr) return std::nullopt;
  return py::to_real(v, fname, key);
}

template <>
std::optional<std::string> read_option<std::string>(PyObject* kwargs, const char* fname,
                                                    const char* key) {
  PyObject* v = option_value(kwargs, key);
  if (v == nullptr) return std::nullopt;
  return py::to_text(v, fname, key);
}

void require_callable(PyObject* func, const char* name) {
  if (PyCallable_Check(func) == 0) py::raise(PyExc_TypeError, std::string(name) + " must be callable");
}

double evaluate_point(PyObject* func, std::span<const double> point) {
  const PyGILState_STATE gil = PyGILState_Ensure();
  double value = kInf;
  if (PyObject* list = py::new_float_list(point)) {
    PyObject* answer = PyObject_CallFunctionObjArgs(func, list, static_cast<PyObject*>(nullptr));
    Py_DECREF(list);
    if (answer != nullptr) {
      const double v = PyFloat_AsDouble(answer);
      Py_DECREF(answer);
      if (!(v == -1.0 && PyErr_Occurred())) value = v;
    }
  }
  // The user asking to stop (Ctrl-C, sys.exit) is not a bad point: let it end the run.
  const bool stop = PyErr_Occurred() != nullptr &&
                    (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) ||
                     PyErr_ExceptionMatches(PyExc_SystemExit));
  if (!stop) PyErr_Clear();
  PyGILState_Release(gil);
  if (stop) throw py::ErrorAlreadySet{};
  return value;
}

Ref make_result(blackbox::SolverOutcome&& outcome) {
  auto* o = py::alloc_instance<PyBlackBoxResult>(blackbox_result_type);
  new (&o->outcome) blackbox::SolverOutcome(std::move(outcome));
  return Ref::steal(reinterpret_cast<PyObject*>(o));
}

namespace {

// ---- BlackBoxResult

const blackbox::SolverOutcome& outcome_of(PyObject* self) {
  return reinterpret_cast<PyBlackBoxResult*>(self)->outcome;
}

void result_dealloc(PyObject* self) {
  reinterpret_cast<PyBlackBoxResult*>(self)->outcome.~SolverOutcome();
  py::free_instance(self);
}

PyObject* result_repr(PyObject* self) {
  return py::guard([&] {
    const blackbox::SolverOutcome& o = outcome_of(self);
    std::string text = "BlackBoxResult(obj=";
    append_fixed(text, o.objective, 6);
    text += ", evals=" + std::to_string(o.evaluations) +
            ", converged=" + (o.converged ? "true" : "false") + ")";
    return py::str(text).release();
  });
}

PyObject* get_x(PyObject* self, void*) { return py::new_float_list(outcome_of(self).x); }
PyObject* get_objective(PyObject* self, void*) { return PyFloat_FromDouble(outcome_of(self).objective); }
PyObject* get_iterations(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(outcome_of(self).iterations);
}
PyObject* get_evaluations(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(outcome_of(self).evaluations);
}
PyObject* get_converged(PyObject* self, void*) { return PyBool_FromLong(outcome_of(self).converged); }
PyObject* get_history(PyObject* self, void*) { return py::new_float_list(outcome_of(self).history); }
PyObject* get_message(PyObject* self, void*) {
  return PyUnicode_FromString(blackbox::stop_text(outcome_of(self).stop));
}
PyObject* get_violation(PyObject* self, void*) {
  return PyFloat_FromDouble(outcome_of(self).violation);
}

PyGetSetDef result_getset[] = {
    {"x", get_x, nullptr, nullptr, nullptr},
    {"objective", get_objective, nullptr, nullptr, nullptr},
    {"iterations", get_iterations, nullptr, nullptr, nullptr},
    {"evaluations", get_evaluations, nullptr, nullptr, nullptr},
    {"converged", get_converged, nullptr, nullptr, nullptr},
    {"history", get_history, nullptr, nullptr, nullptr},
    // Ours: why the run ended, and the total constraint violation of x (0.0 when feasible).
    {"message", get_message, nullptr, const_cast<char*>("Why the run ended: \"converged\", \"max_generations\", \"max_evals\", \"time_limit\" or \"callback\"."), nullptr},
    {"constraint_violation", get_violation, nullptr, const_cast<char*>("Sum of the positive parts of constraints(x); 0.0 for a feasible x."), nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

void* fn(auto f) { return reinterpret_cast<void*>(f); }

// ---- solvers

// The (obj_func, bounds, **kwargs) functions share this start: arguments bound, the
// objective checked, the box parsed; options follow in each solver's own order.
struct BlackBoxCall {
  py::Args args;
  blackbox::SearchBox box;
  PyObject* kwargs;

  BlackBoxCall(const char* fname, PyObject* const* a, Py_ssize_t nargs, PyObject* kwnames)
      : args(fname, {"obj_func", "bounds"}, 2, a, nargs, kwnames, true) {
    require_callable(args[0]);
    box = parse_bounds(args[1], fname);
    kwargs = args.kwargs();
    warn_unknown_options(kwargs, fname);
  }
  PyObjective objective() const { return PyObjective{args[0]}; }
  template <class T>
  std::optional<T> option(const char* key) const {
    return read_option<T>(kwargs, args.fname(), key);
  }
};

// Both functions share the engine; they differ only in which options they read.
PyObject* run_de(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, bool parallel) {
  return py::guard([&] {
    BlackBoxCall call(parallel ? "solve_parallel_de" : "solve_de", args, nargs, kwnames);
    const uint64_t n = call.box.dim();

    blackbox::DeSettings settings;
    const std::optional<uint64_t> pop_size = call.option<uint64_t>("pop_size");
    // An explicit 0 means the plain 10 * n in both functions; only an absent key gives the
    // larger population of solve_parallel_de.
    settings.pop_size = pop_size ? (*pop_size != 0 ? *pop_size : 10 * n) : (parallel ? 15 : 10) * n;
    settings.max_generations = call.option<uint64_t>("max_generations").value_or(1000);
    if (!parallel) settings.f = call.option<double>("f").value_or(0.8);
    if (!parallel) settings.cr = call.option<double>("cr").value_or(0.9);
    const uint64_t seed = call.option<uint64_t>("seed").value_or(42);
    if (!parallel) settings.tol = call.option<double>("tol").value_or(1e-8);
    const RunOptions steering(call.kwargs, call.args.fname(), call.box);

    blackbox::SolverRng rng(seed);

    return make_result(blackbox::de_engine(call.objective(), call.box, settings, rng, steering.control()))
        .release();
  });
}

PyObject* solve_de(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_de(args, nargs, kwnames, false);
}
PyObject* solve_parallel_de(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return run_de(args, nargs, kwnames, true);
}

PyObject* solve_pso(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    BlackBoxCall call("solve_pso", args, nargs, kwnames);
    const uint64_t n = call.box.dim();
    blackbox::PsoSettings settings;
    const uint64_t pop_size = call.option<uint64_t>("pop_size").value_or(0);
    settings.swarm_size = pop_size != 0 ? pop_size : std::min<uint64_t>(10 * n, 20);
    settings.max_iterations = call.option<uint64_t>("max_iterations").value_or(1000);
    const uint64_t seed = call.option<uint64_t>("seed").value_or(42);
    settings.tol = call.option<double>("tol").value_or(1e-8);
    const RunOptions steering(call.kwargs, call.args.fname(), call.box);
    blackbox::SolverRng rng(seed);
    return make_result(blackbox::pso_engine(call.objective(), call.box, settings, rng, steering.control()))
        .release();
  });
}

PyObject* solve_sa(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    BlackBoxCall call("solve_sa", args, nargs, kwnames);
    blackbox::SaSettings settings;
    settings.max_iterations = call.option<uint64_t>("max_iterations").value_or(10000);
    const uint64_t seed = call.option<uint64_t>("seed").value_or(42);
    settings.temp_init = call.option<double>("temp_init").value_or(100.0);
    settings.cooling_rate = call.option<double>("cooling_rate").value_or(0.999);
    const RunOptions steering(call.kwargs, call.args.fname(), call.box);
    blackbox::SolverRng rng(seed);
    return make_result(blackbox::sa_engine(call.objective(), call.box, settings, rng, steering.control()))
        .release();
  });
}

// One generation's candidates submitted in order and collected in that order.
class ExecutorCandidates final : public blackbox::CandidateBatch {
 public:
  ExecutorCandidates(Executor& executor, PyObject* func) : executor_(executor), func_(func) {}

  void evaluate(std::span<const double> points, size_t n, std::span<double> values) override {
    const pycall::GilEnsure gil;
    for (size_t k = 0; k < values.size(); ++k) {
      Ref list = py::float_list(points.subspan(k * n, n));  // a list of its own per call
      executor_.submit(func_, {list.get()});
    }
    executor_.collect_scores(values);
  }

 private:
  Executor& executor_;
  PyObject* func_;
};

PyObject* solve_cmaes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    BlackBoxCall call("solve_cmaes", args, nargs, kwnames);
    std::optional<Executor> executor =
        Executor::from_option(call.kwargs ? PyDict_GetItemString(call.kwargs, "executor") : nullptr, "solve_cmaes");
    std::optional<ExecutorCandidates> batch;
    if (executor) {
      executor->check_sendable(call.args[0], "obj_func");
      batch.emplace(*executor, call.args[0]);
    }
    blackbox::CandidateBatch* candidates = batch ? &*batch : nullptr;
    blackbox::CmaesSettings settings;
    settings.pop_size = call.option<uint64_t>("pop_size").value_or(0);
    settings.max_generations = call.option<uint64_t>("max_generations").value_or(1000);
    settings.sigma = call.option<double>("sigma").value_or(0.3);
    settings.seed = call.option<uint64_t>("seed").value_or(42);
    settings.tol = call.option<double>("tol").value_or(1e-8);
    std::string variant = call.option<std::string>("variant").value_or("simple");
    settings.restarts = call.option<uint64_t>("restarts").value_or(0);
    const RunOptions steering(call.kwargs, call.args.fname(), call.box);
    // ASCII lower-casing is enough: no other character lower-cases to a letter of "full".
    for (char& c : variant) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (variant == "full") {
      return make_result(blackbox::cmaes_restarts(call.objective(), call.box, settings, candidates,
                                                  steering.control()))
          .release();
    }
    blackbox::EsSettings es;
    const uint64_t rule = std::max<uint64_t>(5, blackbox::default_offspring(call.box.dim()));
    es.lambda = settings.pop_size != 0 ? settings.pop_size : rule;
    es.max_generations = settings.max_generations;
    es.sigma = settings.sigma;
    es.tol = settings.tol;
    blackbox::SolverRng rng(settings.seed);
    return make_result(blackbox::simple_es_engine(call.objective(), call.box, es, rng, candidates,
                                                  steering.control()))
        .release();
  });
}

PyObject* solve_portfolio(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("solve_portfolio", {"obj_func", "bounds", "max_evals"}, 2, args, nargs, kwnames);
    require_callable(a[0]);
    const blackbox::SearchBox box = parse_bounds(a[1], "solve_portfolio");
    const uint64_t max_evals = a.has(2) ? a.count(2) : 5000;
    return make_result(blackbox::portfolio(PyObjective{a[0]}, box, max_evals)).release();
  });
}

}  // namespace

PyTypeObject* make_blackbox_result_type() {
  return py::build_type(
      "velmo_opt.BlackBoxResult", sizeof(PyBlackBoxResult),
      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
      {{Py_tp_doc, const_cast<char*>("Black-box result returned from metaheuristic solvers.")},
       {Py_tp_dealloc, fn(result_dealloc)},
       {Py_tp_repr, fn(result_repr)},
       {Py_tp_getset, result_getset}});
}

PyMethodDef solve_de_def = {
    "solve_de", py::fastcall<solve_de>(), py::kFastcallFlags,
    "solve_de(obj_func, bounds, **kwargs)\n--\n\n"
    "Solve a black-box optimisation problem using Differential Evolution.\n"
    "obj_func: callable(x: list[float]) -> float\n"
    "bounds: list of (lower, upper) tuples"};

PyMethodDef solve_pso_def = {
    "solve_pso", py::fastcall<solve_pso>(), py::kFastcallFlags,
    "solve_pso(obj_func, bounds, **kwargs)\n--\n\n"
    "Solve a black-box optimisation problem using Particle Swarm Optimisation."};

PyMethodDef solve_sa_def = {
    "solve_sa", py::fastcall<solve_sa>(), py::kFastcallFlags,
    "solve_sa(obj_func, bounds, **kwargs)\n--\n\n"
    "Solve a black-box optimisation problem using Simulated Annealing."};

PyMethodDef solve_cmaes_def = {
    "solve_cmaes", py::fastcall<solve_cmaes>(), py::kFastcallFlags,
    "solve_cmaes(obj_func, bounds, **kwargs)\n--\n\n"
    "Solve using CMA-ES (simplified).\n"
    VELMO_EXECUTOR_DOC
    "each generation's candidates are evaluated\n"
    "through it side by side, with the same results as without. solve_de, solve_pso and\n"
    "solve_sa take no executor: each of their steps depends on the value of the one before."};

PyMethodDef solve_portfolio_def = {
    "solve_portfolio", py::fastcall<solve_portfolio>(), py::kFastcallFlags,
    "solve_portfolio(obj_func, bounds, max_evals=5000)\n--\n\n"
    "Portfolio solver: run DE + PSO + CMA-ES + SA sequentially, return best.\n"
    "(Sequential to avoid GIL deadlock with Python callbacks.)"};

PyMethodDef solve_parallel_de_def = {
    "solve_parallel_de", py::fastcall<solve_parallel_de>(), py::kFastcallFlags,
    "solve_parallel_de(obj_func, bounds, **kwargs)\n--\n\n"
    "Enhanced DE with larger population. For truly parallel evaluation, use the native C++ "
    "engine with an objective that is not a Python callable."};

}  // namespace velmo::binding
