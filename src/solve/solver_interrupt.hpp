// Ctrl-C during a solver run. HiGHS asks its interrupt callbacks between iterations whether
// to stop; ours runs the pending signal handlers there and stops the run when one raises.
// CasADi runs the handlers itself and stops Ipopt or Bonmin, but swallows the exception and
// returns a status; a wrapper around the SIGINT handler keeps it for the caller.
#pragma once

#include "module/py.hpp"

namespace velmo {

// Installed on one highspy.Highs object for one run() (the object's own Python-level
// callbacks are replaced meanwhile and cleared afterwards). After run(), raise_if_stopped()
// raises the handler's exception (KeyboardInterrupt for Ctrl-C) unchanged. Signal handlers
// only run on the main thread, so a run on another thread is never stopped this way.
class HighsSignalWatch {
 public:
  HighsSignalWatch(PyObject* highs, PyObject* highspy);
  ~HighsSignalWatch();
  HighsSignalWatch(const HighsSignalWatch&) = delete;
  HighsSignalWatch& operator=(const HighsSignalWatch&) = delete;

  // Throws ErrorAlreadySet with the handler's exception restored when the run was stopped.
  void raise_if_stopped();

  struct State {
    PyObject* type = nullptr;  // the handler's exception, owned
    PyObject* value = nullptr;
    PyObject* trace = nullptr;
    bool stopped = false;
  };

 private:
  PyObject* highs_;  // borrowed: the caller keeps it alive for the watch's lifetime
  State* state_ = nullptr;  // owned by the callback's capsule, which HiGHS may outlive us holding
  py::Ref callback_;
};

// For the duration of one CasADi solver call, SIGINT's Python handler is wrapped by one that
// keeps the exception the handler raises (and still raises it, so that CasADi stops the run).
// raise_if_stopped() raises it again after the call. Nothing is wrapped off the main thread
// (where no handler runs) or when SIGINT has no Python handler.
class CasadiSignalGuard {
 public:
  CasadiSignalGuard();
  ~CasadiSignalGuard();
  CasadiSignalGuard(const CasadiSignalGuard&) = delete;
  CasadiSignalGuard& operator=(const CasadiSignalGuard&) = delete;

  void raise_if_stopped();

  struct State {
    py::Ref previous;  // the handler in place before
    PyObject* type = nullptr;  // what it raised, owned
    PyObject* value = nullptr;
    PyObject* trace = nullptr;
    bool stopped = false;
  };

 private:
  py::Ref signal_;    // the signal module, when the wrapper is installed
  py::Ref capsule_;   // owns the State
  State* state_ = nullptr;
};

// Bonmin catches SIGINT with a C handler of its own, installed as each branch and bound starts
// and never removed. The handler sets the library's exported abort flag and a private "stopped
// once" flag, and Bonmin clears neither: with the second one set, every later run skips the
// branch and bound and ends in MINLP_ERROR, and a SIGINT that reaches the handler again makes
// it call exit() (or hang there). Held around one Bonmin run, this clears the flags before the
// run and, after it, puts back the SIGINT handler in place before and clears the flags again.
// The library's call to signal() is redirected once, so that its handler only ever receives
// the first SIGINT of a run. Runs that overlap (on several threads) share one saved handler;
// the last to finish restores it. The interpreter lock serialises construction, finish() and
// destruction.
class BonminRunGuard {
 public:
  BonminRunGuard() noexcept;
  ~BonminRunGuard();
  BonminRunGuard(const BonminRunGuard&) = delete;
  BonminRunGuard& operator=(const BonminRunGuard&) = delete;

  // Restores the handler and clears the flags; true when Bonmin's handler stopped the run.
  bool finish() noexcept;

 private:
  bool finished_ = false;
};

}  // namespace velmo
