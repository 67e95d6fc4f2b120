// Calls on numpy, scipy.sparse and time, and conversions of solver answers.
#include "solve/arrays.hpp"

#include "module/args.hpp"

#include <cstring>

namespace velmo::pycall {

Ref import(const char* name) { return py::check(PyImport_ImportModule(name)); }

Ref attr(PyObject* o, const char* name) { return py::check(PyObject_GetAttrString(o, name)); }

Ref call_kw(PyObject* callable, PyObject* kwargs) {
  Ref empty = py::check(PyTuple_New(0));
  return py::check(PyObject_Call(callable, empty.get(), kwargs));
}

double perf_counter(PyObject* time_module) {
  Ref t = call_method(time_module, "perf_counter");
  return to_double(t.get());
}

double to_double(PyObject* o) {
  const double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) throw py::ErrorAlreadySet{};
  return v;
}

Ref ints(long long v) { return py::check(PyLong_FromLongLong(v)); }

namespace {
Ref from_buffer(PyObject* numpy, const void* data, size_t bytes, const char* dtype) {
  // A zero-length request may come with a null pointer; bytearray wants a real one.
  static const char nothing = 0;
  Ref buffer = py::check(PyByteArray_FromStringAndSize(bytes == 0 ? &nothing : static_cast<const char*>(data),
                                                       static_cast<Py_ssize_t>(bytes)));
  Ref frombuffer = attr(numpy, "frombuffer");
  Ref kind = py::str(dtype);
  return call(frombuffer.get(), buffer.get(), kind.get());
}
}  // namespace

Ref numpy_array(PyObject* numpy, std::span<const double> v) {
  return from_buffer(numpy, v.data(), v.size_bytes(), "float64");
}
Ref numpy_array(PyObject* numpy, std::span<const int32_t> v) {
  return from_buffer(numpy, v.data(), v.size_bytes(), "int32");
}
Ref numpy_array(PyObject* numpy, std::span<const int64_t> v) {
  return from_buffer(numpy, v.data(), v.size_bytes(), "int64");
}
Ref numpy_array(PyObject* numpy, std::span<const uint8_t> v) {
  return from_buffer(numpy, v.data(), v.size_bytes(), "uint8");
}

Ref csc_matrix(PyObject* sparse, PyObject* numpy, std::span<const double> values,
               std::span<const int32_t> indices, std::span<const int32_t> starts, size_t rows,
               size_t cols) {
  Ref v = numpy_array(numpy, values);
  Ref i = numpy_array(numpy, indices);
  Ref s = numpy_array(numpy, starts);
  Ref data = py::check(PyTuple_Pack(3, v.get(), i.get(), s.get()));
  Ref r = py::check(PyLong_FromSize_t(rows));
  Ref c = py::check(PyLong_FromSize_t(cols));
  Ref shape = py::check(PyTuple_Pack(2, r.get(), c.get()));
  return call_method(sparse, "csc_matrix", data.get(), shape.get());
}

std::vector<double> array_doubles(PyObject* numpy, PyObject* array_like) {
  Ref kind = py::str("float64");
  Ref array = call_method(numpy, "ascontiguousarray", array_like, kind.get());
  Ref bytes = call_method(array.get(), "tobytes");
  char* data = nullptr;
  Py_ssize_t size = 0;
  py::check_status(PyBytes_AsStringAndSize(bytes.get(), &data, &size));
  std::vector<double> out(static_cast<size_t>(size) / sizeof(double));
  if (!out.empty()) std::memcpy(out.data(), data, out.size() * sizeof(double));
  return out;
}

std::vector<double> to_doubles(PyObject* iterable) {
  std::vector<double> out;
  const Py_ssize_t hint = PyObject_Length(iterable);
  if (hint < 0) {
    py::clear_error();
  } else {
    out.reserve(static_cast<size_t>(hint));
  }
  if (PyList_Check(iterable)) {
    for (Py_ssize_t i = 0; i < PyList_Size(iterable); ++i) {
      out.push_back(to_double(PyList_GetItem(iterable, i)));
    }
    return out;
  }
  Ref it = py::check(PyObject_GetIter(iterable));
  while (PyObject* item = PyIter_Next(it.get())) {
    Ref hold = Ref::steal(item);
    out.push_back(to_double(item));
  }
  if (PyErr_Occurred()) throw py::ErrorAlreadySet{};
  return out;
}

std::optional<uint64_t> to_count(PyObject* o) noexcept {
  if (o == nullptr || !PyLong_Check(o)) return std::nullopt;
  const unsigned long long v = PyLong_AsUnsignedLongLong(o);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return std::nullopt;
  }
  return v;
}

PyObject* second_of_pair(PyObject* o) noexcept {
  if (o == nullptr || !PyTuple_Check(o) || PyTuple_Size(o) != 2) return nullptr;
  return PyTuple_GetItem(o, 1);
}

std::string lower_text(PyObject* o) {
  Ref s = py::check(PyObject_Str(o));
  Ref lowered = call_method(s.get(), "lower");
  return py::utf8(lowered.get());
}

}  // namespace velmo::pycall
