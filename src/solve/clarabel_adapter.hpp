// The Clarabel adapter: the compiled model as min ½xᵀPx + qᵀx s.t. Ax + s = b, s in a product
// of cones (equalities, then one-sided rows and variable bounds, then the model's own cones).
#pragma once

#include "solve/model.hpp"
#include "solve/records.hpp"
#include "solve/sparse.hpp"

#include <string_view>

namespace velmo {

// Clarabel's (A, b) with the sizes of its cone blocks, in block order.
struct ConicForm {
  Csc a;
  std::vector<double> b;
  size_t rows = 0;
  size_t zero_rows = 0;
  size_t nonnegative_rows = 0;
  std::vector<size_t> psd_sides;  // d for each PSD cone
};

ConicForm conic_form(const CompiledModel& c);

BackendOutcome solve_clarabel(const CompiledModel& c, const SolveOptions& options);
SolveStatus map_clarabel_status(std::string_view status) noexcept;

}  // namespace velmo
