// The interrupt callback given to HiGHS and the SIGINT wrapper around CasADi solver calls.
#include "solve/solver_interrupt.hpp"

#include "solve/arrays.hpp"

#include <dlfcn.h>

namespace velmo {

using py::Ref;
using namespace pycall;

namespace {

constexpr const char* kCapsule = "velmo.highs_signal_watch";

// callback(type, message, data_out, data_in, user_data), called by highspy with the
// interpreter lock held on the thread running HiGHS.
PyObject* on_highs_callback(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  auto* state = static_cast<HighsSignalWatch::State*>(PyCapsule_GetPointer(self, kCapsule));
  if (state == nullptr) return nullptr;
  if (!state->stopped && PyErr_CheckSignals() < 0) {
    // Kept for after run(): an exception raised into HiGHS's callback would be lost there.
    PyErr_Fetch(&state->type, &state->value, &state->trace);
    state->stopped = true;
  }
  if (state->stopped && nargs >= 4 && args[3] != Py_None) {
    if (PyObject_SetAttrString(args[3], "user_interrupt", Py_True) < 0) return nullptr;
  }
  Py_RETURN_NONE;
}

template <class State>
void release_exception(State* state) {
  Py_XDECREF(state->type);
  Py_XDECREF(state->value);
  Py_XDECREF(state->trace);
  state->type = state->value = state->trace = nullptr;
}

// Restores the kept exception as the current error and throws.
template <class State>
[[noreturn]] void raise_kept(State* state) {
  PyErr_Restore(state->type, state->value, state->trace);
  state->type = state->value = state->trace = nullptr;
  throw py::ErrorAlreadySet{};
}

void free_state(PyObject* capsule) {
  auto* state = static_cast<HighsSignalWatch::State*>(PyCapsule_GetPointer(capsule, kCapsule));
  if (state == nullptr) {
    PyErr_Clear();
    return;
  }
  release_exception(state);
  delete state;
}

PyMethodDef callback_def = {"velmo_highs_interrupt", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(on_highs_callback)),
                            METH_FASTCALL, nullptr};

}  // namespace

HighsSignalWatch::HighsSignalWatch(PyObject* highs, PyObject* highspy) : highs_(highs) {
  auto* state = new State();
  PyObject* made = PyCapsule_New(state, kCapsule, free_state);
  if (made == nullptr) delete state;
  Ref capsule = py::check(made);
  state_ = state;
  callback_ = py::check(PyCFunction_NewEx(&callback_def, capsule.get(), nullptr));
  // A highspy without callbacks runs unwatched (Ctrl-C then waits for the run's end).
  PyObject* cb = PyObject_GetAttrString(highspy, "cb");
  PyObject* kinds = cb == nullptr ? nullptr : PyObject_GetAttrString(cb, "HighsCallbackType");
  PyObject* members = kinds == nullptr ? nullptr : PyObject_GetAttrString(kinds, "__members__");
  Py_XDECREF(cb);
  Py_XDECREF(kinds);
  if (members == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
    return;
  }
  Ref types = Ref::steal(members);
  call_method(highs, "setCallback", callback_.get(), Py_None);
  for (const char* name : {"kCallbackSimplexInterrupt", "kCallbackIpmInterrupt", "kCallbackMipInterrupt"}) {
    PyObject* type = PyMapping_GetItemString(types.get(), name);
    if (type == nullptr) {
      PyErr_Clear();  // an older HiGHS without this kind of run: nothing to watch there
      continue;
    }
    Ref hold = Ref::steal(type);
    call_method(highs, "startCallback", type);
  }
}

HighsSignalWatch::~HighsSignalWatch() {
  // The callback is removed whatever happened; an error in flight is kept.
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  PyObject* r = PyObject_CallMethod(highs_, "setCallback", "OO", Py_None, Py_None);
  Py_XDECREF(r);
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
}

void HighsSignalWatch::raise_if_stopped() {
  if (state_->stopped) raise_kept(state_);
}

namespace {

constexpr const char* kGuardCapsule = "velmo.casadi_signal_guard";

// handler(signum, frame): the previous handler, with what it raises kept and passed on.
PyObject* on_sigint(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
  auto* state = static_cast<CasadiSignalGuard::State*>(PyCapsule_GetPointer(self, kGuardCapsule));
  if (state == nullptr) return nullptr;
  PyObject* call_args = PyTuple_New(nargs);
  if (call_args == nullptr) return nullptr;
  for (Py_ssize_t k = 0; k < nargs; ++k) PyTuple_SetItem(call_args, k, Ref::borrow(args[k]).release());
  PyObject* r = PyObject_Call(state->previous.get(), call_args, nullptr);
  Py_DECREF(call_args);
  if (r != nullptr || state->stopped) return r;
  PyErr_Fetch(&state->type, &state->value, &state->trace);
  PyErr_NormalizeException(&state->type, &state->value, &state->trace);
  state->stopped = true;
  Py_XINCREF(state->type);
  Py_XINCREF(state->value);
  Py_XINCREF(state->trace);
  PyErr_Restore(state->type, state->value, state->trace);
  return nullptr;
}

void free_guard_state(PyObject* capsule) {
  auto* state = static_cast<CasadiSignalGuard::State*>(PyCapsule_GetPointer(capsule, kGuardCapsule));
  if (state == nullptr) {
    PyErr_Clear();
    return;
  }
  release_exception(state);
  delete state;
}

PyMethodDef sigint_def = {"velmo_sigint", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(on_sigint)),
                          METH_FASTCALL, nullptr};

}  // namespace

CasadiSignalGuard::CasadiSignalGuard() {
  Ref signal = import("signal");
  Ref sigint = attr(signal.get(), "SIGINT");
  Ref previous = call_method(signal.get(), "getsignal", sigint.get());
  if (!PyCallable_Check(previous.get())) return;  // SIG_DFL, SIG_IGN or None: nothing to wrap
  auto* state = new State();
  PyObject* made = PyCapsule_New(state, kGuardCapsule, free_guard_state);
  if (made == nullptr) delete state;
  capsule_ = py::check(made);
  state_ = state;
  state_->previous = std::move(previous);
  Ref handler = py::check(PyCFunction_NewEx(&sigint_def, capsule_.get(), nullptr));
  Ref done = Ref::steal(PyObject_CallMethod(signal.get(), "signal", "OO", sigint.get(), handler.get()));
  if (!done) {
    // Off the main thread signal.signal refuses: no handler runs there anyway.
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw py::ErrorAlreadySet{};
    PyErr_Clear();
    return;
  }
  signal_ = std::move(signal);
}

CasadiSignalGuard::~CasadiSignalGuard() {
  if (!signal_) return;
  PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
  PyErr_Fetch(&type, &value, &trace);
  PyObject* sigint = PyObject_GetAttrString(signal_.get(), "SIGINT");
  PyObject* r = sigint == nullptr ? nullptr
                                  : PyObject_CallMethod(signal_.get(), "signal", "OO", sigint, state_->previous.get());
  Py_XDECREF(sigint);
  Py_XDECREF(r);
  PyErr_Clear();
  PyErr_Restore(type, value, trace);
}

void CasadiSignalGuard::raise_if_stopped() {
  if (signal_ && state_->stopped) raise_kept(state_);
}

bool take_bonmin_abort_flag() noexcept {
  // RTLD_NOLOAD: only a library CasADi has already loaded is looked at.
  void* lib = dlopen("libbonmin.so.4", RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) return false;
  auto* flag = static_cast<bool*>(dlsym(lib, "BonminAbortAll"));
  const bool was_set = flag != nullptr && *flag;
  if (flag != nullptr) *flag = false;
  dlclose(lib);  // balances this dlopen; CasADi keeps its own reference
  return was_set;
}

}  // namespace velmo
