#include "solve/dispatch.hpp"

#include <vector>

namespace velmo {

namespace {

bool has_integer_variable(const ModelData& m) {
  for (const VariableRecord& v : m.variables) {
    if (v.kind != VarKind::Continuous) return true;
  }
  return false;
}

}  // namespace

std::string automatic_solver(const ModelData& m) {
  if (!m.soc_cones.empty() || !m.psd_cones.empty()) return "clarabel";
  switch (classify_problem(m)) {
    case ProblemType::QP: return "osqp";
    case ProblemType::MIQP: return "bonmin";
    case ProblemType::NLP: return has_integer_variable(m) ? "bonmin" : "ipopt";
    default: return "highs";
  }
}

const char* solver_display_name(const std::string& solver) noexcept {
  if (solver == "osqp") return "OSQP";
  if (solver == "scipy" || solver == "slsqp") return "SciPy/SLSQP";
  if (solver == "ipopt") return "Ipopt";
  if (solver == "bonmin") return "Bonmin";
  if (solver == "clarabel") return "Clarabel";
  return "HiGHS";
}

namespace {

size_t nonlinear_rows(const ModelData& m) {
  size_t k = 0;
  for (const NonlinearConstraint& c : m.nonlinear_constraints) k += c.expr.terms.empty() ? 0 : 1;
  return k;
}

bool nonlinear_objective(const ModelData& m) { return m.objective && has_nonlinear_terms(*m.objective); }

std::string counted(size_t k, const char* what) {
  return std::to_string(k) + " " + what + (k == 1 ? "" : "s");
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += i + 1 == parts.size() ? " and " : ", ";
    out += parts[i];
  }
  return out;
}

}  // namespace

bool needs_expressions(const ModelData& m) { return nonlinear_rows(m) > 0 || nonlinear_objective(m); }

std::optional<std::string> refusal(const std::string& solver, const ModelData& m) {
  const bool cones = !m.soc_cones.empty() || !m.psd_cones.empty();
  const bool nonlinear = needs_expressions(m);
  std::vector<std::string> dropped;
  if (cones && solver != "clarabel") {
    if (!m.soc_cones.empty()) dropped.push_back(counted(m.soc_cones.size(), "second-order cone"));
    if (!m.psd_cones.empty()) dropped.push_back(counted(m.psd_cones.size(), "PSD cone"));
  }
  if (nonlinear && solver != "ipopt" && solver != "bonmin") {
    if (nonlinear_objective(m)) dropped.emplace_back("nonlinear objective");
    if (const size_t k = nonlinear_rows(m)) dropped.push_back(counted(k, "nonlinear constraint"));
  }
  if (dropped.empty()) return std::nullopt;
  std::string text = "solver '" + solver + "' cannot take the model's " + joined(dropped) + "; ";
  if (cones && nonlinear) {
    text += "no solver takes cones and nonlinear terms together";
  } else {
    text += cones ? "solver 'clarabel' can" : "solver 'ipopt' can";
  }
  return text;
}

}  // namespace velmo
