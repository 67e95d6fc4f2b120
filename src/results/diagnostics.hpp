// What a model or a solve's copies say about themselves, without a solver: validation
// findings, the infeasible subsystem found by bound propagation, shadow prices with bound
// status, and the "why" of one variable's value.
#pragma once

#include "modelling/model_data.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velmo::diagnostics {

struct Finding {
  int level;  // 2 error, 1 warning, 0 information
  const char* category;
  std::string message;
};
const char* severity_text(int level) noexcept;

// Findings in their fixed group order; never throws for a finding.
std::vector<Finding> validate(const std::vector<VariableRecord>& variables, const std::vector<LinearRow>& rows);

struct Subsystem {
  std::vector<size_t> indices;
  std::vector<std::string> names;  // "unnamed" for a constraint without a name
  std::string explanation;
  std::vector<std::string> suggestions;
};

// The constraints that bound propagation shows infeasible together, made irreducible for that
// test by a deletion filter; empty when the whole set is not shown infeasible.
Subsystem infeasible_subsystem(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables);

enum class BoundStatus : uint8_t { AtLower = 0, AtUpper = 1, Between = 2, Fixed = 3 };
const char* bound_status_text(BoundStatus s) noexcept;

using Labelled = std::pair<size_t, std::string>;  // position and short label

struct ShadowPrice {
  size_t position;
  std::string label;
  double dual;
};

struct Sensitivity {
  std::vector<ShadowPrice> shadow_prices;
  std::vector<ShadowPrice> most_impactful;
  std::vector<Labelled> active;
  std::vector<std::pair<std::string, BoundStatus>> bounds;
};

// `dual_rows[r]` is the stored constraint that dual r belongs to; an empty map pairs dual i
// with constraint i. Absent primals or duals are null.
Sensitivity sensitivity(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                        const std::vector<double>* primals, const std::vector<double>* duals,
                        const std::vector<uint32_t>& dual_rows);

struct Why {
  std::string variable;
  double value;
  BoundStatus status;
  std::string sentence;
  std::vector<Labelled> binding;  // short labels ("c{i}" for an unnamed constraint)
};

// The caller has checked that `index` is below both the variable count and the primal count.
Why explain(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
            const std::vector<double>& primals, uint32_t index);

}  // namespace velmo::diagnostics
