// The problem forms the Clarabel, SLSQP and Ipopt adapters build from a compiled model.
#pragma once

#include "modelling/model_data.hpp"
#include "solve/model.hpp"
#include "solve/sparse.hpp"

#include <cstdint>
#include <vector>

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

// A lower estimate of the bytes Clarabel needs for the model's PSD cones: each cone of side d
// makes a dense block of t x t in its linear system (t = d(d+1)/2), stored and factorised.
// Clarabel asks for that memory without checking and aborts the process when it is refused.
double clarabel_psd_bytes(const CompiledModel& c) noexcept;

// SciPy reads its iteration cap as a C int, so a larger one would mean no iterations at all.
constexpr int64_t kMaxSlsqpIterations = 2147483647;

// The cap a time limit stands for: 100 iterations a second, truncated, within 0..2^31-1
// (NaN gives 0).
int64_t slsqp_iteration_cap(double time_limit) noexcept;

// A time limit that is NaN or negative leaves no time at all: every solver then stops at
// once, as SLSQP's iteration cap of 0 does.
inline double usable_time_limit(double seconds) noexcept { return seconds >= 0 ? seconds : 0.0; }

// The full symmetric matrix of the compiled (upper-triangle) Hessian, so that ½xᵀPx is the
// model's quadratic part with every cross term whole.
Csc symmetric_hessian(const Hessian& h, size_t n);

// Throws InvalidInput when the nonlinear objective or a nonlinear constraint refers to a
// variable index at or beyond `num_cols` (an expression built on another model).
void check_nonlinear_indices(const ModelData& m, size_t num_cols);

}  // namespace velmo
