// The exact infeasible subsystem's solver-free parts: model form, deletion filter, texts.
#include "results/exact_iis.hpp"

#include "expr/number_text.hpp"

#include <cmath>
#include <limits>

namespace velmo::diagnostics {

CompiledModel feasibility_form(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                               const std::vector<char>* members, bool keep_integrality) {
  ModelData m;
  std::vector<VariableRecord>& vars = m.variables.edit();
  vars = variables;
  if (!keep_integrality) {
    for (VariableRecord& v : vars) v.kind = VarKind::Continuous;
  }
  std::vector<LinearRow>& kept = m.linear_constraints.edit();
  if (members == nullptr) {
    kept = rows;
  } else {
    for (size_t i = 0; i < rows.size(); ++i) {
      if ((*members)[i]) kept.push_back(rows[i]);
    }
  }
  return compile_model(m);
}

CompiledModel subsystem_form(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                             const std::vector<size_t>& positions, const std::vector<BoundMember>& bounds) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  ModelData m;
  std::vector<VariableRecord>& vars = m.variables.edit();
  vars = variables;
  for (VariableRecord& v : vars) {
    v.kind = VarKind::Continuous;
    v.lower = -inf;
    v.upper = inf;
  }
  for (const BoundMember& b : bounds) {
    if (b.side != BoundSide::Upper) vars[b.variable].lower = variables[b.variable].lower;
    if (b.side != BoundSide::Lower) vars[b.variable].upper = variables[b.variable].upper;
  }
  std::vector<LinearRow>& kept = m.linear_constraints.edit();
  kept.reserve(positions.size());
  for (size_t i : positions) kept.push_back(rows[i]);
  return compile_model(m);
}

std::vector<BoundMember> contradictory_bounds(const std::vector<VariableRecord>& variables) {
  std::vector<BoundMember> out;
  for (size_t j = 0; j < variables.size(); ++j) {
    if (variables[j].lower > variables[j].upper) out.push_back({static_cast<uint32_t>(j), BoundSide::Both});
  }
  return out;
}

std::vector<BoundMember> integer_free_intervals(const std::vector<VariableRecord>& variables) {
  std::vector<BoundMember> out;
  for (size_t j = 0; j < variables.size(); ++j) {
    const VariableRecord& v = variables[j];
    if (v.kind != VarKind::Continuous && std::ceil(v.lower) > std::floor(v.upper)) {
      out.push_back({static_cast<uint32_t>(j), BoundSide::Both});
    }
  }
  return out;
}

FilterOutcome deletion_filter(size_t n, const std::vector<char>* start,
                              const std::function<Verdict(const std::vector<char>&)>& test,
                              const std::function<bool()>& out_of_time) {
  FilterOutcome out;
  if (start != nullptr) {
    out.members = *start;
  } else {
    out.members.assign(n, 1);
  }
  out.whole = test(out.members);
  if (out.whole != Verdict::Infeasible) {
    out.members.assign(n, 0);
    return out;
  }
  out.proven = true;
  for (size_t k = 0; k < n; ++k) {
    if (!out.members[k]) continue;
    if (out_of_time()) {
      out.proven = false;
      break;
    }
    out.members[k] = 0;
    const Verdict v = test(out.members);
    if (v == Verdict::Infeasible) continue;
    out.members[k] = 1;
    if (v == Verdict::Unknown) out.proven = false;
  }
  return out;
}

namespace {

std::string bound_text(const VariableRecord& v, BoundSide side) {
  switch (side) {
    case BoundSide::Lower: return v.name + " >= " + number_text(v.lower);
    case BoundSide::Upper: return v.name + " <= " + number_text(v.upper);
    case BoundSide::Both: break;
  }
  return number_text(v.lower) + " <= " + v.name + " <= " + number_text(v.upper);
}

}  // namespace

ExactReport describe(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                     const std::vector<size_t>& positions, const std::vector<BoundMember>& bounds,
                     const std::string& note) {
  ExactReport out;
  Subsystem& s = out.subsystem;
  std::string lines;
  for (size_t i : positions) {
    const LinearRow& r = rows[i];
    const std::string label = row_label(r, i, "constraint_");
    s.indices.push_back(i);
    s.names.push_back(r.name.has_value() ? *r.name : "unnamed");
    lines += "\n  '" + label + "' (" + row_text(r) + ")";
    switch (r.sense) {
      case ConstraintSense::Le: s.suggestions.push_back("Relax '" + label + "': increase RHS from " + fixed_text(r.rhs, 4)); break;
      case ConstraintSense::Ge: s.suggestions.push_back("Relax '" + label + "': decrease RHS from " + fixed_text(r.rhs, 4)); break;
      case ConstraintSense::Eq: s.suggestions.push_back("Relax '" + label + "': change from equality to inequality"); break;
    }
  }
  for (const BoundMember& b : bounds) {
    const VariableRecord& v = variables[b.variable];
    out.bounds.push_back(v.name);
    lines += "\n  bound of '" + v.name + "' (" + bound_text(v, b.side) + ")";
  }
  if (positions.empty() && bounds.empty()) {
    s.explanation = "No infeasible subsystem found.";
  } else if (bounds.empty()) {
    s.explanation = "The following " + std::to_string(positions.size()) +
                    " constraints are mutually infeasible \u2014 no solution satisfies all of them simultaneously:" +
                    lines;
  } else {
    s.explanation = "The following " + std::to_string(positions.size()) + " constraints and " +
                    std::to_string(bounds.size()) +
                    " variable bounds are mutually infeasible \u2014 no solution satisfies all of them "
                    "simultaneously:" +
                    lines;
  }
  if (!note.empty()) s.explanation += "\n" + note;
  return out;
}

}  // namespace velmo::diagnostics
