// Operator rules of Var, Expr, QuadExpr and NlExpr.
#include "expr/algebra.hpp"

#include <algorithm>
#include <utility>

namespace velmo {

const char* error_message(ErrorCode code) noexcept {
  switch (code) {
    case ErrorCode::LinearOperand: return "Unsupported operand type \u2014 use Var, Expr, or numeric";
    case ErrorCode::VarProduct: return "Var can be multiplied by a scalar, Var, or NlExpr";
    case ErrorCode::ExprProduct: return "Expr can be multiplied by a scalar or NlExpr";
    case ErrorCode::LinearRhs: return "RHS must be a number, Var, or Expr";
    case ErrorCode::VarPower: return "Only power of 1 or 2 supported for variables";
    case ErrorCode::DivisionByZero: return "division by zero";
    case ErrorCode::SumItem: return "sum() items must be Var, Expr, or numeric";
    case ErrorCode::QuadOperand: return "Unsupported operand type for QuadExpr";
    case ErrorCode::NonlinearOperand: return "Expected Var, Expr, NlExpr, or numeric for nonlinear operand";
    case ErrorCode::ObjectiveValue: return "Expected Var, Expr, QuadExpr, NlExpr, or numeric value";
    case ErrorCode::SocCone:
      return "add_soc_cone: need at least 2 variables [head, x_1, \u2026]; the cone imposes "
             "head >= ||(x_1,\u2026)||_2.";
    case ErrorCode::PsdCone:
      return "add_psd_cone: entry count must equal d(d+1)/2 for some d>=1 (upper-triangle, "
             "column-major svec of a symmetric matrix).";
  }
  return "internal error";
}

namespace {

// A Var or Expr operand as an Expr (a Var becomes {i: 1.0}).
Expr promote(const Operand& v) {
  if (v.kind == Operand::Var) return Expr::of_var(v.var);
  return *v.expr;
}

void flip(TermMap& m) {
  for (Term& t : m) t.coef = -t.coef;
}
void scale(TermMap& m, double f) {
  for (Term& t : m) t.coef *= f;
}
void scale(QuadExpr& q, double f) {
  for (QuadTerm& t : q.quad) t.coef *= f;
  scale(q.linear, f);
  q.constant *= f;
}
void scale(NlExpr& g, double f) {
  for (NlTerm& t : g.terms) t.coef *= f;
  scale(g.linear, f);
  g.constant *= f;
}
void flip(NlExpr& g) {
  for (NlTerm& t : g.terms) t.coef = -t.coef;
  flip(g.linear);
  g.constant = -g.constant;
}
void flip(QuadExpr& q) {
  for (QuadTerm& t : q.quad) t.coef = -t.coef;
  flip(q.linear);
  q.constant = -q.constant;
}

void add_terms(TermMap& into, const TermMap& from, double sign) {
  for (const Term& t : from) into.add_term(t.index, t.coef * sign);
}

// g + sign * r, both already expressions: r's linear entries merged, constants added, r's
// terms appended after g's.
void merge(NlExpr& g, const NlExpr& r, double sign) {
  add_terms(g.linear, r.linear, sign);
  g.constant += sign == 1.0 ? r.constant : -r.constant;
  g.terms.reserve(g.terms.size() + r.terms.size());
  for (const NlTerm& t : r.terms) g.terms.push_back({sign == 1.0 ? t.coef : -t.coef, t.node});
}

// `room` reserves space for terms the caller appends next, saving a reallocation.
NlExpr quad_to_nl(const QuadExpr& q, size_t room = 0) {
  NlExpr g;
  g.linear = q.linear;
  g.constant = q.constant;
  g.terms.reserve(q.quad.size() + room);
  for (const QuadTerm& t : q.quad) {
    g.terms.push_back({t.coef, NodeRef::binary(NodeKind::Mul, NodeRef::var(t.i), NodeRef::var(t.j))});
  }
  return g;
}

NlExpr nl_difference(NlExpr left, const Operand& right) {
  if (right.kind == Operand::Nl) {
    merge(left, *right.nl, -1.0);
  } else {
    merge(left, to_nl_expr(right), -1.0);
  }
  return left;
}

NonlinearConstraint nl_constraint(NlExpr d, ConstraintSense sense) {
  NonlinearConstraint c;
  c.rhs = -d.constant;
  d.constant = 0.0;
  c.expr = std::move(d);
  c.sense = sense;
  return c;
}

}  // namespace

// As to_node(to_nl_expr(v)) without the intermediate copies.
NodeRef node_of(const Operand& v) {
  switch (v.kind) {
    case Operand::Var: return NodeRef::var(v.var);
    case Operand::Nl: return to_node(*v.nl);
    default: return to_node(to_nl_expr(v));
  }
}

NlExpr single_term(NodeRef node) {
  NlExpr g;
  g.terms.push_back({1.0, std::move(node)});
  return g;
}

NlExpr to_nl_expr(const Operand& v) {
  NlExpr g;
  switch (v.kind) {
    case Operand::Nl: return *v.nl;
    case Operand::Var: g.linear.set_term(v.var, 1.0); return g;
    case Operand::Linear:
      g.linear = v.expr->terms;
      g.constant = v.expr->constant;
      return g;
    case Operand::Quad: return quad_to_nl(*v.quad);
    case Operand::Number: g.constant = v.number; return g;
    case Operand::Other: break;
  }
  fail(ErrorCode::NonlinearOperand);
}

Value linear_addsub(const Operand& self, const Operand& other, double sign) {
  switch (other.kind) {
    case Operand::Quad: {
      QuadExpr q = *other.quad;
      if (sign < 0) flip(q);
      // A Var counts as the Expr {i: 1} with constant 0, so the constant sum turns a
      // negative-zero constant of -q into +0 just as it does for an Expr.
      if (self.kind == Operand::Var) {
        q.linear.add_term(self.var, 1.0);
        q.constant += 0.0;
      } else {
        add_terms(q.linear, self.expr->terms, 1.0);
        q.constant += self.expr->constant;
      }
      return q;
    }
    case Operand::Nl: {
      NlExpr g = to_nl_expr(self);
      merge(g, *other.nl, sign);
      return g;
    }
    case Operand::Var: {
      Expr e = promote(self);
      e.terms.add_term(other.var, sign);
      return e;
    }
    case Operand::Linear: {
      Expr e = promote(self);
      add_terms(e.terms, other.expr->terms, sign);
      e.constant += sign * other.expr->constant;
      return e;
    }
    case Operand::Number: {
      Expr e = promote(self);
      e.constant += sign * other.number;
      return e;
    }
    case Operand::Other: break;
  }
  fail(ErrorCode::LinearOperand);
}

Expr linear_raddsub(const Operand& left, const Operand& self, double sign) {
  if (left.kind != Operand::Number) fail(ErrorCode::LinearOperand);
  Expr e;
  if (sign > 0) {
    e = promote(self);
  } else {
    e = std::get<Expr>(negate(self));  // -x keeps constant +0; -e flips it
  }
  e.constant += left.number;
  return e;
}

Value linear_mul(const Operand& self, const Operand& other) {
  const bool is_var = self.kind == Operand::Var;
  if (other.kind == Operand::Number) {
    if (is_var) {
      Expr e;
      e.terms.set_term(self.var, other.number);
      return e;
    }
    Expr e = *self.expr;
    scale(e.terms, other.number);
    e.constant *= other.number;
    return e;
  }
  if (is_var && other.kind == Operand::Var) {
    QuadExpr q;
    q.quad.push_back({std::min(self.var, other.var), std::max(self.var, other.var), 1.0});
    return q;
  }
  if (other.kind == Operand::Nl) {
    return single_term(NodeRef::binary(NodeKind::Mul, node_of(self), to_node(*other.nl)));
  }
  fail(is_var ? ErrorCode::VarProduct : ErrorCode::ExprProduct);
}

Value linear_div(const Operand& self, const Operand& other) {
  if (other.kind == Operand::Number) {
    if (other.number == 0) fail(ErrorCode::DivisionByZero);
    const double f = 1.0 / other.number;
    Expr e;
    if (self.kind == Operand::Var) {
      e.terms.set_term(self.var, f);
    } else {
      e = *self.expr;
      scale(e.terms, f);
      e.constant *= f;
    }
    return e;
  }
  if (other.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::binary(NodeKind::Div, node_of(self), node_of(other)));
}

NlExpr reflected_div(const Operand& left, const Operand& self) {
  if (left.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::binary(NodeKind::Div, node_of(left), node_of(self)));
}

QuadExpr var_power(uint32_t index, int32_t exponent) {
  QuadExpr q;
  if (exponent == 1) {
    q.linear.set_term(index, 1.0);
  } else if (exponent == 2) {
    q.quad.push_back({index, index, 1.0});
  } else {
    fail(ErrorCode::VarPower);
  }
  return q;
}

Value quad_add(const QuadExpr& q, const Operand& other) {
  switch (other.kind) {
    case Operand::Nl: {
      NlExpr g = quad_to_nl(q, other.nl->terms.size());
      merge(g, *other.nl, 1.0);
      return g;
    }
    case Operand::Var: {
      QuadExpr r = q;
      r.linear.add_term(other.var, 1.0);
      return r;
    }
    case Operand::Linear: {
      QuadExpr r = q;
      add_terms(r.linear, other.expr->terms, 1.0);
      r.constant += other.expr->constant;
      return r;
    }
    case Operand::Quad: {
      QuadExpr r = q;
      add_terms(r.linear, other.quad->linear, 1.0);
      r.constant += other.quad->constant;
      r.quad.insert(r.quad.end(), other.quad->quad.begin(), other.quad->quad.end());
      return r;
    }
    case Operand::Number: {
      QuadExpr r = q;
      r.constant += other.number;
      return r;
    }
    case Operand::Other: break;
  }
  fail(ErrorCode::QuadOperand);
}

Value quad_sub(const QuadExpr& q, const Operand& other) {
  switch (other.kind) {
    case Operand::Nl: return nl_difference(quad_to_nl(q), other);
    case Operand::Var: {
      QuadExpr r = q;
      r.linear.add_term(other.var, -1.0);
      return r;
    }
    case Operand::Linear: {
      QuadExpr r = q;
      add_terms(r.linear, other.expr->terms, -1.0);
      r.constant -= other.expr->constant;
      return r;
    }
    case Operand::Number: {
      QuadExpr r = q;
      r.constant -= other.number;
      return r;
    }
    default: break;
  }
  fail(ErrorCode::QuadOperand);
}

Value quad_mul(const QuadExpr& q, const Operand& other) {
  if (other.kind == Operand::Number) {
    QuadExpr r = q;
    scale(r, other.number);
    return r;
  }
  if (other.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::binary(NodeKind::Mul, to_node(quad_to_nl(q)), node_of(other)));
}

Value quad_div(const QuadExpr& q, const Operand& other) {
  if (other.kind == Operand::Number) {
    if (other.number == 0) fail(ErrorCode::DivisionByZero);
    QuadExpr r = q;
    scale(r, 1.0 / other.number);
    return r;
  }
  if (other.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::binary(NodeKind::Div, to_node(quad_to_nl(q)), node_of(other)));
}

NlExpr nl_add(const NlExpr& g, const Operand& other) {
  NlExpr r = g;
  if (other.kind == Operand::Nl) {
    merge(r, *other.nl, 1.0);
  } else {
    merge(r, to_nl_expr(other), 1.0);
  }
  return r;
}

NlExpr nl_sub(const NlExpr& g, const Operand& other) { return nl_difference(g, other); }

NlExpr nl_rsub(const Operand& left, const NlExpr& g) {
  NlExpr r = to_nl_expr(left);
  merge(r, g, -1.0);
  return r;
}

NlExpr nl_mul(const NlExpr& g, const Operand& other) {
  if (other.kind == Operand::Number) {
    NlExpr r = g;
    scale(r, other.number);
    return r;
  }
  if (other.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::binary(NodeKind::Mul, to_node(g), node_of(other)));
}

NlExpr nl_div(const NlExpr& g, const Operand& other) {
  if (other.kind == Operand::Number) {
    if (other.number == 0) fail(ErrorCode::DivisionByZero);
    NlExpr r = g;
    scale(r, 1.0 / other.number);
    return r;
  }
  if (other.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::binary(NodeKind::Div, to_node(g), node_of(other)));
}

Value negate(const Operand& self) {
  switch (self.kind) {
    case Operand::Var: {
      Expr e;
      e.terms.set_term(self.var, -1.0);
      return e;
    }
    case Operand::Linear: {
      Expr e = *self.expr;
      flip(e.terms);
      e.constant = -e.constant;
      return e;
    }
    case Operand::Quad: {
      QuadExpr q = *self.quad;
      flip(q);
      return q;
    }
    case Operand::Nl: {
      NlExpr g = *self.nl;
      flip(g);
      return g;
    }
    default: break;
  }
  fail(ErrorCode::LinearOperand);  // not reachable: only the classes call it on themselves
}

ConstraintRecord compare(const Operand& self, const Operand& rhs, ConstraintSense sense) {
  if (self.kind == Operand::Var || self.kind == Operand::Linear) {
    if (rhs.kind == Operand::Nl) return nl_constraint(nl_difference(to_nl_expr(self), rhs), sense);
    LinearRow row;
    row.sense = sense;
    const double c_left = self.kind == Operand::Var ? 0.0 : self.expr->constant;
    if (self.kind == Operand::Var) {
      row.expr.terms.set_term(self.var, 1.0);
    } else {
      row.expr.terms = self.expr->terms;
    }
    switch (rhs.kind) {
      case Operand::Number: row.rhs = rhs.number - c_left; break;
      case Operand::Var:
        row.expr.terms.add_term(rhs.var, -1.0);
        row.rhs = -c_left;
        break;
      case Operand::Linear:
        add_terms(row.expr.terms, rhs.expr->terms, -1.0);
        row.rhs = -(c_left - rhs.expr->constant);
        break;
      default: fail(ErrorCode::LinearRhs);
    }
    return row;
  }
  if (self.kind == Operand::Quad) {
    const QuadExpr& q = *self.quad;
    if (q.quad.empty() && rhs.kind == Operand::Number) {
      LinearRow row;
      row.expr.terms = q.linear;
      row.rhs = rhs.number - q.constant;
      row.sense = sense;
      return row;
    }
    if (rhs.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
    return nl_constraint(nl_difference(quad_to_nl(q), rhs), sense);
  }
  if (rhs.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return nl_constraint(nl_difference(*self.nl, rhs), sense);
}

void sum_fold(Expr& acc, const Operand& item) {
  switch (item.kind) {
    case Operand::Var: acc.terms.add_term(item.var, 1.0); return;
    case Operand::Linear:
      add_terms(acc.terms, item.expr->terms, 1.0);
      acc.constant += item.expr->constant;
      return;
    case Operand::Number: acc.constant += item.number; return;
    default: fail(ErrorCode::SumItem);
  }
}

NlExpr apply_function(NodeKind kind, const Operand& arg) {
  if (arg.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  return single_term(NodeRef::unary(kind, node_of(arg)));
}

}  // namespace velmo
