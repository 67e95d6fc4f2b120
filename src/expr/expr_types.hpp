// Python classes of the expression layer (Var, Expr, QuadExpr, NlExpr, Constraint) and the
// module functions sum, sin, cos and sqrt.
#pragma once

#include "expr/algebra.hpp"
#include "expr/growing_sum.hpp"
#include "module/py.hpp"

#include <string>

namespace velmo::binding {

struct PyVar {
  PyObject ob_base;
  uint32_t index;
  std::string name;
};
struct PyExpr {
  PyObject ob_base;
  GrowingExpr value;
};
struct PyQuad {
  PyObject ob_base;
  GrowingQuad value;
};
struct PyNl {
  PyObject ob_base;
  NlExpr value;
};
struct PyConstraint {
  PyObject ob_base;
  ConstraintRecord record;
};

extern PyTypeObject* var_type;
extern PyTypeObject* expr_type;
extern PyTypeObject* quad_type;
extern PyTypeObject* nl_type;
extern PyTypeObject* constraint_type;

PyTypeObject* make_var_type();
PyTypeObject* make_expr_type();
PyTypeObject* make_quad_type();
PyTypeObject* make_nl_type();
PyTypeObject* make_constraint_type();

// Classifies any Python object as an operand (module classes first, then numbers).
// An Expr or QuadExpr operand is read through its plain value, built here on first use. A stop
// request (KeyboardInterrupt, SystemExit) raised by a conversion propagates.
Operand classify(PyObject* o);

py::Ref new_var(uint32_t index, std::string name);
py::Ref wrap_value(Value&& v);

extern PyMethodDef sum_def;
extern PyMethodDef sin_def;
extern PyMethodDef cos_def;
extern PyMethodDef sqrt_def;

}  // namespace velmo::binding
