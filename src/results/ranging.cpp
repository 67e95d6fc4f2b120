// Ranging translated from HiGHS's minimisation form into the model's costs and right-hand sides.
#include "results/ranging.hpp"

#include <algorithm>
#include <limits>

namespace velmo::diagnostics {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}

RangingTable ranging_table(const RawRanging& raw, const std::vector<LinearRow>& rows,
                           const std::vector<VariableRecord>& variables) {
  RangingTable out;
  const size_t n = std::min({raw.col_cost.size(), raw.cost_dn.size(), raw.cost_up.size(), variables.size()});
  for (size_t j = 0; j < n; ++j) {
    // + 0.0: a zero cost of a maximised model reads 0, not -0.
    if (raw.maximize) {
      out.costs.push_back({variables[j].name, -raw.col_cost[j] + 0.0, -raw.cost_up[j] + 0.0, -raw.cost_dn[j] + 0.0});
    } else {
      out.costs.push_back({variables[j].name, raw.col_cost[j], raw.cost_dn[j], raw.cost_up[j]});
    }
  }
  for (size_t j = 0; j < std::min(raw.col_dual.size(), variables.size()); ++j) {
    out.reduced_costs.emplace_back(variables[j].name, raw.col_dual[j]);
  }
  const size_t m = std::min({raw.row_lower.size(), raw.row_value.size(), raw.row_basic.size(), raw.bound_dn.size(),
                             raw.bound_up.size()});
  for (size_t r = 0; r < m; ++r) {
    const size_t position = r < raw.row_origin.size() ? raw.row_origin[r] : r;
    if (position >= rows.size()) continue;
    const LinearRow& row = rows[position];
    // The compiled bound is rhs - constant; the shift moves HiGHS's values back to the rhs.
    const double bound = row.sense == ConstraintSense::Le ? raw.row_upper[r] : raw.row_lower[r];
    const double shift = row.rhs - bound;
    double lowest = raw.bound_dn[r] + shift;
    double highest = raw.bound_up[r] + shift;
    if (raw.row_basic[r]) {
      // Slack in the basis: the rhs may move freely away from the activity, and up to it.
      const double at = raw.row_value[r] + shift;
      if (row.sense == ConstraintSense::Le) {
        lowest = at;
        highest = kInf;
      } else if (row.sense == ConstraintSense::Ge) {
        lowest = -kInf;
        highest = at;
      }
    }
    out.rhs.push_back({position, row_label(row, position, "c"), row.rhs, lowest, highest});
  }
  return out;
}

}  // namespace velmo::diagnostics
