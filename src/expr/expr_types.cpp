// Binding of the expression classes: operand classification, operator slots, reprs and the
// module functions sum, sin, cos, sqrt.
#include "expr/expr_types.hpp"

#include "module/args.hpp"
#include "module/type_builder.hpp"

#include <new>
#include <utility>

namespace velmo::binding {

using py::Ref;

PyTypeObject* var_type = nullptr;
PyTypeObject* expr_type = nullptr;
PyTypeObject* quad_type = nullptr;
PyTypeObject* nl_type = nullptr;
PyTypeObject* constraint_type = nullptr;

Operand classify(PyObject* o) {
  Operand op;
  PyTypeObject* t = Py_TYPE(o);
  if (t == var_type) {
    op.kind = Operand::Var;
    op.var = reinterpret_cast<PyVar*>(o)->index;
    op.model = reinterpret_cast<PyVar*>(o)->model;
  } else if (t == expr_type) {
    op.kind = Operand::Linear;
    op.expr = &reinterpret_cast<PyExpr*>(o)->value.get();
    op.model = reinterpret_cast<PyExpr*>(o)->model;
  } else if (t == quad_type) {
    op.kind = Operand::Quad;
    op.quad = &reinterpret_cast<PyQuad*>(o)->value.get();
    op.model = reinterpret_cast<PyQuad*>(o)->model;
  } else if (t == nl_type) {
    op.kind = Operand::Nl;
    op.nl = &reinterpret_cast<PyNl*>(o)->value;
    op.model = reinterpret_cast<PyNl*>(o)->model;
  } else if (py::as_number(o, &op.number)) {
    op.kind = Operand::Number;
  }
  return op;
}

ModelSerial model_of(PyObject* o) noexcept {
  PyTypeObject* t = Py_TYPE(o);
  if (t == var_type) return reinterpret_cast<PyVar*>(o)->model;
  if (t == expr_type) return reinterpret_cast<PyExpr*>(o)->model;
  if (t == quad_type) return reinterpret_cast<PyQuad*>(o)->model;
  if (t == nl_type) return reinterpret_cast<PyNl*>(o)->model;
  if (t == constraint_type) return reinterpret_cast<PyConstraint*>(o)->model;
  return kNoModel;
}

void require_model(ModelSerial model, ModelSerial expected, const char* fname, const std::string& what) {
  if (model == kNoModel || model == expected) return;
  std::string message = std::string(fname) + "(): " + what + " holds variables of another model";
  if (model == kMixedModels) message += " (it mixes the variables of two models)";
  message += "; a model takes only expressions over the variables it created";
  py::raise(PyExc_ValueError, message);
}

namespace {

// Instances are built from a finished C++ value, so a failed allocation leaves nothing
// half-constructed.
template <class PyT, class V>
Ref make_object(PyTypeObject* type, V&& value, ModelSerial model) {
  using Payload = decltype(PyT::value);
  PyT* o = py::alloc_instance<PyT>(type);
  o->model = model;
  new (&o->value) Payload(std::forward<V>(value));
  return Ref::steal(reinterpret_cast<PyObject*>(o));
}

ModelSerial pair_model(PyObject* a, PyObject* b) noexcept { return combine_models(model_of(a), model_of(b)); }

Ref wrap(ModelSerial model, Value&& v) { return wrap_value(std::move(v), model); }

template <class PyT>
void dealloc_value(PyObject* self) {
  using V = decltype(PyT::value);
  reinterpret_cast<PyT*>(self)->value.~V();
  py::free_instance(self);
}

void var_dealloc(PyObject* self) {
  reinterpret_cast<PyVar*>(self)->name.~basic_string();
  py::free_instance(self);
}

void constraint_dealloc(PyObject* self) {
  reinterpret_cast<PyConstraint*>(self)->record.~ConstraintRecord();
  py::free_instance(self);
}

PyObject* not_implemented() { Py_RETURN_NOTIMPLEMENTED; }

// A Constraint has no truth value. Python's chained comparison `1 <= x <= 2` is
// `(1 <= x) and (x <= 2)`, and `in`, list.index, list.remove and NumPy's object comparisons
// all test `==` for truth: with a truthy Constraint each of them silently answers for
// something other than what was written.
int constraint_bool(PyObject*) {
  PyErr_SetString(PyExc_ValueError,
                  "A constraint has no truth value: a chained comparison such as lb <= e <= ub keeps "
                  "only one side, so write a range as two constraints, m.add(lb <= e) and "
                  "m.add(e <= ub); to test whether two variables are the same, compare them with "
                  "`is`, not ==");
  return -1;
}

// ---- reprs

PyObject* var_repr(PyObject* self) {
  return py::guard([&] {
    const std::string& name = reinterpret_cast<PyVar*>(self)->name;
    return py::str("Var('" + name + "')").release();
  });
}
PyObject* expr_repr(PyObject* self) {
  return py::guard([&] { return py::str(expr_text(reinterpret_cast<PyExpr*>(self)->value.get())).release(); });
}
PyObject* quad_repr(PyObject* self) {
  return py::guard([&] { return py::str(quad_text(reinterpret_cast<PyQuad*>(self)->value.get())).release(); });
}
PyObject* nl_repr(PyObject* self) {
  return py::guard([&] { return py::str(nl_text(reinterpret_cast<PyNl*>(self)->value)).release(); });
}
PyObject* constraint_repr(PyObject* self) {
  return py::guard([&] {
    const ConstraintRecord& r = reinterpret_cast<PyConstraint*>(self)->record;
    if (const auto* row = std::get_if<LinearRow>(&r)) return py::str(row_text(*row)).release();
    return py::str(nl_constraint_text(std::get<NonlinearConstraint>(r))).release();
  });
}

// ---- arithmetic. Python calls a class's slot for `a op b` both when `a` is an instance
// (forward form) and when only `b` is (reflected form); the receiver decides.

// `e + t`, `e - t` and `n + e` with an Expr e extend e's shared term log (see growing_sum.hpp)
// instead of copying e.
PyObject* grown_expr(PyObject* e, const Operand& other, double sign) {
  PyExpr* self = reinterpret_cast<PyExpr*>(e);
  return make_object<PyExpr>(expr_type, grow(self->value, other, sign), combine_models(self->model, other.model))
      .release();
}

template <PyTypeObject** Self>
PyObject* linear_add(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (*Self == expr_type) {
      if (Py_TYPE(a) == expr_type) {
        const Operand other = classify(b);
        if (extends_linear(other)) return grown_expr(a, other, 1.0);
        return wrap(mo, linear_addsub(classify(a), other, 1.0)).release();
      }
      const Operand left = classify(a);
      if (left.kind == Operand::Number) return grown_expr(b, left, 1.0);
      return wrap(mo, linear_raddsub(left, classify(b), 1.0)).release();
    }
    if (Py_TYPE(a) == *Self) return wrap(mo, linear_addsub(classify(a), classify(b), 1.0)).release();
    return wrap(mo, linear_raddsub(classify(a), classify(b), 1.0)).release();
  });
}
template <PyTypeObject** Self>
PyObject* linear_sub(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (*Self == expr_type && Py_TYPE(a) == expr_type) {
      const Operand other = classify(b);
      if (extends_linear(other)) return grown_expr(a, other, -1.0);
      return wrap(mo, linear_addsub(classify(a), other, -1.0)).release();
    }
    if (Py_TYPE(a) == *Self) return wrap(mo, linear_addsub(classify(a), classify(b), -1.0)).release();
    return wrap(mo, linear_raddsub(classify(a), classify(b), -1.0)).release();
  });
}
template <PyTypeObject** Self>
PyObject* linear_multiply(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (Py_TYPE(a) == *Self) return wrap(mo, linear_mul(classify(a), classify(b))).release();
    return wrap(mo, linear_mul(classify(b), classify(a))).release();
  });
}
template <PyTypeObject** Self>
PyObject* linear_divide(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (Py_TYPE(a) == *Self) return wrap(mo, linear_div(classify(a), classify(b))).release();
    return wrap(mo, Value(reflected_div(classify(a), classify(b)))).release();
  });
}

PyObject* any_negative(PyObject* self) {
  return py::guard([&] { return wrap_value(negate(classify(self)), model_of(self)).release(); });
}

// An exponent or modulus integer for Var ** e; anything else answers NotImplemented.
bool small_integer(PyObject* o, long long lo, long long hi, long long* out) {
  if (!PyLong_Check(o)) {
    if (PyFloat_Check(o)) return false;
    PyObject* idx = PyNumber_Index(o);
    if (idx == nullptr) {
      py::clear_error();
      return false;
    }
    Ref hold = Ref::steal(idx);
    return small_integer(idx, lo, hi, out);
  }
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (v == -1 && PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  if (overflow != 0 || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// `e ** n` for a plain int or float n, which the class does not define: Python's own
// TypeError, with a note naming the velmo functions that do it. Any other operand answers
// NotImplemented, so its own reflected power still gets its turn.
PyObject* refused_power(const char* type_name, PyObject* exponent, PyObject* mod) {
  const bool plain = PyLong_CheckExact(exponent) || PyFloat_CheckExact(exponent);
  if (!plain || mod != Py_None) return not_implemented();
  const std::string message = std::string("unsupported operand type(s) for ** or pow(): '") + type_name + "' and '" +
                              (PyFloat_CheckExact(exponent) ? "float" : "int") + "'";
  py::set_error_with_note(PyExc_TypeError, message.c_str(),
                          "vo.power(e, p) raises any expression to a numeric power; vo.square(e) is power 2");
  return nullptr;
}

template <PyTypeObject** Self>
PyObject* no_power(PyObject* a, PyObject* b, PyObject* mod) {
  if (Py_TYPE(a) != *Self) return not_implemented();
  const char* name = Self == &expr_type ? "velmo_opt.Expr" : Self == &quad_type ? "velmo_opt.QuadExpr" : "velmo_opt.NlExpr";
  return refused_power(name, b, mod);
}

PyObject* var_power(PyObject* a, PyObject* b, PyObject* mod) {
  return py::guard([&] {
    if (Py_TYPE(a) != var_type) return not_implemented();  // no reflected power
    long long e = 0;
    if (PyFloat_CheckExact(b)) return refused_power("velmo_opt.Var", b, mod);
    if (!small_integer(b, INT32_MIN, INT32_MAX, &e)) return not_implemented();
    if (mod != Py_None && !PyLong_Check(mod) && (PyFloat_Check(mod) || !PyIndex_Check(mod))) {
      return not_implemented();
    }
    const uint32_t index = reinterpret_cast<PyVar*>(a)->index;
    return wrap_value(Value(velmo::var_power(index, static_cast<int32_t>(e))), model_of(a)).release();
  });
}

PyObject* grown_quad(PyObject* q, const Operand& other, double sign) {
  PyQuad* self = reinterpret_cast<PyQuad*>(q);
  return make_object<PyQuad>(quad_type, grow(self->value, other, sign), combine_models(self->model, other.model))
      .release();
}

PyObject* quad_add_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    const bool forward = Py_TYPE(a) == quad_type;
    PyObject* self = forward ? a : b;
    const Operand other = classify(forward ? b : a);
    if (extends_quad(other, 1.0)) return grown_quad(self, other, 1.0);
    return wrap(mo, quad_add(reinterpret_cast<PyQuad*>(self)->value.get(), other)).release();
  });
}
PyObject* quad_sub_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (Py_TYPE(a) != quad_type) return not_implemented();  // no reflected subtraction
    const Operand other = classify(b);
    if (extends_quad(other, -1.0)) return grown_quad(a, other, -1.0);
    return wrap(mo, quad_sub(reinterpret_cast<PyQuad*>(a)->value.get(), other)).release();
  });
}
PyObject* quad_mul_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    const bool forward = Py_TYPE(a) == quad_type;
    PyObject* self = forward ? a : b;
    return wrap(mo, quad_mul(reinterpret_cast<PyQuad*>(self)->value.get(), classify(forward ? b : a))).release();
  });
}
PyObject* quad_div_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (Py_TYPE(a) == quad_type) return wrap(mo, quad_div(reinterpret_cast<PyQuad*>(a)->value.get(), classify(b))).release();
    return wrap(mo, Value(reflected_div(classify(a), classify(b)))).release();
  });
}

PyObject* nl_add_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    const bool forward = Py_TYPE(a) == nl_type;
    PyObject* self = forward ? a : b;
    return wrap(mo, Value(nl_add(reinterpret_cast<PyNl*>(self)->value, classify(forward ? b : a)))).release();
  });
}
PyObject* nl_sub_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (Py_TYPE(a) == nl_type) return wrap(mo, Value(nl_sub(reinterpret_cast<PyNl*>(a)->value, classify(b)))).release();
    return wrap(mo, Value(nl_rsub(classify(a), reinterpret_cast<PyNl*>(b)->value))).release();
  });
}
PyObject* nl_mul_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    const bool forward = Py_TYPE(a) == nl_type;
    PyObject* self = forward ? a : b;
    return wrap(mo, Value(nl_mul(reinterpret_cast<PyNl*>(self)->value, classify(forward ? b : a)))).release();
  });
}
PyObject* nl_div_slot(PyObject* a, PyObject* b) {
  return py::guard([&] {
    const ModelSerial mo = pair_model(a, b);
    if (Py_TYPE(a) == nl_type) return wrap(mo, Value(nl_div(reinterpret_cast<PyNl*>(a)->value, classify(b)))).release();
    return wrap(mo, Value(reflected_div(classify(a), classify(b)))).release();
  });
}

// ---- comparisons: <=, >=, == build constraints; != negates a successful ==; < and > are
// not defined.

PyObject* richcompare(PyObject* self, PyObject* other, int op) {
  return py::guard([&]() -> PyObject* {
    ConstraintSense sense;
    switch (op) {
      case Py_LE: sense = ConstraintSense::Le; break;
      case Py_GE: sense = ConstraintSense::Ge; break;
      case Py_EQ:
      case Py_NE: sense = ConstraintSense::Eq; break;
      default: return not_implemented();
    }
    ConstraintRecord record = compare(classify(self), classify(other), sense);
    if (op == Py_NE) return Ref::borrow(Py_False).release();
    return new_constraint(std::move(record), pair_model(self, other)).release();
  });
}

// ---- module functions

PyObject* sum_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("sum", {"items"}, 1, args, nargs, kwnames);
    PyObject* items = a[0];
    if (!PyList_Check(items)) py::raise_wrong_type(items, "sum", "items", "list");
    Expr acc;
    ModelSerial model = kNoModel;
    // The length is re-read each step: a __float__ of an item may change the list.
    for (Py_ssize_t i = 0; i < PyList_Size(items); ++i) {
      Ref item = Ref::borrow(PyList_GetItem(items, i));
      if (!item) throw py::ErrorAlreadySet{};
      const Operand op = classify(item.get());
      sum_fold(acc, op);
      model = combine_models(model, op.model);
    }
    return wrap_value(Value(std::move(acc)), model).release();
  });
}

template <NodeKind K>
PyObject* function_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr const char* kName = K == NodeKind::Sin ? "sin" : K == NodeKind::Cos ? "cos" : "sqrt";
  return py::guard([&] {
    py::Args a(kName, {"obj"}, 1, args, nargs, kwnames);
    const Operand arg = classify(a[0]);
    return wrap_value(Value(apply_function(K, arg)), arg.model).release();
  });
}

}  // namespace

Ref new_var(uint32_t index, ModelSerial model, std::string name) {
  PyVar* o = py::alloc_instance<PyVar>(var_type);
  o->index = index;
  o->model = model;
  new (&o->name) std::string(std::move(name));
  return Ref::steal(reinterpret_cast<PyObject*>(o));
}

Ref wrap_value(Value&& v, ModelSerial model) {
  switch (v.index()) {
    case 0: return make_object<PyExpr>(expr_type, std::get<Expr>(std::move(v)), model);
    case 1: return make_object<PyQuad>(quad_type, std::get<QuadExpr>(std::move(v)), model);
    default: return make_object<PyNl>(nl_type, std::get<NlExpr>(std::move(v)), model);
  }
}

Ref new_constraint(ConstraintRecord&& record, ModelSerial model) {
  PyConstraint* o = py::alloc_instance<PyConstraint>(constraint_type);
  o->model = model;
  new (&o->record) ConstraintRecord(std::move(record));
  return Ref::steal(reinterpret_cast<PyObject*>(o));
}

PyMethodDef sum_def = {
    "sum", py::fastcall<sum_impl>(), py::kFastcallFlags,
    "sum(items)\n--\n\n"
    "Summation helper: velmo.sum([expr1, expr2, ...]) \u2014 accepts Var and Expr objects."};
PyMethodDef sin_def = {"sin", py::fastcall<function_impl<NodeKind::Sin>>(), py::kFastcallFlags,
                       "sin(obj)\n--\n\n`sin(x)` \u2014 returns an `NlExpr` wrapping `Sin(x)`."};
PyMethodDef cos_def = {"cos", py::fastcall<function_impl<NodeKind::Cos>>(), py::kFastcallFlags,
                       "cos(obj)\n--\n\n`cos(x)` \u2014 returns an `NlExpr` wrapping `Cos(x)`."};
PyMethodDef sqrt_def = {"sqrt", py::fastcall<function_impl<NodeKind::Sqrt>>(), py::kFastcallFlags,
                        "sqrt(obj)\n--\n\n`sqrt(x)` \u2014 returns an `NlExpr` wrapping `Sqrt(x)`."};

namespace {
constexpr unsigned kValueFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;

void* fn(auto f) { return reinterpret_cast<void*>(f); }
}  // namespace

PyTypeObject* make_var_type() {
  return py::build_type(
      "velmo_opt.Var", sizeof(PyVar), kValueFlags,
      {{Py_tp_doc, const_cast<char*>("A variable reference returned to Python. Supports operator overloading\n"
                                     "to build expressions naturally: `x + 2*y >= 5`.")},
       {Py_tp_dealloc, fn(var_dealloc)},
       {Py_tp_repr, fn(var_repr)},
       {Py_tp_hash, fn(PyObject_HashNotImplemented)},
       {Py_tp_richcompare, fn(richcompare)},
       {Py_nb_negative, fn(any_negative)},
       {Py_nb_add, fn(linear_add<&var_type>)},
       {Py_nb_subtract, fn(linear_sub<&var_type>)},
       {Py_nb_multiply, fn(linear_multiply<&var_type>)},
       {Py_nb_true_divide, fn(linear_divide<&var_type>)},
       {Py_nb_power, fn(var_power)}});
}

PyTypeObject* make_expr_type() {
  return py::build_type(
      "velmo_opt.Expr", sizeof(PyExpr), kValueFlags,
      {{Py_tp_doc, const_cast<char*>("A linear expression in Python. Built by combining Var objects with +, -, *.")},
       {Py_tp_dealloc, fn(dealloc_value<PyExpr>)},
       {Py_tp_repr, fn(expr_repr)},
       {Py_tp_hash, fn(PyObject_HashNotImplemented)},
       {Py_tp_richcompare, fn(richcompare)},
       {Py_nb_negative, fn(any_negative)},
       {Py_nb_add, fn(linear_add<&expr_type>)},
       {Py_nb_subtract, fn(linear_sub<&expr_type>)},
       {Py_nb_multiply, fn(linear_multiply<&expr_type>)},
       {Py_nb_true_divide, fn(linear_divide<&expr_type>)},
       {Py_nb_power, fn(no_power<&expr_type>)}});
}

PyTypeObject* make_quad_type() {
  return py::build_type(
      "velmo_opt.QuadExpr", sizeof(PyQuad), kValueFlags,
      {{Py_tp_doc, const_cast<char*>("A quadratic expression: linear + quadratic terms.\n"
                                     "Supports x**2, x*y, and combinations with linear expressions.")},
       {Py_tp_dealloc, fn(dealloc_value<PyQuad>)},
       {Py_tp_repr, fn(quad_repr)},
       {Py_tp_hash, fn(PyObject_HashNotImplemented)},
       {Py_tp_richcompare, fn(richcompare)},
       {Py_nb_negative, fn(any_negative)},
       {Py_nb_add, fn(quad_add_slot)},
       {Py_nb_subtract, fn(quad_sub_slot)},
       {Py_nb_multiply, fn(quad_mul_slot)},
       {Py_nb_true_divide, fn(quad_div_slot)},
       {Py_nb_power, fn(no_power<&quad_type>)}});
}

PyTypeObject* make_nl_type() {
  return py::build_type(
      "velmo_opt.NlExpr", sizeof(PyNl), kValueFlags,
      {{Py_tp_doc, const_cast<char*>("A nonlinear expression in Python. Produced by `sin`/`cos`/`sqrt` applied\n"
                                     "to `Var`/`Expr`, or by arithmetic combining a nonlinear operand with a\n"
                                     "`Var`/`Expr`/scalar. Comparison operators produce nonlinear constraints.")},
       {Py_tp_dealloc, fn(dealloc_value<PyNl>)},
       {Py_tp_repr, fn(nl_repr)},
       {Py_tp_hash, fn(PyObject_HashNotImplemented)},
       {Py_tp_richcompare, fn(richcompare)},
       {Py_nb_negative, fn(any_negative)},
       {Py_nb_add, fn(nl_add_slot)},
       {Py_nb_subtract, fn(nl_sub_slot)},
       {Py_nb_multiply, fn(nl_mul_slot)},
       {Py_nb_true_divide, fn(nl_div_slot)},
       {Py_nb_power, fn(no_power<&nl_type>)}});
}

PyTypeObject* make_constraint_type() {
  return py::build_type(
      "velmo_opt.Constraint", sizeof(PyConstraint), kValueFlags,
      {{Py_tp_doc, const_cast<char*>("A constraint object returned by comparison operators.")},
       {Py_tp_dealloc, fn(constraint_dealloc)},
       {Py_tp_repr, fn(constraint_repr)},
       {Py_nb_bool, fn(constraint_bool)}});
}

}  // namespace velmo::binding
