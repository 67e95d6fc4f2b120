// Linear-time sums: shared append-only logs behind Expr and QuadExpr values.
#include "expr/growing_sum.hpp"

#include "expr/algebra.hpp"

namespace velmo {

TermChain TermChain::from_map(const TermMap& m) {
  TermChain c;
  c.log_ = std::make_shared<std::vector<TermOp>>();
  c.log_->reserve(m.size());
  for (const Term& t : m) c.log_->push_back({t.index, 1, t.coef});
  c.len_ = c.log_->size();
  return c;
}

void TermChain::replay(TermMap& out) const {
  if (log_ == nullptr) return;
  const TermOp* ops = log_->data();
  for (size_t k = 0; k < len_; ++k) {
    if (ops[k].set != 0) {
      out.set_term(ops[k].index, ops[k].coef);
    } else {
      out.add_term(ops[k].index, ops[k].coef);
    }
  }
}

std::shared_ptr<std::vector<TermOp>> TermChain::tip_log(size_t extra) const {
  if (log_ != nullptr && log_->size() == len_) return log_;
  auto copy = std::make_shared<std::vector<TermOp>>();
  copy->reserve(len_ + extra);
  if (log_ != nullptr) copy->assign(log_->begin(), log_->begin() + static_cast<std::ptrdiff_t>(len_));
  return copy;
}

TermChain TermChain::extended(std::shared_ptr<std::vector<TermOp>> log) const {
  TermChain c;
  c.len_ = log->size();
  c.log_ = std::move(log);
  return c;
}

TermChain TermChain::plus_term(uint32_t index, double c) const {
  auto log = tip_log(1);
  log->push_back({index, 0, c});
  return extended(std::move(log));
}

TermChain TermChain::plus_map(const TermMap& m, double sign) const {
  auto log = tip_log(m.size());
  // Entries appended past somebody's length are invisible to it, so a failure half-way
  // leaves every existing value as it was. (No exact reserve here: it would defeat the
  // vector's geometric growth and make a chain of small additions quadratic again.)
  for (const Term& t : m) log->push_back({t.index, 0, t.coef * sign});
  return extended(std::move(log));
}

const Expr& GrowingExpr::get() const {
  if (!ready_) {
    TermMap m;
    chain_.replay(m);
    value_.terms = std::move(m);
    ready_ = true;
  }
  return value_;
}

const TermChain& GrowingExpr::chain() const {
  if (chain_.empty()) chain_ = TermChain::from_map(value_.terms);  // empty only when ready_
  return chain_;
}

const QuadExpr& GrowingQuad::get() const {
  if (!ready_) {
    QuadExpr q;
    if (quad_log_ != nullptr) {
      q.quad.assign(quad_log_->begin(), quad_log_->begin() + static_cast<std::ptrdiff_t>(quad_len_));
    }
    chain_.replay(q.linear);
    q.constant = value_.constant;
    value_ = std::move(q);
    ready_ = true;
  }
  return value_;
}

const TermChain& GrowingQuad::chain() const {
  if (chain_.empty()) chain_ = TermChain::from_map(value_.linear);
  return chain_;
}

std::pair<std::shared_ptr<std::vector<QuadTerm>>, size_t> GrowingQuad::quad_plus(
    const std::vector<QuadTerm>* extra) const {
  if (quad_log_ == nullptr) {  // value_.quad is valid here: ready_, or no product terms yet
    quad_log_ = std::make_shared<std::vector<QuadTerm>>(value_.quad);
    quad_len_ = quad_log_->size();
  }
  // Nothing to append: share the vector as it stands, tip or not.
  if (extra == nullptr || extra->empty()) return {quad_log_, quad_len_};
  const size_t more = extra->size();
  std::shared_ptr<std::vector<QuadTerm>> log = quad_log_;
  if (log->size() != quad_len_) {
    log = std::make_shared<std::vector<QuadTerm>>();
    log->reserve(quad_len_ + more);
    log->assign(quad_log_->begin(), quad_log_->begin() + static_cast<std::ptrdiff_t>(quad_len_));
  }
  log->insert(log->end(), extra->begin(), extra->end());
  const size_t len = log->size();
  return {std::move(log), len};
}

bool extends_linear(const Operand& other) noexcept {
  return other.kind == Operand::Var || other.kind == Operand::Linear || other.kind == Operand::Number;
}

bool extends_quad(const Operand& other, double sign) noexcept {
  return extends_linear(other) || (other.kind == Operand::Quad && sign > 0);
}

// The same operations, in the same order, as linear_addsub and quad_add/quad_sub apply to a
// copy of the left operand.
GrowingExpr grow(const GrowingExpr& e, const Operand& other, double sign) {
  switch (other.kind) {
    case Operand::Var: return GrowingExpr(e.chain().plus_term(other.var, sign), e.constant());
    case Operand::Linear:
      return GrowingExpr(e.chain().plus_map(other.expr->terms, sign), e.constant() + sign * other.expr->constant);
    default: break;
  }
  return GrowingExpr(e.chain(), e.constant() + sign * other.number);  // terms shared unchanged
}

GrowingQuad grow(const GrowingQuad& q, const Operand& other, double sign) {
  const double c = q.constant();
  switch (other.kind) {
    case Operand::Var: {
      auto [quad, len] = q.quad_plus(nullptr);
      return GrowingQuad(std::move(quad), len, q.chain().plus_term(other.var, sign), c);
    }
    case Operand::Linear: {
      auto [quad, len] = q.quad_plus(nullptr);
      const double k = other.expr->constant;
      return GrowingQuad(std::move(quad), len, q.chain().plus_map(other.expr->terms, sign), sign > 0 ? c + k : c - k);
    }
    case Operand::Quad: {
      auto [quad, len] = q.quad_plus(&other.quad->quad);
      return GrowingQuad(std::move(quad), len, q.chain().plus_map(other.quad->linear, 1.0), c + other.quad->constant);
    }
    default: break;
  }
  auto [quad, len] = q.quad_plus(nullptr);
  return GrowingQuad(std::move(quad), len, q.chain(), sign > 0 ? c + other.number : c - other.number);
}

}  // namespace velmo
