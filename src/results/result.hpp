// The Python class Result: an immutable record of one solve.
#pragma once

#include "modelling/model_data.hpp"
#include "module/py.hpp"
#include "solve/records.hpp"

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
  std::vector<std::string> var_names;
  std::vector<LinearRow> constraints;   // model data for the diagnostics; empty when absent
  std::vector<VariableRecord> variables;
  // The model the solve came from (its serial, no reference): value(), why() and
  // why_detail() refuse another model's Var. kNoModel when no variable was involved.
  ModelSerial model = kNoModel;
};

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
