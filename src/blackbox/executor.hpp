// Independent evaluations handed to a concurrent.futures-style executor (anything with
// submit(fn, *args) returning futures: thread and process pools, Dask, Ray), collected in
// submission order so that a run is the same as its serial form.
#pragma once

#include "module/py.hpp"

#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

// The opening of the `executor` paragraph in the docstrings of the functions that take one;
// each goes on with what it runs through the executor. (A macro: string literals concatenate.)
#define VELMO_EXECUTOR_DOC                                                            \
  "executor: any object with submit(fn, *args) returning futures (a concurrent.futures\n" \
  "executor, Dask's client.get_executor()); "

namespace velmo::binding {

// An objective's answer as a score: its float value, +inf when it is not a number (or the
// call failed: null). KeyboardInterrupt or SystemExit from the conversion propagate.
double score_answer(PyObject* answer);

class Executor {
 public:
  // The `executor` option: nullopt for an absent or None value; TypeError for an object
  // without a callable `submit`.
  static std::optional<Executor> from_option(PyObject* value, const char* fname);

  // Process pools pickle what they run: an objective they cannot pickle fails here, before
  // any evaluation, with the pickler's own exception type and a sentence saying why.
  void check_sendable(PyObject* fn, const char* what) const;

  // Submits fn(*args) (borrowed references).
  void submit(PyObject* fn, std::initializer_list<PyObject*> args);

  // Waits for every submitted call in submission order and hands each answer to `take(k,
  // answer)`, with answer null (no error set) for a call that raised. Calls run inside a
  // wrapper that returns their exception as a value, so whatever a future's result() raises
  // is the executor's own failure (or KeyboardInterrupt / SystemExit): it cancels the futures
  // not yet collected and propagates. The batch is empty afterwards.
  template <class F>
  void collect(F&& take) {
    std::vector<py::Ref> futures = std::move(futures_);
    futures_.clear();
    for (size_t k = 0; k < futures.size(); ++k) {
      try {
        py::Ref outcome = py::check(result_of(futures[k].get()));
        take(k, call_answer(outcome.get()));
      } catch (...) {
        cancel_from(futures, k + 1);
        throw;
      }
    }
  }

  // collect() for objective calls: each answer scored as the serial call's would be.
  void collect_scores(std::span<double> out) {
    collect([&](size_t k, PyObject* answer) { out[k] = score_answer(answer); });
  }

 private:
  Executor(py::Ref executor, py::Ref submit, py::Ref wrapper)
      : executor_(std::move(executor)), submit_(std::move(submit)), wrapper_(std::move(wrapper)) {}
  static PyObject* result_of(PyObject* future) noexcept;
  // The call's answer from the wrapper's (ok, value) pair (borrowed), null when the call
  // raised; TypeError when the future gave something else.
  static PyObject* call_answer(PyObject* outcome);
  // Cancels futures[from..]; the error in flight is kept.
  static void cancel_from(std::vector<py::Ref>& futures, size_t from) noexcept;

  py::Ref executor_;
  py::Ref submit_;
  py::Ref wrapper_;  // velmo._executor_call.call_catching
  std::vector<py::Ref> futures_;
};


}  // namespace velmo::binding
