// The exact infeasible subsystem: the model form handed to a solver, the deletion filter over
// solver verdicts, and the report texts with the variable bounds that take part.
#pragma once

#include "modelling/model_data.hpp"
#include "results/diagnostics.hpp"
#include "solve/model.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmo::diagnostics {

// The stored rows and variables as a model with no objective: only the rows marked in
// `members` (every row when null), integer columns kept or relaxed.
CompiledModel feasibility_form(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                               const std::vector<char>* members, bool keep_integrality);

enum class BoundSide : uint8_t { Lower, Upper, Both };
struct BoundMember {
  uint32_t variable;
  BoundSide side;
};

// The rows at `positions` with only the listed bounds (every other variable free), as a
// continuous model with no objective.
CompiledModel subsystem_form(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                             const std::vector<size_t>& positions, const std::vector<BoundMember>& bounds);

// Variables whose lower bound lies above their upper bound: each is a subsystem by itself.
std::vector<BoundMember> contradictory_bounds(const std::vector<VariableRecord>& variables);
// Integer variables whose interval holds no integer.
std::vector<BoundMember> integer_free_intervals(const std::vector<VariableRecord>& variables);

enum class Verdict : uint8_t { Infeasible, Feasible, Unknown };

struct FilterOutcome {
  Verdict whole = Verdict::Unknown;  // the verdict on the full set
  std::vector<char> members;         // the rows left when `whole` is Infeasible
  bool proven = false;               // every dropped-row test was decided in time
};

// Deletion filter over the rows marked in `start` (all n rows when null): a row leaves when
// the other members are still infeasible without it. A test that cannot decide keeps the row
// and the result is no longer proven irreducible; `out_of_time` stops the filter early with
// the same consequence.
FilterOutcome deletion_filter(size_t n, const std::vector<char>* start,
                              const std::function<Verdict(const std::vector<char>&)>& test,
                              const std::function<bool()>& out_of_time);

struct ExactReport {
  Subsystem subsystem;
  std::vector<std::string> bounds;  // names of the variables whose bounds take part
};

// The report of a subsystem found by a solver, in the texts of the propagation report, with
// one line per bound after the constraint lines and `note` (when not empty) as a last line.
ExactReport describe(const std::vector<LinearRow>& rows, const std::vector<VariableRecord>& variables,
                     const std::vector<size_t>& positions, const std::vector<BoundMember>& bounds,
                     const std::string& note);

}  // namespace velmo::diagnostics
