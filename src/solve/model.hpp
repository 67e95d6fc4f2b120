// The compiled matrix form of a model (minimisation, column-wise sparse) and its clean-up
// steps: scale cleanup and redundant-row elimination.
#pragma once

#include "modelling/model_data.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace velmo {

struct Hessian {
  std::vector<int32_t> q_start;  // n + 1
  std::vector<int32_t> q_index;  // row of each entry; row <= column (upper triangle)
  std::vector<double> q_value;
};

struct CompiledModel {
  std::vector<int32_t> a_start;  // n + 1
  std::vector<int32_t> a_index;
  std::vector<double> a_value;
  std::vector<double> col_lower;
  std::vector<double> col_upper;
  std::vector<double> col_cost;
  std::vector<double> row_lower;
  std::vector<double> row_upper;
  // The stored constraint each row comes from; rows follow the constraints until redundant
  // rows are eliminated.
  std::vector<uint32_t> row_origin;
  std::vector<int32_t> integrality;
  std::vector<std::vector<uint32_t>> soc_cones;
  std::vector<std::vector<uint32_t>> psd_cones;
  std::optional<Hessian> hessian;
  size_t num_cols = 0;
  size_t num_rows = 0;
  double obj_offset = 0.0;
  bool maximize = false;

  bool has_integer_column() const noexcept;
};

// Builds the compiled form. Throws InvalidInput when a constraint or the objective refers to
// a variable index the model does not have (an expression built on another model).
CompiledModel compile_model(const ModelData& m);

// Replaces nonzero finite bounds of magnitude below 1e-9 by +0.0.
void scale_cleanup(CompiledModel& c) noexcept;

// Removes the rows that the column bounds alone prove can never be violated; returns how many
// went. With `verbose`, reports the count on the process's standard error stream.
size_t eliminate_redundant_rows(CompiledModel& c, bool verbose);

// Whether the form holds a number no solver can take: NaN in a bound, cost, coefficient or
// Hessian entry, or a bound that leaves nothing (a lower bound of +inf, an upper one of -inf),
// on a column or a row. Solvers differ on such models (some drop the bound and answer
// "optimal"), so every solve refuses them alike.
bool has_unusable_numbers(const CompiledModel& c) noexcept;

// The same model as a copy with every column continuous (the LP relaxation).
CompiledModel relaxation_of(const CompiledModel& c);

}  // namespace velmo
