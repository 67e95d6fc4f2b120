// Quadratic expressions: product terms beside a linear part.
#pragma once

#include "expr/linear.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velmo {

// One product coef * x_i * x_j; the layer always stores i <= j.
struct QuadTerm {
  uint32_t i;
  uint32_t j;
  double coef;
};

// Product terms are kept in creation order and never merged: x*y + x*y holds two terms.
struct QuadExpr {
  std::vector<QuadTerm> quad;
  TermMap linear;
  double constant = 0.0;
};

std::string quad_text(const QuadExpr& q);

}  // namespace velmo
