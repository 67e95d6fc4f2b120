// Column-compressed matrices assembled from (row, column, value) entries, for the adapters
// that hand a package a matrix of their own making.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velmo {

struct Entry {
  uint32_t row;
  uint32_t col;
  double value;
};

struct Csc {
  std::vector<int32_t> start;  // cols + 1
  std::vector<int32_t> index;  // rows ascending within each column
  std::vector<double> value;
};

// Sorts the entries by column, then by row, keeping the given order among equal positions
// (no entries are merged). Throws InvalidInput when the matrix has more entries or rows than
// 32-bit indices reach.
Csc csc_from_entries(const std::vector<Entry>& entries, size_t rows, size_t cols);

// The transpose of a compressed matrix whose inner indices run below `inner`, in one counting
// pass: column-wise in, row-wise out (so an upper triangle stored by columns comes out as the
// lower triangle by columns), each outer slice in ascending order.
Csc transposed(std::span<const int32_t> start, std::span<const int32_t> index, std::span<const double> value,
               size_t inner);

}  // namespace velmo
