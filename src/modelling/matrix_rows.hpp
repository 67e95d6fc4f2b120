// Linear constraints from a matrix: one stored row per matrix row, built straight from the
// arrays (no expression object per entry).
#pragma once

#include "modelling/model_data.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmo {

// Compressed sparse rows as the caller's arrays hold them; `start` has rows + 1 entries.
struct CsrView {
  size_t rows = 0;
  size_t cols = 0;
  std::span<const int64_t> start;
  std::span<const int64_t> index;
  std::span<const double> value;
};

// The rows of a dense row-major array, zeros left out.
struct CsrMatrix {
  std::vector<int64_t> start;
  std::vector<int64_t> index;
  std::vector<double> value;
};
CsrMatrix dense_to_csr(size_t rows, size_t cols, std::span<const double> values);

// One LinearRow per matrix row: sum_k A[i, k] * x(vars[k]) <sense_i> rhs_i, the terms folded
// with add_term in column order (a variable listed twice gets the sum of its columns), zero
// entries left out. `senses` and `rhs` hold one entry for all rows or one per row; `names`
// is empty or one per row. Throws InvalidInput for inconsistent arrays and for NaN or
// infinite coefficients and NaN right-hand sides, before building anything.
std::vector<LinearRow> matrix_rows(const CsrView& a, std::span<const uint32_t> vars,
                                   std::span<const ConstraintSense> senses, std::span<const double> rhs,
                                   std::vector<std::string> names);

// The one check that the variables of a matrix belong to this model: each was created by
// the model whose serial is `own` (`origins[k]` is the serial variable k carries) and its
// index is below the model's variable count. Throws InvalidInput naming the first that does
// not.
void check_matrix_variables(const ModelData& m, ModelSerial own, std::span<const uint32_t> vars,
                            std::span<const ModelSerial> origins);

// Appends the rows and returns the position of the first.
size_t append_rows(ModelData& m, std::vector<LinearRow>&& rows);

}  // namespace velmo
