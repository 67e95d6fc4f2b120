// Calls on outside Python packages shared by the adapters: imports, numpy arrays, scipy
// sparse matrices, time.perf_counter, and conversions of their answers.
#pragma once

#include "module/py.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmo::pycall {

using py::Ref;

// Holds the interpreter lock for a scope (nests when the caller already holds it).
class GilEnsure {
 public:
  GilEnsure() noexcept : state_(PyGILState_Ensure()) {}
  ~GilEnsure() { PyGILState_Release(state_); }
  GilEnsure(const GilEnsure&) = delete;
  GilEnsure& operator=(const GilEnsure&) = delete;

 private:
  PyGILState_STATE state_;
};

Ref import(const char* name);
Ref attr(PyObject* o, const char* name);

// Calls with positional arguments (borrowed PyObject*).
template <class... A>
Ref call(PyObject* callable, A... args) {
  return py::check(PyObject_CallFunctionObjArgs(callable, static_cast<PyObject*>(args)..., nullptr));
}
template <class... A>
Ref call_method(PyObject* o, const char* name, A... args) {
  Ref method = attr(o, name);
  return call(method.get(), args...);
}
// Calls with keyword arguments only.
Ref call_kw(PyObject* callable, PyObject* kwargs);

// time.perf_counter() as a double.
double perf_counter(PyObject* time_module);

using py::float_list;
Ref ints(long long v);

// A writable one-dimensional NumPy array holding a copy of a C++ buffer, made with two calls
// whatever the length: the bytes are copied once into a bytearray, which numpy.frombuffer
// then views in place (the array keeps the bytearray alive).
Ref numpy_array(PyObject* numpy, std::span<const double> values);
Ref numpy_array(PyObject* numpy, std::span<const int32_t> values);
Ref numpy_array(PyObject* numpy, std::span<const int64_t> values);
Ref numpy_array(PyObject* numpy, std::span<const uint8_t> values);

// scipy.sparse.csc_matrix((values, indices, starts), (rows, cols)) from three such arrays.
Ref csc_matrix(PyObject* sparse, PyObject* numpy, std::span<const double> values,
               std::span<const int32_t> indices, std::span<const int32_t> starts, size_t rows,
               size_t cols);

// A list of floats from any iterable of numbers (the lists highspy answers with).
std::vector<double> to_doubles(PyObject* iterable);
// The same from an array-like (osqp's and clarabel's answers): converted to float64 and read
// through one bytes copy instead of one Python object per element.
std::vector<double> array_doubles(PyObject* numpy, PyObject* array_like);
// The elements of a contiguous NumPy array whose dtype is already T, through one tobytes() copy.
template <class T>
std::vector<T> array_contents(PyObject* array) {
  Ref bytes = call_method(array, "tobytes");
  char* data = nullptr;
  Py_ssize_t size = 0;
  py::check_status(PyBytes_AsStringAndSize(bytes.get(), &data, &size));
  std::vector<T> out(static_cast<size_t>(size) / sizeof(T));
  if (!out.empty()) std::memcpy(out.data(), data, out.size() * sizeof(T));
  return out;
}
double to_double(PyObject* o);

// A one-dimensional NumPy array whose dtype kind is one of `kinds` (for example "iu"), read
// in bulk as int64 or float64; nullopt when `o` is anything else (the caller then converts
// element by element, with its own error messages).
std::optional<std::vector<int64_t>> ndarray_int64s(PyObject* numpy, PyObject* o, const char* kinds);
std::optional<std::vector<double>> ndarray_doubles(PyObject* numpy, PyObject* o, const char* kinds);
// An unsigned integer; nullopt (error cleared) when `o` is not one.
std::optional<uint64_t> to_count(PyObject* o) noexcept;

// The second item of a 2-tuple (status, value), or nullptr (borrowed) when `o` is not one.
PyObject* second_of_pair(PyObject* o) noexcept;

// Python's full Unicode lower-casing of str(o).
std::string lower_text(PyObject* o);

}  // namespace velmo::pycall
