// Binding of pareto_frontier: a weighted-sum sweep of differential-evolution runs for two
// objectives, the NSGA-II / NSGA-III engine otherwise.
#include "blackbox/moo_binding.hpp"

#include "blackbox/blackbox_types.hpp"
#include "blackbox/executor.hpp"
#include "blackbox/moo.hpp"
#include "blackbox/run_options.hpp"
#include "module/args.hpp"
#include "module/known_options.hpp"
#include "module/memory_limit.hpp"
#include "module/type_builder.hpp"
#include "solve/arrays.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmo::binding {

using py::Ref;

namespace {

constexpr const char* kName = "pareto_frontier";
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<Ref> parse_objectives(PyObject* objectives) {
  if (PyUnicode_Check(objectives) || !PySequence_Check(objectives)) {
    py::raise_wrong_type(objectives, kName, "objectives", "a sequence of callables");
  }
  const Py_ssize_t size = PySequence_Size(objectives);
  if (size < 0) throw py::ErrorAlreadySet{};
  // Own references: an objective may change the caller's list while the search runs.
  std::vector<Ref> out;
  out.reserve(static_cast<size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = py::check(PySequence_GetItem(objectives, i));
    if (!PyCallable_Check(item.get())) py::raise(PyExc_TypeError, "objectives must be callables");
    out.push_back(std::move(item));
  }
  return out;
}

// Options of this function fall back to their default when the value does not convert. Only
// conversion failures are forgiven: an interrupt or a lack of memory still propagates.
template <class T>
std::optional<T> lenient_option(PyObject* kwargs, const char* key) {
  try {
    return read_option<T>(kwargs, kName, key);
  } catch (const py::Raise&) {
    return std::nullopt;
  } catch (const py::ErrorAlreadySet&) {
    if (!PyErr_ExceptionMatches(PyExc_Exception) || PyErr_ExceptionMatches(PyExc_MemoryError)) throw;
    PyErr_Clear();
    return std::nullopt;
  }
}

// The final evaluation of a sweep point is a plain call: its failure is the caller's error.
double call_objective(PyObject* func, std::span<const double> x) {
  Ref list = py::float_list(x);
  Ref answer = py::check(PyObject_CallFunctionObjArgs(func, list.get(), static_cast<PyObject*>(nullptr)));
  const double v = PyFloat_AsDouble(answer.get());
  if (v == -1.0 && PyErr_Occurred()) throw py::ErrorAlreadySet{};
  return v;
}

void set_item(PyObject* dict, const char* key, Ref value) {
  py::check_status(PyDict_SetItemString(dict, key, value.get()));
}

Ref weighted_sum_sweep(PyObject* f1, PyObject* f2, const blackbox::SearchBox& box,
                       uint64_t n_points, uint64_t seed) {
  // One dict per run (its x, weights and objectives lists): a sweep whose results cannot fit
  // is refused before its first run, as the NSGA modes refuse a population that cannot.
  const double per_point = 512.0 + 32.0 * static_cast<double>(box.dim() + 4);
  const uint64_t have = physical_memory_bytes();
  if (have != 0 && static_cast<double>(n_points) * per_point > static_cast<double>(have)) {
    py::raise(PyExc_MemoryError, std::string(kName) + "(): " + std::to_string(n_points) +
                                     " weighted-sum runs would need about " +
                                     gigabytes(static_cast<double>(n_points) * per_point) +
                                     " for their results, more than this machine's " +
                                     gigabytes(static_cast<double>(have)) + " of memory");
  }
  Ref out = py::check(PyList_New(0));
  blackbox::DeSettings settings;
  settings.pop_size = 10 * static_cast<uint64_t>(box.dim());
  settings.max_generations = 200;
  for (uint64_t k = 0; k < n_points; ++k) {
    const double w =
        n_points == 1 ? 0.0 : static_cast<double>(k) / static_cast<double>(n_points - 1);
    // A failing objective scores +inf in its term, so a zero weight on it gives NaN.
    auto weighted = [&](std::span<const double> x) {
      const double a = evaluate_point(f1, x);
      const double b = evaluate_point(f2, x);
      return w * a + (1.0 - w) * b;
    };
    blackbox::SolverRng rng(seed + 100 + k);  // wraps; a sum of 0 acts as 1
    const blackbox::SolverOutcome run = blackbox::de_engine(weighted, box, settings, rng);
    const double weights[2] = {w, 1.0 - w};
    const double values[2] = {call_objective(f1, run.x), call_objective(f2, run.x)};
    Ref dict = py::check(PyDict_New());
    set_item(dict.get(), "x", py::float_list(run.x));
    set_item(dict.get(), "weights", py::float_list(weights));
    set_item(dict.get(), "objectives", py::float_list(values));
    py::check_status(PyList_Append(out.get(), dict.get()));
  }
  return out;
}

// One generation's objective calls, submitted point by point and objective by objective (the
// one-by-one order) and collected in that order.
class ExecutorPoints final : public blackbox::PointBatch {
 public:
  ExecutorPoints(Executor& executor, const std::vector<Ref>& objectives)
      : executor_(executor), objectives_(objectives) {}

  void evaluate(std::span<const std::span<const double>> points, std::span<double> values) override {
    const pycall::GilEnsure gil;
    for (std::span<const double> x : points) {
      for (const Ref& f : objectives_) {
        Ref list = py::float_list(x);  // a list of its own per call, as one by one
        executor_.submit(f.get(), {list.get()});
      }
    }
    executor_.collect_scores(values);
  }

 private:
  Executor& executor_;
  const std::vector<Ref>& objectives_;
};

Ref nsga_front(const std::vector<Ref>& objectives, const blackbox::SearchBox& box,
               const blackbox::NsgaSettings& settings, uint64_t seed, std::optional<Executor>& executor,
               const RunOptions& steering) {
  std::optional<ExecutorPoints> batch;
  if (executor) {
    for (const Ref& f : objectives) executor->check_sendable(f.get(), "an objective");
    batch.emplace(*executor, objectives);
  }
  std::vector<PyObjective> calls;
  calls.reserve(objectives.size());
  for (const Ref& f : objectives) calls.push_back(PyObjective{f.get()});
  const std::vector<blackbox::ObjectiveRef> refs(calls.begin(), calls.end());
  blackbox::SolverRng rng(seed);
  std::vector<blackbox::Individual> front;
  try {
    front = blackbox::nsga_engine(refs, box, settings, rng, batch ? &*batch : nullptr,
                                  steering.control());
  } catch (const std::length_error& e) {
    // Raised before any objective call; keep the engine's reason, which MemoryError alone loses.
    py::raise(PyExc_MemoryError, std::string(kName) + "(): " + e.what());
  }

  const bool constrained = steering.control() != nullptr && steering.control()->constraints != nullptr;
  Ref out = py::check(PyList_New(0));
  for (const blackbox::Individual& ind : front) {
    Ref dict = py::check(PyDict_New());
    set_item(dict.get(), "x", py::float_list(ind.x));
    set_item(dict.get(), "objectives", py::float_list(ind.objectives));
    set_item(dict.get(), "rank", py::check(PyLong_FromUnsignedLongLong(ind.rank)));
    set_item(dict.get(), "crowding", py::float_obj(std::isfinite(ind.crowding) ? ind.crowding : kInf));
    if (constrained) set_item(dict.get(), "constraint_violation", py::float_obj(ind.violation));
    py::check_status(PyList_Append(out.get(), dict.get()));
  }
  return out;
}

enum class Mode { weighted_sum, nsga2, nsga3 };

PyObject* pareto_frontier(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a(kName, {"objectives", "bounds", "n_points"}, 2, args, nargs, kwnames, true);
    const std::vector<Ref> objectives = parse_objectives(a[0]);
    const blackbox::SearchBox box = parse_bounds(a[1], kName);
    const uint64_t n_points = a.has(2) ? a.count(2) : 20;
    const size_t m = objectives.size();
    if (m < 2) py::raise(PyExc_ValueError, "Need at least 2 objectives");

    PyObject* kw = a.kwargs();
    warn_unknown_options(kw, kName);
    // Ours, not one of the forgiving options: an object that cannot run calls is refused.
    std::optional<Executor> executor =
        Executor::from_option(kw ? PyDict_GetItemString(kw, "executor") : nullptr, kName);
    const uint64_t seed = lenient_option<uint64_t>(kw, "seed").value_or(42);
    const std::optional<std::string> method = lenient_option<std::string>(kw, "method");
    Mode mode = m == 2 ? Mode::weighted_sum : m == 3 ? Mode::nsga2 : Mode::nsga3;
    if (method) {
      std::string lower = *method;
      // Only ASCII letters can lower-case into the accepted texts.
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
      if (lower == "nsga2") {
        mode = Mode::nsga2;
      } else if (lower == "nsga3") {
        mode = Mode::nsga3;
      } else if (m > 2) {
        // The sweep has only two weights; guessing another mode would hide a typo.
        py::raise(PyExc_ValueError, "pareto_frontier(): method must be \"nsga2\" or \"nsga3\" "
                                    "with three or more objectives, got \"" + *method + "\"");
      } else {
        mode = Mode::weighted_sum;
      }
    }
    const RunOptions steering(kw, kName, box);
    if (mode == Mode::weighted_sum) {
      if (steering.any()) {
        py::raise(PyExc_ValueError, "pareto_frontier(): x0, max_evals, time_limit, callback, "
                                    "integrality and constraints apply only in NSGA mode "
                                    "(method=\"nsga2\" or \"nsga3\")");
      }
      return weighted_sum_sweep(objectives[0].get(), objectives[1].get(), box, n_points, seed)
          .release();
    }

    blackbox::NsgaSettings settings;
    settings.variant = mode == Mode::nsga2 ? blackbox::NsgaVariant::nsga2 : blackbox::NsgaVariant::nsga3;
    const std::optional<uint64_t> pop_size = lenient_option<uint64_t>(kw, "pop_size");
    const uint64_t base = std::max<uint64_t>(2, n_points);
    const uint64_t fallback = base > std::numeric_limits<uint64_t>::max() / 5
                                  ? std::numeric_limits<uint64_t>::max()
                                  : 5 * base;
    settings.pop_size = pop_size ? std::max<uint64_t>(*pop_size, 4) : fallback;
    settings.generations = lenient_option<uint64_t>(kw, "generations").value_or(250);
    settings.divisions = lenient_option<uint64_t>(kw, "das_dennis_divisions").value_or(12);
    return nsga_front(objectives, box, settings, seed, executor, steering).release();
  });
}

}  // namespace

PyMethodDef pareto_frontier_def = {
    "pareto_frontier", py::fastcall<pareto_frontier>(), py::kFastcallFlags,
    "pareto_frontier(objectives, bounds, n_points=20, **kwargs)\n--\n\n"
    "Multi-objective: compute Pareto frontier via epsilon-constraint method.\n"
    "objectives: list of callables, each takes list[float] -> float\n"
    "Returns list of Pareto-optimal solutions.\n"
    VELMO_EXECUTOR_DOC
    "the NSGA modes evaluate each generation's points\n"
    "through it, with the same results as without. The weighted-sum sweep stays serial: each\n"
    "of its differential-evolution steps depends on the value before it."};

}  // namespace velmo::binding
