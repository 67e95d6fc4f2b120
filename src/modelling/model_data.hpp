// A model's stored data and the operations on it that need no Python: variables,
// objective, constraints, cones and the problem classification.
#pragma once

#include "expr/algebra.hpp"
#include "modelling/shared_rows.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace velmo {

enum class VarKind : uint8_t { Continuous = 0, Integer = 1, Binary = 2 };

struct VariableRecord {
  std::string name;
  double lower;
  double upper;
  uint32_t index;
  VarKind kind;
};

enum class ObjectiveSense : uint8_t { Minimize = 0, Maximize = 1 };
enum class ProblemType : uint8_t { LP = 0, MILP, QP, MIQP, NLP };
const char* problem_type_text(ProblemType t) noexcept;

using Objective = std::variant<Expr, QuadExpr, NlExpr>;  // Linear | Quadratic | Nonlinear

struct ModelData {
  std::optional<Objective> objective;
  std::string name = "model";
  // The names live in the records only. No name-to-index map is kept: nothing looks a
  // variable up by name, and for a large model such a map costs a hash node and another copy
  // of every name (about 70 bytes and a hash per variable).
  CowVector<VariableRecord> variables;
  CowVector<LinearRow> linear_constraints;
  std::vector<NonlinearConstraint> nonlinear_constraints;
  std::vector<std::vector<uint32_t>> soc_cones;
  std::vector<std::vector<uint32_t>> psd_cones;
  ObjectiveSense sense = ObjectiveSense::Minimize;

  // Largest variable count a model can index with unsigned 32-bit indices.
  static constexpr uint64_t kMaxVariables = uint64_t{UINT32_MAX} + 1;

  // Appends one variable and returns its index; the caller has checked the capacity. On
  // failure nothing is added.
  uint32_t add_variable(std::string name, double lower, double upper, VarKind kind);
  // Drops the variables from position `count` on (undoing a batch that failed part-way).
  void truncate_variables(size_t count) noexcept;
  // Whether `count` more variables still fit the 32-bit index space.
  bool has_room_for(uint64_t count) const noexcept;
};

// The objective an operand stands for; throws ObjectiveValue for anything else.
Objective to_objective(const Operand& v);

bool has_nonlinear_terms(const Objective& o) noexcept;
ProblemType classify_problem(const ModelData& m) noexcept;

// The throw-away model of the one-line solve functions: one free continuous column "x<k>" for
// every index 0..largest used by the objective and the constraints (at least one column).
ModelData quick_model(Objective objective, ObjectiveSense sense, std::vector<ConstraintRecord> constraints);

// Cone declarations: throw SocCone / PsdCone when the entry count is not acceptable.
void check_soc_cone(size_t count);
void check_psd_cone(size_t count);

}  // namespace velmo
