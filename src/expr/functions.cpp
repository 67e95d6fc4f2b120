// Powers, products, weighted sums and quadratic forms of the velmo package's functions.
#include "expr/functions.hpp"

#include <cmath>
#include <utility>

namespace velmo {

namespace {

// The linear part and constant of a linear operand.
const TermMap& linear_terms(const Operand& v, TermMap& scratch) {
  switch (v.kind) {
    case Operand::Var: scratch.set_term(v.var, 1.0); return scratch;
    case Operand::Linear: return v.expr->terms;
    case Operand::Quad: return v.quad->linear;
    default: return v.nl->linear;
  }
}
double linear_constant(const Operand& v) noexcept {
  switch (v.kind) {
    case Operand::Linear: return v.expr->constant;
    case Operand::Quad: return v.quad->constant;
    case Operand::Nl: return v.nl->constant;
    default: return 0.0;
  }
}

// (La + ca)(Lb + cb) expanded. A square writes each unordered pair once.
QuadExpr expand(const Operand& a, const Operand& b, bool same) {
  TermMap sa, sb;
  const TermMap& la = linear_terms(a, sa);
  const TermMap& lb = same ? la : linear_terms(b, sb);
  const double ca = linear_constant(a);
  const double cb = same ? ca : linear_constant(b);
  QuadExpr q;
  if (same) {
    const Term* t = la.begin();
    const size_t n = la.size();
    q.quad.reserve(n * (n + 1) / 2);
    for (size_t i = 0; i < n; ++i) {
      q.quad.push_back({t[i].index, t[i].index, t[i].coef * t[i].coef});
      for (size_t j = i + 1; j < n; ++j) {
        q.quad.push_back({std::min(t[i].index, t[j].index), std::max(t[i].index, t[j].index),
                          2.0 * t[i].coef * t[j].coef});
      }
    }
  } else {
    q.quad.reserve(la.size() * lb.size());
    for (const Term& s : la) {
      for (const Term& t : lb) q.quad.push_back({std::min(s.index, t.index), std::max(s.index, t.index), s.coef * t.coef});
    }
  }
  if (cb != 0) {
    for (const Term& s : la) q.linear.add_term(s.index, s.coef * cb);
  }
  if (ca != 0) {
    for (const Term& t : lb) q.linear.add_term(t.index, t.coef * ca);
  }
  q.constant = ca * cb;
  return q;
}

Value as_value(const Operand& v) {
  switch (v.kind) {
    case Operand::Var: return Expr::of_var(v.var);
    case Operand::Linear: return *v.expr;
    case Operand::Quad: return *v.quad;
    case Operand::Nl: return *v.nl;
    case Operand::Number: {
      Expr e;
      e.constant = v.number;
      return e;
    }
    case Operand::Other: break;
  }
  fail(ErrorCode::NonlinearOperand);
}

}  // namespace

bool is_linear(const Operand& v) noexcept {
  switch (v.kind) {
    case Operand::Var:
    case Operand::Linear: return true;
    case Operand::Quad: return v.quad->quad.empty();
    case Operand::Nl: return v.nl->terms.empty();
    default: return false;
  }
}

Value power(const Operand& base, double exponent) {
  if (base.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  if (!std::isfinite(exponent)) throw InvalidInput{"power(): the exponent must be a finite number"};
  if (exponent == 1.0) return as_value(base);
  if (exponent == 2.0 && is_linear(base)) return expand(base, base, true);
  return single_term(NodeRef::binary(NodeKind::Pow, node_of(base), NodeRef::constant(exponent)));
}

Value product(const Operand& a, const Operand& b) {
  if (a.kind == Operand::Other || b.kind == Operand::Other) fail(ErrorCode::NonlinearOperand);
  if (a.kind == Operand::Number && b.kind == Operand::Number) {
    Expr e;
    e.constant = a.number * b.number;
    return e;
  }
  if (a.kind == Operand::Number || b.kind == Operand::Number) {
    const Operand& self = a.kind == Operand::Number ? b : a;
    const Operand& t = a.kind == Operand::Number ? a : b;
    switch (self.kind) {
      case Operand::Var:
      case Operand::Linear: return linear_mul(self, t);
      case Operand::Quad: return quad_mul(*self.quad, t);
      default: return nl_mul(*self.nl, t);
    }
  }
  if (is_linear(a) && is_linear(b)) return expand(a, b, false);
  return single_term(NodeRef::binary(NodeKind::Mul, node_of(a), node_of(b)));
}

bool SumBuilder::add(const Operand& item, double w) {
  switch (item.kind) {
    case Operand::Var: linear_.add_term(item.var, w); return true;
    case Operand::Number: constant_ += w * item.number; return true;
    case Operand::Linear:
      for (const Term& t : item.expr->terms) linear_.add_term(t.index, w * t.coef);
      constant_ += w * item.expr->constant;
      return true;
    case Operand::Quad: {
      const QuadExpr& q = *item.quad;
      for (const Term& t : q.linear) linear_.add_term(t.index, w * t.coef);
      constant_ += w * q.constant;
      if (nonlinear_) {
        for (const QuadTerm& t : q.quad) {
          terms_.push_back({w * t.coef, NodeRef::binary(NodeKind::Mul, NodeRef::var(t.i), NodeRef::var(t.j))});
        }
      } else {
        for (const QuadTerm& t : q.quad) quad_.push_back({t.i, t.j, w * t.coef});
      }
      return true;
    }
    case Operand::Nl: {
      const NlExpr& g = *item.nl;
      for (const Term& t : g.linear) linear_.add_term(t.index, w * t.coef);
      constant_ += w * g.constant;
      if (!g.terms.empty()) {
        to_nonlinear();
        for (const NlTerm& t : g.terms) terms_.push_back({w * t.coef, t.node});
      }
      return true;
    }
    case Operand::Other: break;
  }
  return false;
}

void SumBuilder::to_nonlinear() {
  if (nonlinear_) return;
  nonlinear_ = true;
  terms_.reserve(quad_.size());
  for (const QuadTerm& t : quad_) {
    terms_.push_back({t.coef, NodeRef::binary(NodeKind::Mul, NodeRef::var(t.i), NodeRef::var(t.j))});
  }
  quad_.clear();
  quad_.shrink_to_fit();
}

Value SumBuilder::finish() && {
  if (nonlinear_) {
    NlExpr g;
    g.terms = std::move(terms_);
    g.linear = std::move(linear_);
    g.constant = constant_;
    return g;
  }
  if (!quad_.empty()) {
    QuadExpr q;
    q.quad = std::move(quad_);
    q.linear = std::move(linear_);
    q.constant = constant_;
    return q;
  }
  Expr e;
  e.terms = std::move(linear_);
  e.constant = constant_;
  return e;
}

QuadExpr quad_form_dense(std::span<const uint32_t> vars, std::span<const double> q) {
  const size_t n = vars.size();
  QuadExpr r;
  for (size_t i = 0; i < n; ++i) {
    const double* row = q.data() + i * n;
    if (row[i] != 0) r.quad.push_back({vars[i], vars[i], row[i]});
    for (size_t j = i + 1; j < n; ++j) {
      const double c = row[j] + q[j * n + i];
      if (c != 0) r.quad.push_back({std::min(vars[i], vars[j]), std::max(vars[i], vars[j]), c});
    }
  }
  return r;
}

QuadExpr quad_form_entries(std::span<const uint32_t> vars, std::span<const int64_t> rows,
                           std::span<const int64_t> cols, std::span<const double> values) {
  QuadExpr r;
  r.quad.reserve(values.size());
  for (size_t k = 0; k < values.size(); ++k) {
    if (values[k] == 0) continue;
    const uint32_t a = vars[static_cast<size_t>(rows[k])];
    const uint32_t b = vars[static_cast<size_t>(cols[k])];
    r.quad.push_back({std::min(a, b), std::max(a, b), values[k]});
  }
  return r;
}

}  // namespace velmo
