// Compilation of a model into column-wise sparse minimisation form, and its clean-up steps.
#include "solve/model.hpp"

#include "expr/errors.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace velmo {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

void check_index(uint32_t index, size_t n, const char* where) {
  if (index >= n) {
    throw InvalidInput{"variable index " + std::to_string(index) + " in the " + where +
                       " is outside this model, which has " + std::to_string(n) +
                       " variables: the expression was built from another model's variables"};
  }
}

int32_t checked_count(size_t count, const char* what) {
  if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw InvalidInput{std::string("the ") + what + " has more than 2147483647 entries"};
  }
  return static_cast<int32_t>(count);
}

void compile_linear_objective(const TermMap& terms, double constant, double sign, CompiledModel& c) {
  for (const Term& t : terms) {
    check_index(t.index, c.num_cols, "objective");
    c.col_cost[t.index] = sign * t.coef;
  }
  c.obj_offset = sign * constant;
}

Hessian compile_hessian(const std::vector<QuadTerm>& quad, double sign, size_t n) {
  struct Entry {
    uint32_t row;
    double coef;
  };
  // Bucket the terms by column (a stable counting sort), then order each column by row with
  // a stable sort, so repeated pairs stay in creation order and add up in that order.
  std::vector<size_t> start(n + 1, 0);
  for (const QuadTerm& t : quad) {
    check_index(t.i, n, "objective");
    check_index(t.j, n, "objective");
    ++start[t.j + 1];
  }
  for (size_t j = 0; j < n; ++j) start[j + 1] += start[j];
  std::vector<Entry> entries(quad.size());
  std::vector<size_t> cursor(start.begin(), start.end() - 1);
  for (const QuadTerm& t : quad) entries[cursor[t.j]++] = Entry{t.i, t.coef};

  Hessian h;
  h.q_start.assign(n + 1, 0);
  h.q_index.reserve(quad.size());
  h.q_value.reserve(quad.size());
  for (size_t col = 0; col < n; ++col) {
    auto first = entries.begin() + static_cast<ptrdiff_t>(start[col]);
    auto last = entries.begin() + static_cast<ptrdiff_t>(start[col + 1]);
    std::stable_sort(first, last, [](const Entry& a, const Entry& b) { return a.row < b.row; });
    for (auto it = first; it != last;) {
      double coef = it->coef;
      auto next = it + 1;
      for (; next != last && next->row == it->row; ++next) coef += next->coef;
      // One triangle of Q with objective ½xᵀQx: the diagonal carries 2c, a product x_i x_j
      // (i < j) carries c.
      h.q_index.push_back(static_cast<int32_t>(it->row));
      h.q_value.push_back(it->row == col ? 2.0 * sign * coef : sign * coef);
      it = next;
    }
    h.q_start[col + 1] = checked_count(h.q_index.size(), "quadratic objective");
  }
  return h;
}

}  // namespace

bool CompiledModel::has_integer_column() const noexcept {
  return std::any_of(integrality.begin(), integrality.end(), [](int32_t v) { return v != 0; });
}

CompiledModel compile_model(const ModelData& m) {
  CompiledModel c;
  const size_t n = m.variables.size();
  const size_t rows = m.linear_constraints.size();
  c.num_cols = n;
  c.num_rows = rows;

  // Constraint matrix: count entries per column, prefix-sum, then fill row by row so that
  // every column comes out sorted by row.
  std::vector<size_t> counts(n, 0);
  size_t nnz = 0;
  for (const LinearRow& row : m.linear_constraints) {
    for (const Term& t : row.expr.terms) {
      check_index(t.index, n, "constraints");
      ++counts[t.index];
    }
    nnz += row.expr.terms.size();
  }
  checked_count(nnz, "constraint matrix");
  c.a_start.resize(n + 1);
  c.a_start[0] = 0;
  for (size_t j = 0; j < n; ++j) c.a_start[j + 1] = c.a_start[j] + static_cast<int32_t>(counts[j]);
  c.a_index.resize(nnz);
  c.a_value.resize(nnz);
  std::vector<int32_t> cursor(c.a_start.begin(), c.a_start.end() - 1);
  c.row_lower.resize(rows);
  c.row_upper.resize(rows);
  c.row_origin.resize(rows);
  for (size_t r = 0; r < rows; ++r) c.row_origin[r] = static_cast<uint32_t>(r);
  for (size_t r = 0; r < rows; ++r) {
    const LinearRow& row = m.linear_constraints[r];
    for (const Term& t : row.expr.terms) {
      const int32_t at = cursor[t.index]++;
      c.a_index[static_cast<size_t>(at)] = static_cast<int32_t>(r);
      c.a_value[static_cast<size_t>(at)] = t.coef;
    }
    const double b = row.rhs - row.expr.constant;
    switch (row.sense) {
      case ConstraintSense::Le: c.row_lower[r] = -kInf; c.row_upper[r] = b; break;
      case ConstraintSense::Ge: c.row_lower[r] = b; c.row_upper[r] = kInf; break;
      case ConstraintSense::Eq: c.row_lower[r] = b; c.row_upper[r] = b; break;
    }
  }

  c.col_lower.reserve(n);
  c.col_upper.reserve(n);
  c.integrality.reserve(n);
  for (const VariableRecord& v : m.variables) {
    c.col_lower.push_back(v.lower);
    c.col_upper.push_back(v.upper);
    c.integrality.push_back(v.kind == VarKind::Continuous ? 0 : 1);
  }

  c.maximize = m.sense == ObjectiveSense::Maximize;
  const double sign = c.maximize ? -1.0 : 1.0;
  c.col_cost.assign(n, 0.0);
  if (m.objective) {
    if (const auto* e = std::get_if<Expr>(&*m.objective)) {
      compile_linear_objective(e->terms, e->constant, sign, c);
    } else if (const auto* q = std::get_if<QuadExpr>(&*m.objective)) {
      compile_linear_objective(q->linear, q->constant, sign, c);
      if (!q->quad.empty()) c.hessian = compile_hessian(q->quad, sign, n);
    } else {
      const NlExpr& g = std::get<NlExpr>(*m.objective);
      // With nonlinear terms the objective is left to the nonlinear adapter.
      if (g.terms.empty()) compile_linear_objective(g.linear, g.constant, sign, c);
    }
  }
  // The conic form indexes its arrays by these, as the matrix does by the rows' indices.
  for (const auto* cones : {&m.soc_cones, &m.psd_cones}) {
    for (const std::vector<uint32_t>& cone : *cones) {
      for (const uint32_t index : cone) check_index(index, n, "cones");
    }
  }
  c.soc_cones = m.soc_cones;
  c.psd_cones = m.psd_cones;
  return c;
}

void scale_cleanup(CompiledModel& c) noexcept {
  for (std::vector<double>* bounds : {&c.col_lower, &c.col_upper, &c.row_lower, &c.row_upper}) {
    for (double& v : *bounds) {
      if (v != 0 && std::isfinite(v) && std::fabs(v) < 1e-9) v = 0.0;
    }
  }
}

size_t eliminate_redundant_rows(CompiledModel& c, bool verbose) {
  std::vector<double> min_act(c.num_rows, 0.0);
  std::vector<double> max_act(c.num_rows, 0.0);
  for (size_t j = 0; j < c.num_cols; ++j) {
    const double lo = c.col_lower[j];
    const double hi = c.col_upper[j];
    for (int32_t k = c.a_start[j]; k < c.a_start[j + 1]; ++k) {
      const auto i = static_cast<size_t>(c.a_index[static_cast<size_t>(k)]);
      const double a = c.a_value[static_cast<size_t>(k)];
      if (a > 0) {
        min_act[i] += a * lo;
        max_act[i] += a * hi;
      } else if (a < 0) {
        min_act[i] += a * hi;
        max_act[i] += a * lo;
      }
    }
  }
  // Old row -> new row, -1 for eliminated rows. The margin is strict, so a row whose
  // activity can reach its bound exactly is kept.
  std::vector<int32_t> renumber(c.num_rows, -1);
  size_t kept = 0;
  for (size_t i = 0; i < c.num_rows; ++i) {
    bool redundant = false;
    if (!std::isnan(min_act[i]) && !std::isnan(max_act[i])) {
      const double l = c.row_lower[i];
      const double u = c.row_upper[i];
      const bool upper_ok = std::isfinite(u) ? max_act[i] <= u - 1e-7 * (1 + std::fabs(u)) : u > 0;
      const bool lower_ok = std::isfinite(l) ? min_act[i] >= l + 1e-7 * (1 + std::fabs(l)) : l < 0;
      redundant = upper_ok && lower_ok;
    }
    if (!redundant) renumber[i] = static_cast<int32_t>(kept++);
  }
  const size_t eliminated = c.num_rows - kept;
  if (eliminated == 0) return 0;

  std::vector<int32_t> start{0};
  std::vector<int32_t> index;
  std::vector<double> value;
  start.reserve(c.num_cols + 1);
  for (size_t j = 0; j < c.num_cols; ++j) {
    for (int32_t k = c.a_start[j]; k < c.a_start[j + 1]; ++k) {
      const int32_t row = renumber[static_cast<size_t>(c.a_index[static_cast<size_t>(k)])];
      if (row < 0) continue;
      index.push_back(row);
      value.push_back(c.a_value[static_cast<size_t>(k)]);
    }
    start.push_back(static_cast<int32_t>(index.size()));
  }
  std::vector<double> lower;
  std::vector<double> upper;
  std::vector<uint32_t> origin;
  lower.reserve(kept);
  upper.reserve(kept);
  origin.reserve(kept);
  for (size_t i = 0; i < c.num_rows; ++i) {
    if (renumber[i] < 0) continue;
    lower.push_back(c.row_lower[i]);
    upper.push_back(c.row_upper[i]);
    origin.push_back(c.row_origin[i]);
  }
  c.a_start = std::move(start);
  c.a_index = std::move(index);
  c.a_value = std::move(value);
  c.row_lower = std::move(lower);
  c.row_upper = std::move(upper);
  c.row_origin = std::move(origin);
  c.num_rows = kept;
  if (verbose) {
    std::fprintf(stderr, "[velmo-opt 18.s.3] eliminated %zu provably-redundant rows (%zu remain)\n",
                 eliminated, kept);
    std::fflush(stderr);
  }
  return eliminated;
}

bool has_unusable_numbers(const CompiledModel& c) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  auto any_nan = [](const std::vector<double>& v) {
    return std::any_of(v.begin(), v.end(), [](double x) { return std::isnan(x); });
  };
  auto empty_range = [&](const std::vector<double>& lower, const std::vector<double>& upper) {
    if (any_nan(lower) || any_nan(upper)) return true;
    return std::any_of(lower.begin(), lower.end(), [&](double x) { return x == inf; }) ||
           std::any_of(upper.begin(), upper.end(), [&](double x) { return x == -inf; });
  };
  return any_nan(c.col_cost) || any_nan(c.a_value) || (c.hessian && any_nan(c.hessian->q_value)) ||
         empty_range(c.col_lower, c.col_upper) || empty_range(c.row_lower, c.row_upper);
}

CompiledModel relaxation_of(const CompiledModel& c) {
  CompiledModel r = c;
  std::fill(r.integrality.begin(), r.integrality.end(), 0);
  return r;
}

}  // namespace velmo
