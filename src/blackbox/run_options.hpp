// The keyword options that steer a black-box run (x0, max_evals, time_limit, callback,
// integrality, constraints), read into a RunControl with the Python callables behind it.
#pragma once

#include "blackbox/run_control.hpp"
#include "module/py.hpp"

#include <optional>

namespace velmo::binding {

// The Python callback as an observer: called with one dict after each generation; a true
// answer ends the run, an exception propagates.
class PyObserver final : public blackbox::RunObserver {
 public:
  explicit PyObserver(PyObject* callback) : callback_(callback) {}
  bool stop_after(const blackbox::Progress& progress) override;

 private:
  PyObject* callback_;  // borrowed from the call's kwargs
};

// g(x) -> sequence of floats, feasible when all are <= 0. A g that raises scores the point
// with infinite violation; an answer that is not a sequence of numbers, or whose length
// differs from the first answer's, is the caller's error and ends the run.
class PyConstraints final : public blackbox::ConstraintSet {
 public:
  PyConstraints(PyObject* func, const char* fname) : func_(func), fname_(fname) {}
  double violation(std::span<const double> x) override;

 private:
  PyObject* func_;  // borrowed
  const char* fname_;
  std::optional<Py_ssize_t> count_;
};

// The steering options of one call. `control()` is null when none was given, so such a run
// takes exactly the path it takes without them.
class RunOptions {
 public:
  // Reads the options from the collected **kwargs (nullptr: none), after the function's own
  // options. Every check happens here, before any call of the objective: ValueError for an
  // x0 of the wrong length or outside the box, a budget that is not positive, integrality of
  // the wrong length or with no integer in a coordinate's bounds; TypeError for a callback or
  // constraints that are not callable and for values of the wrong type.
  RunOptions(PyObject* kwargs, const char* fname, const blackbox::SearchBox& box);
  RunOptions(const RunOptions&) = delete;
  RunOptions& operator=(const RunOptions&) = delete;

  const blackbox::RunControl* control() const noexcept { return any_ ? &control_ : nullptr; }
  // Whether any of the options was given (pareto_frontier refuses them in the sweep).
  bool any() const noexcept { return any_; }

 private:
  blackbox::RunControl control_;
  std::optional<PyObserver> observer_;
  std::optional<PyConstraints> constraints_;
  bool any_ = false;
};

}  // namespace velmo::binding
