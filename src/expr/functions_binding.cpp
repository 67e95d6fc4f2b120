// Binding of the velmo package's expression functions: arguments in, velmo_opt's own
// expression objects out. Arrays are read in bulk (one bytes copy), never one object per entry.
#include "expr/functions_binding.hpp"

#include "expr/expr_types.hpp"
#include "expr/functions.hpp"
#include "module/args.hpp"
#include "module/type_builder.hpp"
#include "solve/arrays.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace velmo::binding {

using py::Ref;
using pycall::attr;
using pycall::array_contents;
using pycall::call_method;

namespace {

template <NodeKind K>
PyObject* function_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a(function_name(K), {"obj"}, 1, args, nargs, kwnames);
    const Operand arg = classify(a[0]);
    return wrap_value(Value(apply_function(K, arg)), arg.model).release();
  });
}

double exponent_of(PyObject* o, const char* fname) {
  double p = 0;
  if (!py::as_number(o, &p)) py::raise_wrong_type(o, fname, "exponent", "a number");
  return p;
}

PyObject* power_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("power", {"base", "exponent"}, 2, args, nargs, kwnames);
    const double p = exponent_of(a[1], "power");
    const Operand base = classify(a[0]);
    return wrap_value(power(base, p), base.model).release();
  });
}

PyObject* square_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("square", {"e"}, 1, args, nargs, kwnames);
    const Operand base = classify(a[0]);
    return wrap_value(power(base, 2.0), base.model).release();
  });
}

PyObject* product_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("product", {"a", "b"}, 2, args, nargs, kwnames);
    const Operand left = classify(a[0]);
    const Operand right = classify(a[1]);
    return wrap_value(product(left, right), combine_models(left.model, right.model)).release();
  });
}

[[noreturn]] void bad_item(const char* fname, Py_ssize_t position, PyObject* item) {
  py::raise(PyExc_ValueError, std::string(fname) + "() items must be Var, Expr, QuadExpr, NlExpr, or numeric (item " +
                                  std::to_string(position) + " is " + py::type_name(item) + ")");
}

PyObject* sum_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("sum", {"items"}, 1, args, nargs, kwnames);
    PyObject* items = a[0];
    if (PyUnicode_Check(items) || PyBytes_Check(items)) py::raise_wrong_type(items, "sum", "items", "an iterable of expressions or numbers");
    SumBuilder acc;
    ModelSerial model = kNoModel;
    auto add = [&](PyObject* item, Py_ssize_t position) {
      const Operand op = classify(item);
      if (!acc.add(op)) bad_item("sum", position, item);
      model = combine_models(model, op.model);
    };
    if (PyList_Check(items) || PyTuple_Check(items)) {
      // The list's length is re-read each step: a __float__ of an item may change it.
      const bool list = PyList_Check(items);
      for (Py_ssize_t i = 0; i < (list ? PyList_Size(items) : PyTuple_Size(items)); ++i) {
        Ref item = Ref::borrow(list ? PyList_GetItem(items, i) : PyTuple_GetItem(items, i));
        if (!item) throw py::ErrorAlreadySet{};
        add(item.get(), i);
      }
    } else {
      Ref it = Ref::steal(PyObject_GetIter(items));
      if (!it) {
        PyErr_Clear();
        py::raise_wrong_type(items, "sum", "items", "an iterable of expressions or numbers");
      }
      Py_ssize_t i = 0;
      while (true) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
          if (PyErr_Occurred()) throw py::ErrorAlreadySet{};
          break;
        }
        add(item.get(), i);
        ++i;
      }
    }
    return wrap_value(std::move(acc).finish(), model).release();
  });
}

// A float64 copy of an array-like and its shape, read through one bytes object.
struct Array {
  std::vector<double> values;
  std::vector<int64_t> shape;
};

Array read_array(PyObject* numpy, PyObject* o) {
  Ref kind = py::str("float64");
  Ref array = call_method(numpy, "ascontiguousarray", o, kind.get());
  Array out;
  Ref shape = attr(array.get(), "shape");
  const Py_ssize_t ndim = PyTuple_Size(shape.get());
  if (ndim < 0) throw py::ErrorAlreadySet{};
  for (Py_ssize_t k = 0; k < ndim; ++k) {
    const long long d = PyLong_AsLongLong(PyTuple_GetItem(shape.get(), k));
    if (d == -1 && PyErr_Occurred()) throw py::ErrorAlreadySet{};
    out.shape.push_back(d);
  }
  out.values = array_contents<double>(array.get());
  return out;
}

// The int64 entries of an index array, through one bytes object.
std::vector<int64_t> read_indices(PyObject* numpy, PyObject* o) {
  Ref kind = py::str("int64");
  Ref array = call_method(numpy, "ascontiguousarray", o, kind.get());
  return array_contents<int64_t>(array.get());
}

// The items of a sequence (list, tuple, NumPy object array, ...) as one list, no copies of them.
Ref item_list(PyObject* items, const char* fname) {
  if (PyUnicode_Check(items) || PyBytes_Check(items)) py::raise_wrong_type(items, fname, "items", "a sequence");
  if (PyList_Check(items)) return Ref::borrow(items);
  Ref list = Ref::steal(PySequence_List(items));
  if (!list) {
    PyErr_Clear();
    py::raise_wrong_type(items, fname, "items", "a sequence");
  }
  return list;
}

PyObject* dot_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("dot", {"coefficients", "items"}, 2, args, nargs, kwnames);
    Ref list = item_list(a[1], "dot");
    Ref numpy = pycall::import("numpy");
    const Array c = read_array(numpy.get(), a[0]);
    if (c.shape.size() != 1) {
      py::raise(PyExc_ValueError, "dot(): coefficients must be one-dimensional (got " + std::to_string(c.shape.size()) + " dimensions)");
    }
    // Items are read after the coefficients: converting them runs no code of the items.
    const Py_ssize_t n = PyList_Size(list.get());
    if (static_cast<size_t>(n) != c.values.size()) {
      py::raise(PyExc_ValueError, "dot(): " + std::to_string(c.values.size()) + " coefficients for " +
                                      std::to_string(n) + " items");
    }
    SumBuilder acc;
    ModelSerial model = kNoModel;
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* item = PyList_GetItem(list.get(), i);
      const Operand op = classify(item);
      if (!acc.add(op, c.values[static_cast<size_t>(i)])) bad_item("dot", i, item);
      model = combine_models(model, op.model);
    }
    return wrap_value(std::move(acc).finish(), model).release();
  });
}

PyObject* quad_form_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("quad_form", {"items", "Q"}, 2, args, nargs, kwnames);
    Ref list = item_list(a[0], "quad_form");
    const Py_ssize_t count = PyList_Size(list.get());
    std::vector<uint32_t> vars(static_cast<size_t>(count));
    ModelSerial model = kNoModel;
    for (Py_ssize_t i = 0; i < count; ++i) {
      PyObject* item = PyList_GetItem(list.get(), i);
      if (Py_TYPE(item) != var_type) {
        py::raise(PyExc_ValueError, "quad_form() items must be Var (item " + std::to_string(i) + " is " +
                                        py::type_name(item) + ")");
      }
      vars[static_cast<size_t>(i)] = reinterpret_cast<PyVar*>(item)->index;
      model = combine_models(model, reinterpret_cast<PyVar*>(item)->model);
    }
    const auto n = static_cast<int64_t>(count);
    auto wrong_shape = [&](int64_t r, int64_t c) {
      py::raise(PyExc_ValueError, "quad_form(): Q must be " + std::to_string(n) + " x " + std::to_string(n) +
                                      " for " + std::to_string(n) + " items (got " + std::to_string(r) + " x " +
                                      std::to_string(c) + ")");
    };
    Ref numpy = pycall::import("numpy");
    PyObject* q = a[1];
    if (PyObject_HasAttrString(q, "tocoo") && PyObject_HasAttrString(q, "nnz")) {
      // A scipy.sparse matrix: its coordinate form, three bulk reads.
      Ref shape = attr(q, "shape");
      const long long r = PyLong_AsLongLong(PyTuple_GetItem(shape.get(), 0));
      const long long c = PyLong_AsLongLong(PyTuple_GetItem(shape.get(), 1));
      if (PyErr_Occurred()) throw py::ErrorAlreadySet{};
      if (r != n || c != n) wrong_shape(r, c);
      Ref coo = call_method(q, "tocoo");
      Ref rows = attr(coo.get(), "row");
      Ref cols = attr(coo.get(), "col");
      Ref data = attr(coo.get(), "data");
      const std::vector<int64_t> ri = read_indices(numpy.get(), rows.get());
      const std::vector<int64_t> ci = read_indices(numpy.get(), cols.get());
      const Array v = read_array(numpy.get(), data.get());
      if (ri.size() != v.values.size() || ci.size() != v.values.size()) {
        py::raise(PyExc_ValueError, "quad_form(): Q's coordinate arrays differ in length");
      }
      for (size_t k = 0; k < ri.size(); ++k) {
        if (ri[k] < 0 || ri[k] >= n || ci[k] < 0 || ci[k] >= n) {
          py::raise(PyExc_ValueError, "quad_form(): Q has an entry outside its shape");
        }
      }
      return wrap_value(Value(quad_form_entries(vars, ri, ci, v.values)), model).release();
    }
    const Array dense = read_array(numpy.get(), q);
    if (dense.shape.size() != 2) {
      py::raise(PyExc_ValueError, "quad_form(): Q must be a two-dimensional matrix (got " +
                                      std::to_string(dense.shape.size()) + " dimensions)");
    }
    if (dense.shape[0] != n || dense.shape[1] != n) wrong_shape(dense.shape[0], dense.shape[1]);
    return wrap_value(Value(quad_form_dense(vars, dense.values)), model).release();
  });
}

}  // namespace

PyMethodDef extension_functions[] = {
    {"exp", py::fastcall<function_impl<NodeKind::Exp>>(), py::kFastcallFlags,
     "exp(obj)\n--\n\nThe exponential of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."},
    {"log", py::fastcall<function_impl<NodeKind::Log>>(), py::kFastcallFlags,
     "log(obj)\n--\n\nThe natural logarithm of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."},
    {"tan", py::fastcall<function_impl<NodeKind::Tan>>(), py::kFastcallFlags,
     "tan(obj)\n--\n\nThe tangent of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."},
    {"atan", py::fastcall<function_impl<NodeKind::Atan>>(), py::kFastcallFlags,
     "atan(obj)\n--\n\nThe arc tangent of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."},
    {"tanh", py::fastcall<function_impl<NodeKind::Tanh>>(), py::kFastcallFlags,
     "tanh(obj)\n--\n\nThe hyperbolic tangent of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."},
    {"abs", py::fastcall<function_impl<NodeKind::Abs>>(), py::kFastcallFlags,
     "abs(obj)\n--\n\nThe absolute value of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."},
    {"power", py::fastcall<power_impl>(), py::kFastcallFlags,
     "power(base, exponent)\n--\n\nbase ** exponent for a numeric exponent: exponent 1 gives the base back, 2 of a\n"
     "linear base the expanded QuadExpr, anything else an NlExpr."},
    {"square", py::fastcall<square_impl>(), py::kFastcallFlags,
     "square(e)\n--\n\npower(e, 2): the expanded QuadExpr of a linear e, an NlExpr otherwise."},
    {"product", py::fastcall<product_impl>(), py::kFastcallFlags,
     "product(a, b)\n--\n\na * b for any two operands: a number scales, two linear operands give the expanded\n"
     "QuadExpr, anything else an NlExpr."},
    {"dot", py::fastcall<dot_impl>(), py::kFastcallFlags,
     "dot(coefficients, items)\n--\n\nsum(c * item) for a 1-D sequence or NumPy array of numbers and a sequence of the\n"
     "same length of Var, Expr, QuadExpr, NlExpr or numbers."},
    {"quad_form", py::fastcall<quad_form_impl>(), py::kFastcallFlags,
     "quad_form(items, Q)\n--\n\nx'Qx as a QuadExpr, for a sequence of n Var and a dense or scipy.sparse n x n matrix Q."},
    {"sum", py::fastcall<sum_impl>(), py::kFastcallFlags,
     "sum(items)\n--\n\nThe sum of any iterable of Var, Expr, QuadExpr, NlExpr or numbers, in linear time, as\n"
     "the narrowest expression type that holds it."},
    {nullptr, nullptr, 0, nullptr}};

}  // namespace velmo::binding
