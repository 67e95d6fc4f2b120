// Linear-time sums: expressions whose terms sit in an append-only log shared with the
// expression they were built from.
#pragma once

#include "expr/linear.hpp"
#include "expr/quadratic.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmo {

// Why: `e = e + t`, `e += t`, builtin `sum` and NumPy reductions over object arrays all
// build a chain of values in which each step copies its left operand, so a sum of n terms
// costs O(n^2). Values must stay immutable, and the interpreter gives no reliable way to
// know whether anybody else holds the left operand (reference counts differ between
// `e + t`, `e += t` and versions of CPython), so nothing may be reused in place.
//
// Mechanism: the linear part of such a value is the first `len` operations of a log of
// `add_term`/`set_term` calls. The log is shared and only ever appended to. A value whose
// `len` equals the log's size is its tip: adding to it appends the new operations to the
// shared log and gives the result a longer `len`, while the operand keeps its own `len` and
// so still sees exactly its old prefix. Adding to a value that is not the tip (somebody
// already extended the log past it) copies its prefix into a fresh log first, which is what
// every addition cost before. The term map itself is rebuilt by replaying the prefix the
// first time it is read, then cached; replaying the same calls in the same order gives the
// same map, iteration order included, as applying them one copy at a time.
struct TermOp {
  uint32_t index;
  uint32_t set;  // 1: set_term, 0: add_term
  double coef;
};

// A prefix of a shared operation log.
class TermChain {
 public:
  bool empty() const noexcept { return log_ == nullptr; }
  // The chain that rebuilds `m` (one set_term per entry, in map order).
  static TermChain from_map(const TermMap& m);
  // Replays the chain into an empty map.
  void replay(TermMap& out) const;
  // This chain followed by add_term(index, c).
  TermChain plus_term(uint32_t index, double c) const;
  // This chain followed by add_term(k, c_k * sign) for each entry of `m` in map order.
  TermChain plus_map(const TermMap& m, double sign) const;

 private:
  // A log that holds this chain's operations and ends with them: the shared log when this
  // chain is its tip, a fresh copy of the prefix otherwise.
  std::shared_ptr<std::vector<TermOp>> tip_log(size_t extra) const;
  TermChain extended(std::shared_ptr<std::vector<TermOp>> log) const;

  std::shared_ptr<std::vector<TermOp>> log_;
  size_t len_ = 0;
};

// The payload of a Python Expr. `value_` always holds the constant; its terms are valid once
// `ready_` (replayed from the chain on first read).
class GrowingExpr {
 public:
  explicit GrowingExpr(Expr e) : value_(std::move(e)) {}
  GrowingExpr(TermChain t, double c) : ready_(false), chain_(std::move(t)) { value_.constant = c; }

  const Expr& get() const;
  const TermChain& chain() const;
  double constant() const noexcept { return value_.constant; }

 private:
  mutable Expr value_;
  mutable bool ready_ = true;
  mutable TermChain chain_;
};

// The payload of a Python QuadExpr: the product terms kept the same way (a shared vector and
// a length, appended to only at its tip), the linear chain and the constant.
class GrowingQuad {
 public:
  explicit GrowingQuad(QuadExpr q) : value_(std::move(q)) {}
  GrowingQuad(std::shared_ptr<std::vector<QuadTerm>> quad, size_t len, TermChain linear, double c)
      : ready_(false), quad_log_(std::move(quad)), quad_len_(len), chain_(std::move(linear)) {
    value_.constant = c;
  }

  const QuadExpr& get() const;
  const TermChain& chain() const;
  double constant() const noexcept { return value_.constant; }
  // The product terms followed by `extra` (nullptr: none) as a (log, length) pair; shares
  // this value's vector when it is the tip.
  std::pair<std::shared_ptr<std::vector<QuadTerm>>, size_t> quad_plus(const std::vector<QuadTerm>* extra) const;

 private:
  mutable QuadExpr value_;
  mutable bool ready_ = true;
  mutable std::shared_ptr<std::vector<QuadTerm>> quad_log_;
  mutable size_t quad_len_ = 0;
  mutable TermChain chain_;
};

struct Operand;
// e + sign * other and q + sign * other for the operands that extend a chain (Var, Expr,
// number; for a QuadExpr also a QuadExpr when sign is +1). `other` is read before anything
// is appended, so e + e works.
bool extends_linear(const Operand& other) noexcept;
bool extends_quad(const Operand& other, double sign) noexcept;
GrowingExpr grow(const GrowingExpr& e, const Operand& other, double sign);
GrowingQuad grow(const GrowingQuad& q, const Operand& other, double sign);

}  // namespace velmo
