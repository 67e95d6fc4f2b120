// Binding of stochastic_solve: the scenarios, their probabilities and the scenario calls.
#include "blackbox/stochastic_binding.hpp"

#include "blackbox/blackbox_types.hpp"
#include "blackbox/executor.hpp"
#include "blackbox/run_options.hpp"
#include "module/args.hpp"
#include "module/known_options.hpp"
#include "module/type_builder.hpp"
#include "solve/arrays.hpp"

#include <optional>
#include <vector>

namespace velmo::binding {

using py::Ref;

namespace {

// scenario_func(x, scenario) as a one-argument callable, so that every scenario call goes
// through evaluate_point and fails the way any objective call fails. `pair` is the tuple
// (scenario_func, scenario).
PyObject* call_scenario(PyObject* pair, PyObject* point) {
  return PyObject_CallFunctionObjArgs(PyTuple_GetItem(pair, 0), point, PyTuple_GetItem(pair, 1),
                                      static_cast<PyObject*>(nullptr));
}

PyMethodDef call_scenario_def = {"scenario_call", call_scenario, METH_O, nullptr};

class PyScenarios final : public blackbox::ScenarioTerms {
 public:
  PyScenarios(PyObject* func, const std::vector<Ref>& scenarios, std::optional<Executor>& executor)
      : func_(func), scenarios_(scenarios), executor_(executor) {
    calls_.reserve(scenarios.size());
    for (const Ref& s : scenarios) {
      Ref pair = py::check(PyTuple_Pack(2, func, s.get()));
      calls_.push_back(py::check(PyCFunction_New(&call_scenario_def, pair.get())));
    }
  }
  size_t count() const noexcept override { return calls_.size(); }
  double term(size_t scenario, std::span<const double> x) override {
    return evaluate_point(calls_[scenario].get(), x);
  }
  // With an executor, the point's scenario calls run side by side: scenario_func(x, s) for
  // every s, each with a list of its own, collected in scenario order.
  void all_terms(std::span<const double> x, std::span<double> out) override {
    if (!executor_) return ScenarioTerms::all_terms(x, out);
    const pycall::GilEnsure gil;
    for (const Ref& s : scenarios_) {
      Ref list = py::float_list(x);
      executor_->submit(func_, {list.get(), s.get()});
    }
    executor_->collect_scores(out);
  }

 private:
  PyObject* func_;
  const std::vector<Ref>& scenarios_;
  std::optional<Executor>& executor_;
  std::vector<Ref> calls_;
};

// The "probability" of every scenario when each one is a mapping holding a number there;
// nullopt as soon as one is not (those runs take the plain mean).
std::optional<std::vector<double>> probabilities(const std::vector<Ref>& scenarios) {
  Ref abc = pycall::import("collections.abc");
  Ref mapping = pycall::attr(abc.get(), "Mapping");
  Ref key = py::str("probability");
  std::vector<double> out;
  out.reserve(scenarios.size());
  for (const Ref& s : scenarios) {
    const int is_mapping = PyObject_IsInstance(s.get(), mapping.get());
    if (is_mapping < 0) throw py::ErrorAlreadySet{};
    if (is_mapping == 0) return std::nullopt;
    PyObject* value = PyObject_GetItem(s.get(), key.get());
    if (value == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::ErrorAlreadySet{};
      PyErr_Clear();
      return std::nullopt;
    }
    double p = 0.0;
    const bool numeric = py::as_number(value, &p);
    Py_DECREF(value);
    if (!numeric) return std::nullopt;
    out.push_back(p);
  }
  return out;
}

PyObject* stochastic_solve(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    const char* fname = "stochastic_solve";
    py::Args a(fname, {"scenario_func", "bounds", "scenarios"}, 3, args, nargs, kwnames, true);
    if (!PyCallable_Check(a[0])) py::raise(PyExc_TypeError, "scenario_func must be callable");
    const blackbox::SearchBox box = parse_bounds(a[1], fname);
    const std::vector<Ref> scenarios = py::to_object_list(a[2], fname, "scenarios");
    PyObject* kw = a.kwargs();
    warn_unknown_options(kw, fname);

    blackbox::StochasticSettings settings;
    settings.max_generations = read_option<uint64_t>(kw, fname, "max_generations").value_or(500);
    const uint64_t seed = read_option<uint64_t>(kw, fname, "seed").value_or(42);
    const uint64_t pop_size = read_option<uint64_t>(kw, fname, "pop_size").value_or(0);
    settings.pop_size = pop_size != 0 ? pop_size : 10 * box.dim();
    const RunOptions steering(kw, fname, box);

    std::vector<double> weights;
    if (!scenarios.empty()) {
      if (std::optional<std::vector<double>> p = probabilities(scenarios)) {
        weights = blackbox::scenario_weights(*p);
      }
    }
    std::optional<Executor> executor =
        Executor::from_option(kw ? PyDict_GetItemString(kw, "executor") : nullptr, fname);
    if (executor) executor->check_sendable(a[0], "scenario_func");
    PyScenarios terms(a[0], scenarios, executor);
    blackbox::SolverRng rng(seed);
    return make_result(blackbox::stochastic_engine(terms, weights, box, settings, rng, steering.control()))
        .release();
  });
}

}  // namespace

PyMethodDef stochastic_solve_def = {
    "stochastic_solve", py::fastcall<stochastic_solve>(), py::kFastcallFlags,
    "stochastic_solve(scenario_func, bounds, scenarios, **kwargs)\n--\n\n"
    "Scenario-based stochastic optimisation.\n"
    "Solves: min E[f(x, scenario)] over scenarios.\n"
    "scenario_func: callable(x: list[float], scenario: dict) -> float\n"
    "scenarios: list of dicts, each representing a scenario with probability\n"
    VELMO_EXECUTOR_DOC
    "the scenario calls of each point run through it,\n"
    "with the same results as without. The search itself stays serial: each differential-\n"
    "evolution step depends on the value of the one before it."};

}  // namespace velmo::binding
