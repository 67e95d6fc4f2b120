// Two stable counting sorts (by row, then by column) put the entries in column order.
#include "solve/sparse.hpp"

#include "expr/errors.hpp"

#include <limits>
#include <string>

namespace velmo {

Csc csc_from_entries(const std::vector<Entry>& entries, size_t rows, size_t cols) {
  constexpr size_t kMax = static_cast<size_t>(std::numeric_limits<int32_t>::max());
  if (entries.size() > kMax || rows > kMax) {
    throw InvalidInput{"the solver's constraint matrix would have more than 2147483647 rows or entries"};
  }
  std::vector<size_t> row_start(rows + 1, 0);
  for (const Entry& e : entries) ++row_start[e.row + 1];
  for (size_t i = 0; i < rows; ++i) row_start[i + 1] += row_start[i];
  std::vector<size_t> by_row(entries.size());
  for (size_t k = 0; k < entries.size(); ++k) by_row[row_start[entries[k].row]++] = k;

  Csc out;
  out.start.assign(cols + 1, 0);
  for (const Entry& e : entries) ++out.start[e.col + 1];
  for (size_t j = 0; j < cols; ++j) out.start[j + 1] += out.start[j];
  std::vector<int32_t> cursor(out.start.begin(), out.start.end() - 1);
  out.index.resize(entries.size());
  out.value.resize(entries.size());
  for (size_t k : by_row) {
    const Entry& e = entries[k];
    const auto at = static_cast<size_t>(cursor[e.col]++);
    out.index[at] = static_cast<int32_t>(e.row);
    out.value[at] = e.value;
  }
  return out;
}

Csc transposed(std::span<const int32_t> start, std::span<const int32_t> index, std::span<const double> value,
               size_t inner) {
  const size_t outer = start.size() - 1;
  Csc t;
  t.start.assign(inner + 1, 0);
  for (int32_t i : index) ++t.start[static_cast<size_t>(i) + 1];
  for (size_t i = 0; i < inner; ++i) t.start[i + 1] += t.start[i];
  t.index.resize(index.size());
  t.value.resize(value.size());
  std::vector<int32_t> cursor(t.start.begin(), t.start.end() - 1);
  for (size_t j = 0; j < outer; ++j) {
    for (int32_t k = start[j]; k < start[j + 1]; ++k) {
      const auto at = static_cast<size_t>(cursor[static_cast<size_t>(index[static_cast<size_t>(k)])]++);
      t.index[at] = static_cast<int32_t>(j);
      t.value[at] = value[static_cast<size_t>(k)];
    }
  }
  return t;
}

}  // namespace velmo
