// The operator rules of the expression classes, free of Python: the binding classifies each
// Python operand into an Operand and turns the returned value into a Python object.
#pragma once

#include "expr/errors.hpp"
#include "expr/linear.hpp"
#include "expr/nonlinear.hpp"
#include "expr/origin.hpp"
#include "expr/quadratic.hpp"

#include <cstdint>
#include <variant>

namespace velmo {

// A classified operand. The pointers borrow the payload of a live Python object.
struct Operand {
  enum Kind : uint8_t { Var, Linear, Quad, Nl, Number, Other };
  Kind kind = Other;
  uint32_t var = 0;
  ModelSerial model = kNoModel;  // of the Python object (numbers and others: none)
  double number = 0.0;
  const Expr* expr = nullptr;
  const QuadExpr* quad = nullptr;
  const NlExpr* nl = nullptr;
};

using Value = std::variant<Expr, QuadExpr, NlExpr>;
using ConstraintRecord = std::variant<LinearRow, NonlinearConstraint>;

// Var and Expr on the left (forward forms) or on the right (reflected forms: the left
// operand `left` is neither a Var nor an Expr). `sign` is +1 for + and -1 for -.
Value linear_addsub(const Operand& self, const Operand& other, double sign);
Expr linear_raddsub(const Operand& left, const Operand& self, double sign);
Value linear_mul(const Operand& self, const Operand& other);
Value linear_div(const Operand& self, const Operand& other);
NlExpr reflected_div(const Operand& left, const Operand& self);
QuadExpr var_power(uint32_t index, int32_t exponent);

// QuadExpr on the left; add and mul serve the reflected forms too (they commute).
Value quad_add(const QuadExpr& q, const Operand& other);
Value quad_sub(const QuadExpr& q, const Operand& other);
Value quad_mul(const QuadExpr& q, const Operand& other);
Value quad_div(const QuadExpr& q, const Operand& other);

// NlExpr on the left; add and mul serve the reflected forms too.
NlExpr nl_add(const NlExpr& g, const Operand& other);
NlExpr nl_sub(const NlExpr& g, const Operand& other);
NlExpr nl_rsub(const Operand& left, const NlExpr& g);
NlExpr nl_mul(const NlExpr& g, const Operand& other);
NlExpr nl_div(const NlExpr& g, const Operand& other);

Value negate(const Operand& self);
ConstraintRecord compare(const Operand& self, const Operand& rhs, ConstraintSense sense);

// sum(): folds one item into the accumulator.
void sum_fold(Expr& acc, const Operand& item);
// sin/cos/sqrt of any operand.
NlExpr apply_function(NodeKind kind, const Operand& arg);

NlExpr to_nl_expr(const Operand& v);
// The tree of an operand (to_node of its conversion), and the expression holding one tree.
NodeRef node_of(const Operand& v);
NlExpr single_term(NodeRef node);

}  // namespace velmo
