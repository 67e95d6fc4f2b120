// Model data operations: variable table, objective conversion, classification, cone checks.
#include "modelling/model_data.hpp"

#include <algorithm>
#include <atomic>
#include <limits>
#include <string>

namespace velmo {

ModelSerial next_model_serial() noexcept {
  static std::atomic<ModelSerial> last{kNoModel};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

const char* problem_type_text(ProblemType t) noexcept {
  switch (t) {
    case ProblemType::LP: return "LP";
    case ProblemType::MILP: return "MILP";
    case ProblemType::QP: return "QP";
    case ProblemType::MIQP: return "MIQP";
    case ProblemType::NLP: return "NLP";
  }
  return "LP";
}

uint32_t ModelData::add_variable(std::string var_name, double lower, double upper, VarKind kind) {
  const auto index = static_cast<uint32_t>(variables.size());
  if (kind == VarKind::Binary) {
    lower = 0.0;
    upper = 1.0;
  }
  variables.push_back(VariableRecord{std::move(var_name), lower, upper, index, kind});
  return index;
}

void ModelData::truncate_variables(size_t count) noexcept {
  if (count >= variables.size()) return;
  // The batch that is undone reserved room first, which already made the array this model's
  // own, so nothing is copied here.
  std::vector<VariableRecord>& own = variables.edit();
  own.erase(own.begin() + static_cast<ptrdiff_t>(count), own.end());
}

bool ModelData::has_room_for(uint64_t count) const noexcept {
  return count <= kMaxVariables - variables.size();
}

Objective to_objective(const Operand& v) {
  switch (v.kind) {
    case Operand::Var: return Expr::of_var(v.var);
    case Operand::Linear: return *v.expr;
    case Operand::Quad: return *v.quad;
    case Operand::Nl: {
      if (!v.nl->terms.empty()) return *v.nl;
      Expr e;
      e.terms = v.nl->linear;
      e.constant = v.nl->constant;
      return e;
    }
    case Operand::Number: {
      Expr e;
      e.constant = v.number;
      return e;
    }
    case Operand::Other: break;
  }
  fail(ErrorCode::ObjectiveValue);
}

bool has_nonlinear_terms(const Objective& o) noexcept {
  const NlExpr* g = std::get_if<NlExpr>(&o);
  return g != nullptr && !g->terms.empty();
}

ProblemType classify_problem(const ModelData& m) noexcept {
  for (const NonlinearConstraint& c : m.nonlinear_constraints) {
    if (!c.expr.terms.empty()) return ProblemType::NLP;
  }
  if (m.objective && has_nonlinear_terms(*m.objective)) return ProblemType::NLP;
  const bool quadratic = m.objective && std::holds_alternative<QuadExpr>(*m.objective);
  for (const VariableRecord& v : m.variables) {
    if (v.kind != VarKind::Continuous) return quadratic ? ProblemType::MIQP : ProblemType::MILP;
  }
  return quadratic ? ProblemType::QP : ProblemType::LP;
}

namespace {

void see_index(std::optional<uint32_t>& best, std::optional<uint32_t> i) {
  if (i && (!best || *i > *best)) best = i;
}

void see_terms(std::optional<uint32_t>& best, const TermMap& terms) {
  for (const Term& t : terms) see_index(best, t.index);
}

}  // namespace

ModelData quick_model(Objective objective, ObjectiveSense sense, std::vector<ConstraintRecord> constraints) {
  std::optional<uint32_t> largest;
  if (const auto* e = std::get_if<Expr>(&objective)) {
    see_terms(largest, e->terms);
  } else if (const auto* q = std::get_if<QuadExpr>(&objective)) {
    see_terms(largest, q->linear);
    for (const QuadTerm& t : q->quad) see_index(largest, std::max(t.i, t.j));
  } else {
    see_index(largest, max_var_index(std::get<NlExpr>(objective)));
  }
  ModelData m;
  m.name = "quick_model";
  for (ConstraintRecord& record : constraints) {
    if (auto* row = std::get_if<LinearRow>(&record)) {
      see_terms(largest, row->expr.terms);
      m.linear_constraints.push_back(std::move(*row));
    } else {
      auto& nl = std::get<NonlinearConstraint>(record);
      see_index(largest, max_var_index(nl.expr));
      m.nonlinear_constraints.push_back(std::move(nl));
    }
  }
  const uint64_t columns = largest ? uint64_t{*largest} + 1 : 1;
  m.variables.reserve(columns);
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (uint64_t k = 0; k < columns; ++k) {
    // Appending (not "x" + to_string) sidesteps a false -Wrestrict from g++ 12.
    std::string name = "x";
    name += std::to_string(k);
    m.add_variable(std::move(name), -kInf, kInf, VarKind::Continuous);
  }
  m.objective = std::move(objective);
  m.sense = sense;
  return m;
}

void check_soc_cone(size_t count) {
  if (count < 2) fail(ErrorCode::SocCone);
}

void check_psd_cone(size_t count) {
  // Accept n = d(d+1)/2: try b = 2, 3, ... until b(b-1)/2 reaches n.
  if (count == 0) fail(ErrorCode::PsdCone);
  uint64_t b = 2;
  while (b * (b - 1) / 2 < count) ++b;
  if (b * (b - 1) / 2 != count) fail(ErrorCode::PsdCone);
}

}  // namespace velmo
