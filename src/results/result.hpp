// The Python class Result: an immutable record of one solve.
#pragma once

#include "modelling/model_data.hpp"
#include "module/py.hpp"
#include "solve/records.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmo::binding {

struct ResultRecord {
  SolveStatus status = SolveStatus::Unknown;
  std::optional<double> objective;
  double solve_time = 0.0;
  std::string solver;
  std::optional<uint64_t> iterations;
  std::optional<uint64_t> nodes;
  std::optional<double> gap;
  std::optional<std::vector<double>> primals;
  std::optional<std::vector<double>> duals;
  // The stored constraint of each dual when rows were eliminated before the solve; empty
  // when dual i belongs to constraint i.
  std::vector<uint32_t> dual_rows;
  py::Ref basis;
  // The model's variables and rows at solve time, shared with the model (which copies its
  // own arrays before it next changes them), so a solve copies none of them. `named` gives
  // `var_names`; `constraints` and `variables` are the model data for the diagnostics, empty
  // when absent (the one-line functions keep names but no model data).
  SharedArray<VariableRecord> named;
  SharedArray<LinearRow> constraints;
  SharedArray<VariableRecord> variables;
  std::shared_ptr<const diagnostics::RawRanging> ranging;
  // The model the solve came from (its serial, no reference): value(), why() and
  // why_detail() refuse another model's Var. kNoModel when no variable was involved.
  ModelSerial model = kNoModel;

  size_t num_var_names() const noexcept { return named.size(); }
  const std::string& var_name(size_t i) const noexcept { return named[i].name; }
};

// The stored model data, read only through these two (the additions' one point of contact
// with how a Result keeps its copies).
inline const std::vector<LinearRow>& stored_rows(const ResultRecord& r) noexcept { return r.constraints.get(); }
inline const std::vector<VariableRecord>& stored_variables(const ResultRecord& r) noexcept { return r.variables.get(); }

struct PyResult {
  PyObject ob_base;
  ResultRecord record;
};

extern PyTypeObject* result_type;
PyTypeObject* make_result_type();

// A record from an adapter's outcome; the caller adds names and model data.
ResultRecord record_from(BackendOutcome&& outcome);

// Raises ValueError when `var` (a Var) is not a variable of the model the result came from:
// its index would name another variable of this result.
void require_result_model(const ResultRecord& r, PyObject* var, const char* fname);
py::Ref new_result(ResultRecord&& record);

}  // namespace velmo::binding
