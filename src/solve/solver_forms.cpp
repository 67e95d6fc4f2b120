// The problem forms the Clarabel, SLSQP and Ipopt adapters build from a compiled model, apart
// from any Python: conic rows and cones, the full symmetric Hessian, the iteration cap, and
// the index check of the nonlinear expressions.
#include "solve/solver_forms.hpp"

#include "expr/errors.hpp"

#include <cmath>
#include <string>

namespace velmo {

ConicForm conic_form(const CompiledModel& c) {
  const size_t m = c.num_rows;
  const size_t n = c.num_cols;
  ConicForm f;
  std::vector<Entry> entries;
  entries.reserve(c.a_value.size() + 2 * n);
  // Where each constraint row lands: its equality row, or its upper and lower rows.
  constexpr uint32_t kNone = UINT32_MAX;
  std::vector<uint32_t> up(m, kNone), lo(m, kNone);
  auto next_row = [&f](double b) {
    f.b.push_back(b);
    return static_cast<uint32_t>(f.rows++);
  };
  for (size_t i = 0; i < m; ++i) {
    if (c.row_lower[i] == c.row_upper[i]) up[i] = next_row(c.row_lower[i]);
  }
  f.zero_rows = f.rows;
  for (size_t i = 0; i < m; ++i) {
    if (c.row_lower[i] == c.row_upper[i]) continue;
    if (std::isfinite(c.row_upper[i])) up[i] = next_row(c.row_upper[i]);
    if (std::isfinite(c.row_lower[i])) lo[i] = next_row(-c.row_lower[i]);
  }
  for (size_t j = 0; j < n; ++j) {
    for (int32_t k = c.a_start[j]; k < c.a_start[j + 1]; ++k) {
      const auto i = static_cast<size_t>(c.a_index[static_cast<size_t>(k)]);
      const double v = c.a_value[static_cast<size_t>(k)];
      const auto col = static_cast<uint32_t>(j);
      if (up[i] != kNone) entries.push_back({up[i], col, v});
      if (lo[i] != kNone) entries.push_back({lo[i], col, -v});
    }
  }
  for (size_t j = 0; j < n; ++j) {
    const auto col = static_cast<uint32_t>(j);
    if (std::isfinite(c.col_upper[j])) entries.push_back({next_row(c.col_upper[j]), col, 1.0});
    if (std::isfinite(c.col_lower[j])) entries.push_back({next_row(-c.col_lower[j]), col, -1.0});
  }
  f.nonnegative_rows = f.rows - f.zero_rows;
  for (const std::vector<uint32_t>& cone : c.soc_cones) {
    for (uint32_t v : cone) entries.push_back({next_row(0.0), v, -1.0});
  }
  // The upper triangle column by column; Clarabel's slack holds off-diagonal entries scaled
  // by √2, so the row for X_rc (r < c) carries −√2.
  const double sqrt2 = std::sqrt(2.0);
  for (const std::vector<uint32_t>& cone : c.psd_cones) {
    size_t d = 0;
    while (d * (d + 1) / 2 < cone.size()) ++d;
    f.psd_sides.push_back(d);
    size_t k = 0;
    for (size_t col = 0; col < d; ++col) {
      for (size_t row = 0; row <= col && k < cone.size(); ++row, ++k) {
        entries.push_back({next_row(0.0), cone[k], row == col ? -1.0 : -sqrt2});
      }
    }
  }
  f.a = csc_from_entries(entries, f.rows, n);
  return f;
}

double clarabel_psd_bytes(const CompiledModel& c) noexcept {
  double bytes = 0;
  for (const std::vector<uint32_t>& cone : c.psd_cones) {
    const double t = static_cast<double>(cone.size());  // d(d+1)/2 entries
    bytes += 8.0 * t * t;
  }
  return bytes;
}

int64_t slsqp_iteration_cap(double time_limit) noexcept {
  const double v = time_limit * 100;
  if (!(v > 0)) return 0;  // NaN and negative limits
  if (v >= static_cast<double>(kMaxSlsqpIterations)) return kMaxSlsqpIterations;
  return static_cast<int64_t>(v);
}

Csc symmetric_hessian(const Hessian& h, size_t n) {
  std::vector<Entry> entries;
  entries.reserve(2 * h.q_value.size());
  for (size_t j = 0; j < n; ++j) {
    for (int32_t k = h.q_start[j]; k < h.q_start[j + 1]; ++k) {
      const auto i = static_cast<uint32_t>(h.q_index[static_cast<size_t>(k)]);
      const double v = h.q_value[static_cast<size_t>(k)];
      entries.push_back({i, static_cast<uint32_t>(j), v});
      if (i != j) entries.push_back({static_cast<uint32_t>(j), i, v});
    }
  }
  return csc_from_entries(entries, n, n);
}

void check_nonlinear_indices(const ModelData& m, size_t num_cols) {
  auto check = [num_cols](const NlExpr& g, const char* where) {
    const std::optional<uint32_t> top = max_var_index(g);
    if (top && *top >= num_cols) {
      throw InvalidInput{"variable index " + std::to_string(*top) + " in the " + where +
                         " is outside this model, which has " + std::to_string(num_cols) +
                         " variables: the expression was built from another model's variables"};
    }
  };
  if (m.objective) {
    if (const auto* g = std::get_if<NlExpr>(&*m.objective)) check(*g, "objective");
  }
  for (const NonlinearConstraint& c : m.nonlinear_constraints) check(c.expr, "nonlinear constraints");
}

}  // namespace velmo
