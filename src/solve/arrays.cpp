// Calls on numpy, scipy.sparse and time, and conversions of solver answers.
#include "solve/arrays.hpp"

#include "module/args.hpp"


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
  return array_contents<double>(array.get());
}

namespace {
// `o` as a contiguous 1-d array of `dtype` when it is an ndarray of one of `kinds`.
Ref matching_ndarray(PyObject* numpy, PyObject* o, const char* kinds, const char* dtype) {
  Ref ndarray = attr(numpy, "ndarray");
  const int is = PyObject_IsInstance(o, ndarray.get());
  if (is < 0) throw py::ErrorAlreadySet{};
  if (is == 0) return Ref();
  Ref ndim = attr(o, "ndim");
  if (PyLong_AsLong(ndim.get()) != 1) {
    PyErr_Clear();
    return Ref();
  }
  Ref kind = attr(attr(o, "dtype").get(), "kind");
  const std::string k = py::utf8(kind.get());
  if (k.size() != 1 || std::string_view(kinds).find(k[0]) == std::string_view::npos) return Ref();
  Ref type = py::str(dtype);
  return call_method(numpy, "ascontiguousarray", o, type.get());
}

}  // namespace

std::optional<std::vector<int64_t>> ndarray_int64s(PyObject* numpy, PyObject* o, const char* kinds) {
  Ref a = matching_ndarray(numpy, o, kinds, "int64");
  if (!a) return std::nullopt;
  // A uint64 above INT64_MAX wraps to a negative value here, which the caller refuses as out
  // of range.
  return array_contents<int64_t>(a.get());
}

std::optional<std::vector<double>> ndarray_doubles(PyObject* numpy, PyObject* o, const char* kinds) {
  Ref a = matching_ndarray(numpy, o, kinds, "float64");
  if (!a) return std::nullopt;
  return array_contents<double>(a.get());
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
