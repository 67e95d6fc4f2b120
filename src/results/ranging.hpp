// Ranging of an LP solution: the interval of each cost and right-hand side over which the
// optimal basis stays optimal, translated from HiGHS's answer into the model's own terms.
#pragma once

#include "modelling/model_data.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmo::diagnostics {

// What HiGHS answers for the compiled minimisation form right after an optimal run, with the
// compiled data the translation needs. Per column: cost_*, col_*; per compiled row: the rest.
struct RawRanging {
  bool maximize = false;
  std::vector<double> col_cost;
  std::vector<double> cost_dn, cost_up;
  std::vector<double> col_dual;
  std::vector<double> row_lower, row_upper;
  std::vector<double> row_value;
  std::vector<uint8_t> row_basic;
  std::vector<double> bound_dn, bound_up;
  std::vector<uint32_t> row_origin;  // the stored constraint of each compiled row
};

struct CostRange {
  std::string name;
  double cost, lowest, highest;
};
struct RhsRange {
  size_t position;
  std::string label;
  double rhs, lowest, highest;
};
struct RangingTable {
  std::vector<CostRange> costs;
  std::vector<RhsRange> rhs;
  std::vector<std::pair<std::string, double>> reduced_costs;
};

// Costs in the model's own sense; right-hand sides of the stored constraints (constant terms
// moved back). A basic row ranges from its activity to infinity on its slack side: HiGHS
// reports such rows differently.
RangingTable ranging_table(const RawRanging& raw, const std::vector<LinearRow>& rows,
                           const std::vector<VariableRecord>& variables);

}  // namespace velmo::diagnostics
