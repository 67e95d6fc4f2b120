// Bulk model input: Model.add_matrix and per-variable bound arrays. NumPy converts the
// arrays; their bytes are read in one copy each, never one Python object per entry.
#include "modelling/bulk_input.hpp"

#include "expr/expr_types.hpp"
#include "modelling/matrix_rows.hpp"
#include "modelling/model_type.hpp"
#include "module/args.hpp"
#include "solve/arrays.hpp"


namespace velmo::binding {

using py::Ref;
using pycall::attr;
using pycall::call_method;

namespace {

[[noreturn]] void invalid(const std::string& message) { throw InvalidInput{message}; }

// `numpy.ascontiguousarray(o, dtype)` and its shape.
struct NdArray {
  Ref array;
  std::vector<size_t> shape;
};

NdArray as_array(PyObject* numpy, PyObject* o, const char* dtype) {
  NdArray out;
  Ref kind = py::str(dtype);
  out.array = call_method(numpy, "ascontiguousarray", o, kind.get());
  Ref shape = attr(out.array.get(), "shape");
  const Py_ssize_t nd = PyTuple_Size(shape.get());
  if (nd < 0) throw py::ErrorAlreadySet{};
  for (Py_ssize_t k = 0; k < nd; ++k) {
    const size_t n = PyLong_AsSize_t(PyTuple_GetItem(shape.get(), k));
    if (n == static_cast<size_t>(-1) && PyErr_Occurred()) throw py::ErrorAlreadySet{};
    out.shape.push_back(n);
  }
  return out;
}

template <class T>
std::vector<T> contents(const NdArray& a) {
  return pycall::array_contents<T>(a.array.get());
}

// A one-dimensional array of doubles (a 0-d value counts as one entry).
std::vector<double> doubles_1d(PyObject* numpy, PyObject* o, const char* what) {
  NdArray a = as_array(numpy, o, "float64");
  if (a.shape.size() > 1) invalid(std::string(what) + " must be one-dimensional");
  return contents<double>(a);
}

bool is_number(PyObject* o) {
  double ignored;
  return !PyUnicode_Check(o) && py::as_number(o, &ignored);
}

// The variables' indices, and the serials of the models they come from in `origins`.
std::vector<uint32_t> var_list(PyObject* seq, std::vector<ModelSerial>& origins) {
  if (PyUnicode_Check(seq) || !PySequence_Check(seq)) {
    py::raise_wrong_type(seq, "add_matrix", "variables", "a sequence of Var");
  }
  const Py_ssize_t n = PySequence_Size(seq);
  if (n < 0) throw py::ErrorAlreadySet{};
  std::vector<uint32_t> out;
  out.reserve(static_cast<size_t>(n));
  origins.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = py::check(PySequence_GetItem(seq, i));
    if (Py_TYPE(item.get()) != var_type) {
      py::raise(PyExc_TypeError, "add_matrix(): argument 'variables' must be a sequence of Var, but item " +
                                     std::to_string(i) + " is " + py::type_name(item.get()));
    }
    out.push_back(reinterpret_cast<PyVar*>(item.get())->index);
    origins.push_back(reinterpret_cast<PyVar*>(item.get())->model);
  }
  return out;
}

ConstraintSense sense_of(PyObject* o) {
  if (PyUnicode_Check(o)) {
    const std::string s = py::utf8(o);
    if (s == "<=") return ConstraintSense::Le;
    if (s == ">=") return ConstraintSense::Ge;
    if (s == "==") return ConstraintSense::Eq;
  }
  invalid("add_matrix(): sense must be \"<=\", \">=\" or \"==\"");
}

std::vector<ConstraintSense> senses_of(PyObject* o) {
  if (PyUnicode_Check(o)) return {sense_of(o)};
  std::vector<Ref> items = py::to_object_list(o, "add_matrix", "sense");
  std::vector<ConstraintSense> out;
  out.reserve(items.size());
  for (const Ref& item : items) out.push_back(sense_of(item.get()));
  return out;
}

std::vector<std::string> names_of(PyObject* o, size_t rows) {
  std::vector<std::string> out;
  if (o == nullptr || o == Py_None) return out;
  out.reserve(rows);
  if (PyUnicode_Check(o)) {  // a stem: stem_0, stem_1, ... as the batch variable methods name
    const std::string stem = py::utf8(o) + "_";
    for (size_t i = 0; i < rows; ++i) out.push_back(stem + std::to_string(i));
    return out;
  }
  for (const Ref& item : py::to_object_list(o, "add_matrix", "name")) {
    out.push_back(py::to_text(item.get(), "add_matrix", "name"));
  }
  return out;
}

// A's rows: scipy.sparse through its CSR arrays, anything else through a dense 2-D array.
struct Rows {
  CsrView view;
  CsrMatrix owned;               // dense input converted here
  std::vector<int64_t> start;    // sparse input read here
  std::vector<int64_t> index;
  std::vector<double> value;
};

void read_matrix(PyObject* numpy, PyObject* a, Rows& r) {
  if (PyObject_HasAttrString(a, "tocsr") && PyObject_HasAttrString(a, "nnz")) {
    Ref csr = call_method(a, "tocsr");
    Ref shape = attr(csr.get(), "shape");
    if (PyTuple_Size(shape.get()) != 2) invalid("add_matrix(): A must be two-dimensional");
    r.view.rows = PyLong_AsSize_t(PyTuple_GetItem(shape.get(), 0));
    r.view.cols = PyLong_AsSize_t(PyTuple_GetItem(shape.get(), 1));
    if (PyErr_Occurred()) throw py::ErrorAlreadySet{};
    r.start = contents<int64_t>(as_array(numpy, attr(csr.get(), "indptr").get(), "int64"));
    r.index = contents<int64_t>(as_array(numpy, attr(csr.get(), "indices").get(), "int64"));
    r.value = contents<double>(as_array(numpy, attr(csr.get(), "data").get(), "float64"));
    r.view.start = r.start;
    r.view.index = r.index;
    r.view.value = r.value;
    return;
  }
  NdArray dense = as_array(numpy, a, "float64");
  if (dense.shape.size() != 2) invalid("add_matrix(): A must be two-dimensional");
  r.view.rows = dense.shape[0];
  r.view.cols = dense.shape[1];
  r.owned = dense_to_csr(r.view.rows, r.view.cols, contents<double>(dense));
  r.view.start = r.owned.start;
  r.view.index = r.owned.index;
  r.view.value = r.owned.value;
}

Ref range_of(size_t first, size_t count) {
  PyObject* range = PyDict_GetItemString(PyEval_GetBuiltins(), "range");  // borrowed
  if (range == nullptr) invalid("range is missing from builtins");
  Ref lo = py::check(PyLong_FromSize_t(first));
  Ref hi = py::check(PyLong_FromSize_t(first + count));
  return pycall::call(range, lo.get(), hi.get());
}

}  // namespace

PyObject* model_add_matrix(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("add_matrix", {"A", "variables", "sense", "rhs", "name"}, 4, args, nargs, kwnames);
    Ref numpy = pycall::import("numpy");
    std::vector<ModelSerial> origins;
    const std::vector<uint32_t> vars = var_list(a[1], origins);
    const std::vector<ConstraintSense> senses = senses_of(a[2]);
    if (PyUnicode_Check(a[3])) py::raise_wrong_type(a[3], "add_matrix", "rhs", "a number or an array of numbers");
    const std::vector<double> rhs = doubles_1d(numpy.get(), a[3], "add_matrix(): rhs");
    Rows r;
    read_matrix(numpy.get(), a[0], r);
    std::vector<LinearRow> rows = matrix_rows(r.view, vars, senses, rhs, names_of(a[4], r.view.rows));
    const size_t count = rows.size();
    size_t first;
    {
      ModelCore& core = reinterpret_cast<PyModel*>(self)->core;
      ModelLock lock(core);
      check_matrix_variables(lock.data(), core.serial, vars, origins);
      first = append_rows(lock.data(), std::move(rows));
    }
    return range_of(first, count).release();
  });
}

BoundArg::BoundArg(PyObject* o, uint64_t count, double fallback, const char* fname, const char* pname)
    : one_(fallback) {
  if (o == nullptr) return;
  if (PyUnicode_Check(o) || is_number(o) || !(PySequence_Check(o) || PyObject_HasAttrString(o, "__array__"))) {
    one_ = py::to_real(o, fname, pname);
    return;
  }
  Ref numpy = pycall::import("numpy");
  per_var_ = doubles_1d(numpy.get(), o, (std::string(fname) + "(): " + pname).c_str());
  if (per_var_.size() != count) {
    invalid(std::string(fname) + "(): " + pname + " has " + std::to_string(per_var_.size()) +
            " entries for " + std::to_string(count) + " variables");
  }
}

std::vector<std::string> given_names(PyObject* o, uint64_t count, const char* fname) {
  std::vector<std::string> out;
  if (o == nullptr || o == Py_None) return out;
  std::vector<Ref> items = py::to_object_list(o, fname, "names");
  if (items.size() != count) {
    invalid(std::string(fname) + "(): names has " + std::to_string(items.size()) + " entries for " +
            std::to_string(count) + " variables");
  }
  out.reserve(items.size());
  for (const Ref& item : items) out.push_back(py::to_text(item.get(), fname, "names"));
  return out;
}

}  // namespace velmo::binding
