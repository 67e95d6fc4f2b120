// Argument binding and conversion for the binding layer.
#include "module/args.hpp"

#include "expr/errors.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

namespace velmo::py {

namespace {

// What the velmo package offers for the operator errors users meet when they write a product
// or a power the operators refuse.
const char* hint_for(ErrorCode code) noexcept {
  switch (code) {
    case ErrorCode::VarProduct:
    case ErrorCode::ExprProduct:
      return "vo.product(a, b) multiplies any two expressions (two linear ones give the expanded "
             "QuadExpr); vo.dot(coefficients, items) and vo.quad_form(items, Q) build sums of products";
    case ErrorCode::VarPower:
      return "vo.power(e, p) takes any numeric exponent; vo.square(e) is power 2 of any expression";
    case ErrorCode::QuadOperand:
      return "vo.sum(items) adds any mix of Var, Expr, QuadExpr and NlExpr; to subtract a QuadExpr, "
             "add its negation (q1 + (-q2)); vo.product(a, b) multiplies any two expressions";
    default: return nullptr;
  }
}

}  // namespace

void set_error_with_note(PyObject* type, const char* message, const char* note) noexcept {
  PyObject* exc = PyObject_CallFunction(type, "s", message);
  if (exc == nullptr) return;
  // add_note exists from Python 3.11 on; on 3.10 the error goes without it.
  if (PyObject_HasAttrString(exc, "add_note")) {
    PyObject* r = PyObject_CallMethod(exc, "add_note", "s", note);
    if (r == nullptr) PyErr_Clear();
    Py_XDECREF(r);
  }
  PyErr_SetObject(type, exc);
  Py_DECREF(exc);
}

void translate_exception() noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error flagged without an exception set");
  } catch (const Raise& e) {
    PyErr_SetString(e.type, e.message.c_str());
  } catch (const ModelError& e) {
    if (const char* hint = hint_for(e.code)) {
      set_error_with_note(PyExc_ValueError, error_message(e.code), hint);
    } else {
      PyErr_SetString(PyExc_ValueError, error_message(e.code));
    }
  } catch (const InvalidInput& e) {
    PyErr_SetString(PyExc_ValueError, e.message.c_str());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    PyErr_NoMemory();
  } catch (const std::invalid_argument& e) {
    // The core's way of refusing an argument it cannot work with (a Python-free ValueError).
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
  }
}

std::string type_name(PyObject* o) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Ref name = Ref::steal(PyObject_GetAttrString(type, "__name__"));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return "object";
  }
  Py_ssize_t size = 0;
  const char* s = PyUnicode_AsUTF8AndSize(name.get(), &size);
  if (s == nullptr) {
    PyErr_Clear();
    return "object";
  }
  return std::string(s, static_cast<size_t>(size));
}

std::string utf8(PyObject* str) {
  Py_ssize_t size = 0;
  const char* s = PyUnicode_AsUTF8AndSize(str, &size);
  if (s == nullptr) throw ErrorAlreadySet{};
  return std::string(s, static_cast<size_t>(size));
}

void raise_wrong_type(PyObject* o, const char* fname, const char* pname, const char* expected) {
  raise(PyExc_TypeError, std::string(fname) + "(): argument '" + pname + "' must be " + expected +
                             ", not " + type_name(o));
}

Args::Args(const char* fname, std::initializer_list<const char*> names, size_t required,
           PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, bool collect_kwargs)
    : fname_(fname) {
  const size_t n = names.size();
  if (n > kMaxParams) throw std::logic_error(std::string(fname) + "(): too many declared parameters");
  size_t k = 0;
  for (const char* name : names) names_[k++] = name;
  if (static_cast<size_t>(nargs) > n) {
    raise(PyExc_TypeError, std::string(fname) + "() takes at most " + std::to_string(n) +
                               " positional argument" + (n == 1 ? "" : "s") + " (" +
                               std::to_string(nargs) + " given)");
  }
  for (Py_ssize_t i = 0; i < nargs; ++i) values_[static_cast<size_t>(i)] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t j = 0; j < nkw; ++j) {
      PyObject* key = PyTuple_GetItem(kwnames, j);
      if (key == nullptr) throw ErrorAlreadySet{};
      PyObject* value = args[nargs + j];
      size_t slot = n;
      for (size_t p = 0; p < n; ++p) {
        if (PyUnicode_CompareWithASCIIString(key, names_[p]) == 0) {
          slot = p;
          break;
        }
      }
      if (slot == n) {
        if (!collect_kwargs) {
          raise(PyExc_TypeError, std::string(fname) + "() got an unexpected keyword argument '" +
                                     utf8(key) + "'");
        }
        if (!kwargs_) kwargs_ = check(PyDict_New());
        check_status(PyDict_SetItem(kwargs_.get(), key, value));
        continue;
      }
      if (values_[slot] != nullptr) {
        raise(PyExc_TypeError, std::string(fname) + "() got multiple values for argument '" +
                                   names_[slot] + "'");
      }
      values_[slot] = value;
    }
  }
  for (size_t p = 0; p < required; ++p) {
    if (values_[p] == nullptr) {
      raise(PyExc_TypeError, std::string(fname) + "() missing required argument '" + names_[p] +
                                 "' (pos " + std::to_string(p + 1) + ")");
    }
  }
}

std::string Args::text(size_t i) const { return to_text(values_[i], fname_, names_[i]); }

std::optional<std::string> Args::optional_text(size_t i) const {
  if (values_[i] == nullptr || values_[i] == Py_None) return std::nullopt;
  if (!PyUnicode_Check(values_[i])) raise_wrong_type(values_[i], fname_, names_[i], "str or None");
  return utf8(values_[i]);
}

double Args::real(size_t i, double fallback) const {
  return values_[i] == nullptr ? fallback : to_real(values_[i], fname_, names_[i]);
}

uint64_t Args::count(size_t i) const { return to_u64(values_[i], fname_, names_[i]); }

std::string to_text(PyObject* o, const char* fname, const char* pname) {
  if (!PyUnicode_Check(o)) raise_wrong_type(o, fname, pname, "str");
  return utf8(o);
}

double to_real(PyObject* o, const char* fname, const char* pname) {
  double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      raise(PyExc_OverflowError, std::string(fname) + "(): argument '" + pname +
                                     "' is too large to convert to float");
    }
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      raise_wrong_type(o, fname, pname, "a real number");
    }
    throw ErrorAlreadySet{};  // raised by the object's own __float__: keep it
  }
  return v;
}

namespace {

// An integer object for `o` (int, bool or anything with __index__), or a binding TypeError.
Ref integer_object(PyObject* o, const char* fname, const char* pname) {
  if (PyLong_Check(o)) return Ref::borrow(o);
  if (PyFloat_Check(o) || PyUnicode_Check(o)) raise_wrong_type(o, fname, pname, "int");
  PyObject* idx = PyNumber_Index(o);
  if (idx == nullptr) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      raise_wrong_type(o, fname, pname, "int");
    }
    throw ErrorAlreadySet{};
  }
  return Ref::steal(idx);
}

[[noreturn]] void raise_range(const char* fname, const char* pname, const char* range) {
  PyErr_Clear();
  raise(PyExc_OverflowError,
        std::string(fname) + "(): argument '" + pname + "' is out of range (" + range + ")");
}

}  // namespace

uint64_t to_u64(PyObject* o, const char* fname, const char* pname) {
  Ref v = integer_object(o, fname, pname);
  unsigned long long r = PyLong_AsUnsignedLongLong(v.get());
  if (r == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    raise_range(fname, pname, "expected 0 to 18446744073709551615");
  }
  return r;
}

uint32_t to_u32(PyObject* o, const char* fname, const char* pname) {
  Ref v = integer_object(o, fname, pname);
  unsigned long long r = PyLong_AsUnsignedLongLong(v.get());
  if ((r == static_cast<unsigned long long>(-1) && PyErr_Occurred()) || r > UINT32_MAX) {
    raise_range(fname, pname, "expected 0 to 4294967295");
  }
  return static_cast<uint32_t>(r);
}

int32_t to_i32(PyObject* o, const char* fname, const char* pname) {
  Ref v = integer_object(o, fname, pname);
  int overflow = 0;
  long long r = PyLong_AsLongLongAndOverflow(v.get(), &overflow);
  if (r == -1 && PyErr_Occurred()) throw ErrorAlreadySet{};
  if (overflow != 0 || r < INT32_MIN || r > INT32_MAX) {
    raise_range(fname, pname, "expected -2147483648 to 2147483647");
  }
  return static_cast<int32_t>(r);
}

bool to_bool(PyObject* o, const char* fname, const char* pname) {
  if (!PyBool_Check(o)) raise_wrong_type(o, fname, pname, "bool");
  return o == Py_True;
}

std::vector<Ref> to_object_list(PyObject* o, const char* fname, const char* pname) {
  if (PyUnicode_Check(o) || !PySequence_Check(o)) raise_wrong_type(o, fname, pname, "a sequence");
  const Py_ssize_t n = PySequence_Size(o);
  if (n < 0) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw ErrorAlreadySet{};
    PyErr_Clear();  // indexable but without a length
    raise_wrong_type(o, fname, pname, "a sequence");
  }
  std::vector<Ref> items;
  items.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) items.push_back(check(PySequence_GetItem(o, i)));
  return items;
}

PyObject* new_float_list(std::span<const double> values) noexcept {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < values.size(); ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (item == nullptr) {
      Py_DECREF(list);
      return nullptr;
    }
    PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);  // steals `item`
  }
  return list;
}

bool as_number(PyObject* o, double* out) {
  if (PyFloat_Check(o)) {
    *out = PyFloat_AsDouble(o);
    return true;
  }
  double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) {
    clear_error();
    return false;
  }
  *out = v;
  return true;
}

}  // namespace velmo::py
