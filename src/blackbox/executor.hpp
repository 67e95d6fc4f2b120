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
  // answer)`, with answer null (the error cleared) for a call that raised. KeyboardInterrupt
  // and SystemExit, raised by a call or while waiting, cancel the futures not yet collected
  // and propagate. The batch is empty afterwards.
  template <class F>
  void collect(F&& take) {
    std::vector<py::Ref> futures = std::move(futures_);
    futures_.clear();
    for (size_t k = 0; k < futures.size(); ++k) {
      PyObject* answer = result_of(futures[k].get());
      if (answer == nullptr && stopping()) {
        cancel_from(futures, k + 1);
        throw py::ErrorAlreadySet{};
      }
      PyErr_Clear();
      py::Ref hold = py::Ref::steal(answer);
      try {
        take(k, answer);
      } catch (...) {
        cancel_from(futures, k + 1);  // a stop raised while reading an answer ends the batch too
        throw;
      }
    }
  }

  // collect() for objective calls: each answer scored as the serial call's would be.
  void collect_scores(std::span<double> out) {
    collect([&](size_t k, PyObject* answer) { out[k] = score_answer(answer); });
  }

 private:
  Executor(py::Ref executor, py::Ref submit) : executor_(std::move(executor)), submit_(std::move(submit)) {}
  static PyObject* result_of(PyObject* future) noexcept;
  static bool stopping() noexcept;
  // Cancels futures[from..]; the error in flight is kept.
  static void cancel_from(std::vector<py::Ref>& futures, size_t from) noexcept;

  py::Ref executor_;
  py::Ref submit_;
  std::vector<py::Ref> futures_;
};


}  // namespace velmo::binding
