// Model data operations: variable table, objective conversion, classification, cone checks.
#include "modelling/model_data.hpp"

namespace velmo {

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
  name_index.insert_or_assign(var_name, index);  // one hash and probe; a repeat name moves on
  variables.push_back(VariableRecord{std::move(var_name), lower, upper, index, kind});
  return index;
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
