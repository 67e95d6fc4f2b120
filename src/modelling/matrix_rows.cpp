// Linear constraints from a matrix.
#include "modelling/matrix_rows.hpp"

#include <cmath>

namespace velmo {

namespace {
[[noreturn]] void invalid(std::string message) { throw InvalidInput{"add_matrix(): " + std::move(message)}; }
}  // namespace

CsrMatrix dense_to_csr(size_t rows, size_t cols, std::span<const double> values) {
  CsrMatrix out;
  out.start.reserve(rows + 1);
  out.start.push_back(0);
  for (size_t i = 0; i < rows; ++i) {
    const double* row = values.data() + i * cols;
    for (size_t k = 0; k < cols; ++k) {
      if (row[k] != 0.0) {  // NaN compares unequal too, so the check below sees it
        out.index.push_back(static_cast<int64_t>(k));
        out.value.push_back(row[k]);
      }
    }
    out.start.push_back(static_cast<int64_t>(out.index.size()));
  }
  return out;
}

std::vector<LinearRow> matrix_rows(const CsrView& a, std::span<const uint32_t> vars,
                                   std::span<const ConstraintSense> senses, std::span<const double> rhs,
                                   std::vector<std::string> names) {
  const size_t m = a.rows;
  if (vars.size() != a.cols) {
    invalid("A has " + std::to_string(a.cols) + " columns but " + std::to_string(vars.size()) +
            " variables were given");
  }
  if (senses.size() != 1 && senses.size() != m) {
    invalid("sense must be one text or one per row (" + std::to_string(m) + "), got " + std::to_string(senses.size()));
  }
  if (rhs.size() != 1 && rhs.size() != m) {
    invalid("rhs must be a number or one per row (" + std::to_string(m) + "), got " + std::to_string(rhs.size()));
  }
  if (!names.empty() && names.size() != m) {
    invalid("name must give one name per row (" + std::to_string(m) + "), got " + std::to_string(names.size()));
  }
  // The arrays come from outside: every start and index is checked before it is used.
  if (a.start.size() != m + 1 || a.start[0] != 0 || static_cast<size_t>(a.start[m]) != a.index.size() ||
      a.index.size() != a.value.size()) {
    invalid("inconsistent sparse matrix arrays");
  }
  for (size_t i = 0; i < m; ++i) {
    if (a.start[i + 1] < a.start[i]) invalid("inconsistent sparse matrix arrays");
  }
  for (size_t k = 0; k < a.index.size(); ++k) {
    if (a.index[k] < 0 || static_cast<size_t>(a.index[k]) >= a.cols) invalid("column index out of range");
    if (!std::isfinite(a.value[k])) invalid("A holds a NaN or infinite coefficient");
  }
  for (double b : rhs) {
    if (std::isnan(b)) invalid("rhs holds NaN");
  }

  std::vector<LinearRow> out(m);
  for (size_t i = 0; i < m; ++i) {
    LinearRow& row = out[i];
    const auto first = static_cast<size_t>(a.start[i]);
    const auto last = static_cast<size_t>(a.start[i + 1]);
    row.expr.terms.reserve(last - first);
    for (size_t k = first; k < last; ++k) {
      if (a.value[k] != 0.0) row.expr.terms.add_term(vars[static_cast<size_t>(a.index[k])], a.value[k]);
    }
    row.rhs = rhs.size() == 1 ? rhs[0] : rhs[i];
    row.sense = senses.size() == 1 ? senses[0] : senses[i];
    if (!names.empty()) row.name = OptionalName(std::move(names[i]));
  }
  return out;
}

void check_matrix_variables(const ModelData& m, ModelSerial own, std::span<const uint32_t> vars,
                            std::span<const ModelSerial> origins) {
  for (size_t k = 0; k < vars.size(); ++k) {
    if (origins[k] != own) {
      invalid("variable " + std::to_string(k) +
              " belongs to another model; a model takes only expressions over the variables it created");
    }
    if (vars[k] >= m.variables.size()) {
      invalid("variable " + std::to_string(k) + " does not belong to this model");
    }
  }
}

size_t append_rows(ModelData& m, std::vector<LinearRow>&& rows) {
  const size_t first = m.linear_constraints.size();
  m.linear_constraints.reserve(first + rows.size());  // the rows go in whole or not at all
  std::vector<LinearRow>& own = m.linear_constraints.edit();
  for (LinearRow& r : rows) own.push_back(std::move(r));
  return first;
}

}  // namespace velmo
