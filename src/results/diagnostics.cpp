// Validation, infeasibility report, sensitivity and explanations on copied model data.
#include "results/diagnostics.hpp"

#include "expr/number_text.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace velmo::diagnostics {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string fixed4(double v) { return fixed_text(v, 4); }
std::string fixed6(double v) { return fixed_text(v, 6); }

// "c{i}" for an unnamed constraint: the short label of sensitivity and why_detail.
std::string short_label(const LinearRow& row, size_t position) { return row_label(row, position, "c"); }
// "constraint_{i}": the label of validation's large right-hand side and the report's texts.
std::string long_label(const LinearRow& row, size_t position) { return row_label(row, position, "constraint_"); }
// "unnamed": validation's trivially infeasible message, why sentences, the report's names.
std::string name_or_unnamed(const LinearRow& row) { return row.name.has_value() ? *row.name : "unnamed"; }

double activity(const LinearRow& row, const std::vector<double>& point) {
  double a = row.expr.constant;
  for (const Term& t : row.expr.terms) a += t.coef * (t.index < point.size() ? point[t.index] : 0.0);
  return a;
}

double slack(const LinearRow& row, double act) {
  switch (row.sense) {
    case ConstraintSense::Le: return row.rhs - act;
    case ConstraintSense::Ge: return act - row.rhs;
    case ConstraintSense::Eq: return std::fabs(act - row.rhs);
  }
  return 0.0;
}

bool tight(const LinearRow& row, const std::vector<double>& point) {
  return std::fabs(slack(row, activity(row, point))) < 1e-6;
}

BoundStatus bound_status(double v, double l, double u) {
  if (std::fabs(u - l) < 1e-8) return BoundStatus::Fixed;
  if (std::fabs(v - l) < 1e-6) return BoundStatus::AtLower;
  if (std::fabs(v - u) < 1e-6) return BoundStatus::AtUpper;
  return BoundStatus::Between;
}

// Each stored variable's index to its primal value (0 where the primals run short).
std::vector<double> primal_point(const std::vector<VariableRecord>& variables, const std::vector<double>& primals) {
  size_t size = 0;
  for (const VariableRecord& v : variables) size = std::max<size_t>(size, size_t{v.index} + 1);
  std::vector<double> point(size, 0.0);
  for (const VariableRecord& v : variables) {
    if (v.index < primals.size()) point[v.index] = primals[v.index];
  }
  return point;
}

// --- Bound propagation ---------------------------------------------------------------------

// The working bounds of one feasibility test, allocated once per report and reset per test.
class Propagator {
 public:
  Propagator(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables) : rows_(rows) {
    // Indices outside the table cannot come from a model; they count as free variables.
    size_t size = variables.size();
    for (const LinearRow& r : rows) {
      for (const Term& t : r.expr.terms) size = std::max<size_t>(size, size_t{t.index} + 1);
    }
    base_lo_.assign(size, -kInf);
    base_hi_.assign(size, kInf);
    for (size_t j = 0; j < variables.size(); ++j) {
      base_lo_[j] = variables[j].lower;
      base_hi_[j] = variables[j].upper;
    }
    lo_.resize(size);
    hi_.resize(size);
  }

  // Whether the members of `in` (in list order) are shown infeasible.
  bool infeasible(const std::vector<char>& in) {
    std::copy(base_lo_.begin(), base_lo_.end(), lo_.begin());
    std::copy(base_hi_.begin(), base_hi_.end(), hi_.begin());
    for (int pass = 0;; ++pass) {
      bool changed = false;
      for (size_t i = 0; i < rows_.size(); ++i) {
        if (in[i]) changed |= tighten(rows_[i]);
      }
      if (!changed || pass >= 9) break;
    }
    for (size_t j = 0; j < lo_.size(); ++j) {
      if (lo_[j] > hi_[j] + 1e-8) return true;
    }
    for (size_t i = 0; i < rows_.size(); ++i) {
      if (!in[i] || rows_[i].expr.terms.size() < 2) continue;
      const LinearRow& r = rows_[i];
      const double minact = min_activity(r, kNone);
      const double maxact = max_activity(r, kNone);
      const bool le_violated = minact > r.rhs + 1e-8;
      const bool ge_violated = maxact < r.rhs - 1e-8;
      switch (r.sense) {
        case ConstraintSense::Le: if (le_violated) return true; break;
        case ConstraintSense::Ge: if (ge_violated) return true; break;
        case ConstraintSense::Eq: if (le_violated || ge_violated) return true; break;
      }
    }
    return false;
  }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;

  bool lower_to(uint32_t j, double v) {
    if (v > lo_[j]) {
      lo_[j] = v;
      return true;
    }
    return false;
  }
  bool upper_to(uint32_t j, double v) {
    if (v < hi_[j]) {
      hi_[j] = v;
      return true;
    }
    return false;
  }

  // Activity bounds over every term except the one of variable `skip`.
  double min_activity(const LinearRow& r, uint32_t skip) const {
    double s = r.expr.constant;
    for (const Term& t : r.expr.terms) {
      if (t.index != skip) s += t.coef > 0 ? t.coef * lo_[t.index] : t.coef * hi_[t.index];
    }
    return s;
  }
  double max_activity(const LinearRow& r, uint32_t skip) const {
    double s = r.expr.constant;
    for (const Term& t : r.expr.terms) {
      if (t.index != skip) s += t.coef > 0 ? t.coef * hi_[t.index] : t.coef * lo_[t.index];
    }
    return s;
  }
  bool others_finite(const LinearRow& r, uint32_t skip) const {
    for (const Term& t : r.expr.terms) {
      if (t.index != skip && !(std::isfinite(lo_[t.index]) && std::isfinite(hi_[t.index]))) return false;
    }
    return true;
  }

  bool tighten(const LinearRow& r) {
    bool changed = false;
    if (r.expr.terms.size() == 1) {
      const Term& t = *r.expr.terms.begin();
      if (std::fabs(t.coef) < 1e-15) return false;  // neither rule applies
      const double v = (r.rhs - r.expr.constant) / t.coef;
      const bool positive = t.coef > 0;
      switch (r.sense) {
        case ConstraintSense::Eq:
          changed |= lower_to(t.index, v);
          changed |= upper_to(t.index, v);
          break;
        case ConstraintSense::Le: changed |= positive ? upper_to(t.index, v) : lower_to(t.index, v); break;
        case ConstraintSense::Ge: changed |= positive ? lower_to(t.index, v) : upper_to(t.index, v); break;
      }
    }
    if (r.sense == ConstraintSense::Eq) return changed;
    for (const Term& t : r.expr.terms) {
      if (std::fabs(t.coef) < 1e-15 || !(t.coef > 0)) continue;
      if (!others_finite(r, t.index)) continue;
      if (r.sense == ConstraintSense::Le) {
        changed |= upper_to(t.index, (r.rhs - min_activity(r, t.index)) / t.coef);
      } else {
        changed |= lower_to(t.index, (r.rhs - max_activity(r, t.index)) / t.coef);
      }
    }
    return changed;
  }

  const std::vector<LinearRow>& rows_;
  std::vector<double> base_lo_, base_hi_, lo_, hi_;
};

}  // namespace

const char* severity_text(int level) noexcept {
  return level >= 2 ? "ERROR" : level == 1 ? "WARN" : "INFO";
}

const char* bound_status_text(BoundStatus s) noexcept {
  switch (s) {
    case BoundStatus::AtLower: return "at_lower";
    case BoundStatus::AtUpper: return "at_upper";
    case BoundStatus::Between: return "between";
    case BoundStatus::Fixed: return "fixed";
  }
  return "between";
}

std::vector<Finding> validate(const std::vector<VariableRecord>& variables, const std::vector<LinearRow>& rows) {
  std::vector<Finding> out;
  for (const VariableRecord& v : variables) {
    if (v.lower > v.upper + 1e-10) {
      out.push_back({2, "infeasible_bounds",
                     "Variable '" + v.name + "' has infeasible bounds: lower=" + fixed4(v.lower) +
                         " > upper=" + fixed4(v.upper)});
    }
  }

  std::unordered_set<uint32_t> used;
  for (const LinearRow& r : rows) {
    for (const Term& t : r.expr.terms) used.insert(t.index);
  }
  for (const VariableRecord& v : variables) {
    if (!used.contains(v.index)) {
      out.push_back({0, "unused_variable", "Variable '" + v.name + "' is not used in any constraint"});
    }
  }

  double lo = kInf, hi = 0.0;
  for (const LinearRow& r : rows) {
    for (const Term& t : r.expr.terms) {
      const double a = std::fabs(t.coef);
      if (!(a > 1e-15)) continue;
      lo = std::min(lo, a);
      hi = std::max(hi, a);
    }
  }
  if (hi > 0.0 && hi / lo > 1e6) {
    out.push_back({1, "scaling",
                   "Coefficient range is " + exponent_text(hi / lo, 0) + " (min=" + exponent_text(lo, 2) +
                       ", max=" + exponent_text(hi, 2) + ") \u2014 may cause numerical issues. Consider scaling."});
  }

  for (size_t i = 0; i < rows.size(); ++i) {
    if (std::fabs(rows[i].rhs) > 1e12) {
      out.push_back({1, "large_rhs",
                     "Constraint '" + long_label(rows[i], i) + "' has very large RHS: " + exponent_text(rows[i].rhs, 2)});
    }
  }

  const size_t empty = static_cast<size_t>(
      std::count_if(rows.begin(), rows.end(), [](const LinearRow& r) { return r.expr.terms.empty(); }));
  if (empty > 0) {
    out.push_back({0, "empty_constraint", std::to_string(empty) + " constraint(s) have no variables"});
  }

  // A non-finite bound counts as +-1e20 in these sums, so that one free variable makes the
  // activity huge rather than infinite.
  auto bound = [&](uint32_t j, bool upper, bool min_side, double a) {
    const double b = j < variables.size() ? (upper ? variables[j].upper : variables[j].lower) : (upper ? kInf : -kInf);
    if (std::isfinite(b)) return b;
    return min_side == (a > 0) ? -1e20 : 1e20;
  };
  for (const LinearRow& r : rows) {
    if (r.expr.terms.size() < 2) continue;
    double min_act = r.expr.constant, max_act = r.expr.constant;
    for (const Term& t : r.expr.terms) {
      const double a = t.coef;
      min_act += a * bound(t.index, !(a > 0), true, a);
      max_act += a * bound(t.index, a > 0, false, a);
    }
    const std::string name = name_or_unnamed(r);
    if (r.sense == ConstraintSense::Le && min_act > r.rhs + 1e-6) {
      out.push_back({2, "trivially_infeasible",
                     "Constraint '" + name + "' is trivially infeasible: min activity " + fixed4(min_act) +
                         " > RHS " + fixed4(r.rhs)});
    } else if (r.sense == ConstraintSense::Ge && max_act < r.rhs - 1e-6) {
      out.push_back({2, "trivially_infeasible",
                     "Constraint '" + name + "' is trivially infeasible: max activity " + fixed4(max_act) +
                         " < RHS " + fixed4(r.rhs)});
    }
  }

  // Names shared by several variables, in the order of their first use: values() maps a name
  // to one value, so all but one of them vanish from it.
  std::unordered_map<std::string_view, size_t> uses;
  std::vector<std::string_view> order;
  for (const VariableRecord& v : variables) {
    if (uses[v.name]++ == 1) order.push_back(v.name);
  }
  for (std::string_view name : order) {
    out.push_back({1, "duplicate_name",
                   "Variable name '" + std::string(name) + "' is shared by " + std::to_string(uses[name]) +
                       " variables; values() keeps only the last of them"});
  }
  return out;
}

Subsystem infeasible_subsystem(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables) {
  Subsystem out;
  Propagator test(rows, variables);
  std::vector<char> member(rows.size(), 1);
  // Without this first test a set that propagation cannot show infeasible would come back
  // whole, as if every constraint were in conflict.
  if (test.infeasible(member)) {
    for (size_t k = 0; k < rows.size(); ++k) {
      member[k] = 0;
      if (!test.infeasible(member)) member[k] = 1;
    }
  } else {
    std::fill(member.begin(), member.end(), 0);
  }

  std::string lines;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (!member[i]) continue;
    const LinearRow& r = rows[i];
    const std::string label = long_label(r, i);
    out.indices.push_back(i);
    out.names.push_back(name_or_unnamed(r));
    lines += "\n  '" + label + "' (" + row_text(r) + ")";
    switch (r.sense) {
      case ConstraintSense::Le: out.suggestions.push_back("Relax '" + label + "': increase RHS from " + fixed4(r.rhs)); break;
      case ConstraintSense::Ge: out.suggestions.push_back("Relax '" + label + "': decrease RHS from " + fixed4(r.rhs)); break;
      case ConstraintSense::Eq: out.suggestions.push_back("Relax '" + label + "': change from equality to inequality"); break;
    }
  }
  if (out.indices.empty()) {
    out.explanation = "No infeasible subsystem found.";
  } else {
    out.explanation = "The following " + std::to_string(out.indices.size()) +
                      " constraints are mutually infeasible \u2014 no solution satisfies all of them simultaneously:" +
                      lines;
  }
  return out;
}

Sensitivity sensitivity(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                        const std::vector<double>* primals, const std::vector<double>* duals,
                        const std::vector<uint32_t>& dual_rows) {
  Sensitivity out;
  if (duals != nullptr) {
    std::vector<double> by_row(rows.size(), 0.0);
    if (dual_rows.empty()) {
      for (size_t i = 0; i < rows.size() && i < duals->size(); ++i) by_row[i] = (*duals)[i];
    } else {
      // Rows removed before the solve have no dual of their own and keep 0.0.
      for (size_t r = 0; r < dual_rows.size() && r < duals->size(); ++r) {
        if (dual_rows[r] < by_row.size()) by_row[dual_rows[r]] = (*duals)[r];
      }
    }
    out.shadow_prices.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) out.shadow_prices.push_back({i, short_label(rows[i], i), by_row[i]});
    out.most_impactful = out.shadow_prices;
    // NaN duals go last, so that the order stays a strict weak one.
    auto weight = [](double d) { return std::isnan(d) ? -1.0 : std::fabs(d); };
    std::stable_sort(out.most_impactful.begin(), out.most_impactful.end(),
                     [&](const ShadowPrice& a, const ShadowPrice& b) { return weight(a.dual) > weight(b.dual); });
    if (out.most_impactful.size() > 5) out.most_impactful.resize(5);
  }
  if (primals != nullptr) {
    const std::vector<double> point = primal_point(variables, *primals);
    for (size_t i = 0; i < rows.size(); ++i) {
      if (tight(rows[i], point)) out.active.emplace_back(i, short_label(rows[i], i));
    }
    for (const VariableRecord& v : variables) {
      out.bounds.emplace_back(v.name, bound_status(point[v.index], v.lower, v.upper));
    }
  }
  return out;
}

Why explain(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
            const std::vector<double>& primals, uint32_t index) {
  const VariableRecord& var = variables[index];
  const double v = primals[index];
  const std::vector<double> point = primal_point(variables, primals);
  Why out{var.name, v, bound_status(v, var.lower, var.upper), {}, {}};
  std::vector<std::string> names;  // "unnamed" in the sentence
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].expr.terms.find(index) == nullptr || !tight(rows[i], point)) continue;
    out.binding.emplace_back(i, short_label(rows[i], i));
    names.push_back(name_or_unnamed(rows[i]));
  }
  const size_t n = out.binding.size();
  std::string& s = out.sentence;
  switch (out.status) {
    case BoundStatus::AtLower:
      s = var.name + " = " + fixed6(v) + " because it is at its lower bound (" + fixed6(var.lower) + ").";
      s += n > 0 ? " " + std::to_string(n) + " binding constraint(s) involve this variable."
                 : std::string(" No binding constraints force it higher.");
      break;
    case BoundStatus::AtUpper:
      s = var.name + " = " + fixed6(v) + " because it is at its upper bound (" + fixed6(var.upper) + ").";
      if (n > 0) s += " " + std::to_string(n) + " binding constraint(s) push it to this limit.";
      break;
    case BoundStatus::Between:
      if (n > 0) {
        s = var.name + " = " + fixed6(v) + " is determined by binding constraint(s): ";
        for (size_t k = 0; k < names.size(); ++k) s += (k ? ", " : "") + names[k];
      } else {
        s = var.name + " = " + fixed6(v) + " \u2014 it is between its bounds [" + fixed6(var.lower) + ", " +
            fixed6(var.upper) + "] and no constraints are binding.";
      }
      break;
    case BoundStatus::Fixed:
      s = var.name + " = " + fixed6(v) + " because it is fixed (lower = upper = " + fixed6(var.lower) + ").";
      break;
  }
  return out;
}

}  // namespace velmo::diagnostics
