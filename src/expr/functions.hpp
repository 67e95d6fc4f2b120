// The velmo package's expression functions beyond the operator algebra: one-operand functions,
// powers with a numeric exponent, products of any two operands and sums of any mix, free of
// Python. The operators keep their own rules; these build what the operators refuse.
#pragma once

#include "expr/algebra.hpp"

#include <cstdint>
#include <span>

namespace velmo {

// A Var, Expr, or a QuadExpr/NlExpr without product or nonlinear terms (numbers are not).
bool is_linear(const Operand& v) noexcept;

// exponent 1: the base as an expression; 2 with a linear base: the expanded QuadExpr;
// anything else the single term Pow(base, Const(p)). Non-finite exponents are refused.
Value power(const Operand& base, double exponent);
// A number scales the other operand in its own type; two linear operands give the expanded
// QuadExpr; anything else the single term Mul(a, b).
Value product(const Operand& a, const Operand& b);

// Folds operands, each with a weight, into the narrowest type that holds their sum: an Expr,
// a QuadExpr when some product term remains, an NlExpr when some nonlinear term does.
// Terms keep the order of the items; linear entries merge with add_term.
class SumBuilder {
 public:
  // Returns false (nothing added) for an operand of kind Other.
  bool add(const Operand& item, double weight = 1.0);
  Value finish() &&;

 private:
  void to_nonlinear();

  TermMap linear_;
  double constant_ = 0.0;
  std::vector<QuadTerm> quad_;
  std::vector<NlTerm> terms_;
  bool nonlinear_ = false;  // quad_ already moved into terms_
};

// x'Qx for variables `vars` and a dense row-major n x n matrix: one term per non-zero pair
// (Q_ij + Q_ji for i < j, Q_ii on the diagonal), in row order.
QuadExpr quad_form_dense(std::span<const uint32_t> vars, std::span<const double> q);
// The same from coordinate entries (row, col, value), one term per non-zero entry.
QuadExpr quad_form_entries(std::span<const uint32_t> vars, std::span<const int64_t> rows,
                           std::span<const int64_t> cols, std::span<const double> values);

}  // namespace velmo
