// The one place the binding includes Python.h, so every binding file sees the same settings.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace velmo::py {

// An owned reference. Only `steal` and `borrow` create one; a move empties the source and
// `release` hands the reference back to the caller.
class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) noexcept { return Ref(p); }
  static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref&& o) noexcept {
    if (this != &o) {
      PyObject* old = std::exchange(p_, std::exchange(o.p_, nullptr));
      Py_XDECREF(old);
    }
    return *this;
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  Ref copy() const noexcept { return borrow(p_); }

 private:
  explicit Ref(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

// Thrown when a Python error is already set; the entry guard turns it into a NULL return.
struct ErrorAlreadySet {};

// Thrown to raise `type` with `message` at the entry guard.
struct Raise {
  PyObject* type;
  std::string message;
};

[[noreturn]] inline void raise(PyObject* type, std::string message) {
  throw Raise{type, std::move(message)};
}

// Wraps a new reference from a C-API call, throwing when the call failed.
inline Ref check(PyObject* p) {
  if (p == nullptr) throw ErrorAlreadySet{};
  return Ref::steal(p);
}
inline void check_status(int status) {
  if (status < 0) throw ErrorAlreadySet{};
}

// Sets `type(message)` as the Python error with `note` added to it (Python 3.11 and later).
void set_error_with_note(PyObject* type, const char* message, const char* note) noexcept;

// Whether the pending error asks the program to stop (Ctrl-C, sys.exit): such an error is
// never discarded or turned into another one.
inline bool stop_requested() noexcept {
  return PyErr_Occurred() != nullptr &&
         (PyErr_ExceptionMatches(PyExc_KeyboardInterrupt) || PyErr_ExceptionMatches(PyExc_SystemExit));
}

// Discards the pending error, unless it asks the program to stop: that one propagates.
inline void clear_error() {
  if (stop_requested()) throw ErrorAlreadySet{};
  PyErr_Clear();
}

// Sets the Python error for the exception in flight; only called from a catch block.
void translate_exception() noexcept;

// One guard per C entry point: no C++ exception ever crosses into the interpreter.
template <class F>
PyObject* guard(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    translate_exception();
    return nullptr;
  }
}
template <class F>
int guard_int(F&& f) noexcept {
  try {
    return f();
  } catch (...) {
    translate_exception();
    return -1;
  }
}

// Python's `type(o).__name__`, for error messages.
std::string type_name(PyObject* o);

// New reference to a str built from UTF-8 text.
inline Ref str(std::string_view s) {
  return check(PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}
inline Ref float_obj(double v) { return check(PyFloat_FromDouble(v)); }

// A new list of floats, or nullptr with the Python error set (usable where nothing may throw).
PyObject* new_float_list(std::span<const double> values) noexcept;
inline Ref float_list(std::span<const double> values) { return check(new_float_list(values)); }
inline Ref bool_obj(bool v) { return Ref::borrow(v ? Py_True : Py_False); }
inline Ref none() { return Ref::borrow(Py_None); }
inline PyObject* new_none() { Py_INCREF(Py_None); return Py_None; }

}  // namespace velmo::py
