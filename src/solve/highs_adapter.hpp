// The HiGHS adapter: loads a compiled model into highspy.Highs, runs it, reads it back.
#pragma once

#include "module/py.hpp"
#include "solve/model.hpp"
#include "solve/records.hpp"

#include <optional>
#include <string_view>
#include <vector>

namespace velmo {

BackendOutcome solve_highs(const CompiledModel& c, const SolveOptions& options);

// Shared with the persistent HiGHS model: the status words, the thread-count guard and the
// column/row/Hessian loading sequence.
SolveStatus map_highs_status(std::string_view lowered) noexcept;
void apply_thread_guard(PyObject* highs, uint32_t threads);
void set_highs_option(PyObject* highs, const char* name, PyObject* value);
// Whether a HighsStatus answer is kError: the data was not taken (kWarning is HiGHS
// dropping tiny entries, which it always did).
bool highs_refused(PyObject* status);
// False when HiGHS refused part of the model (or it holds NaN data): nothing may be run then.
[[nodiscard]] bool load_into_highs(PyObject* highs, PyObject* highspy, PyObject* numpy, const CompiledModel& c);

// What a finished run found: the objective v of the minimisation form (no constant), the
// solution object and its column values. Nothing when the run found no point.
struct HighsPoint {
  double objective = 0.0;
  py::Ref solution;
  std::vector<double> primals;
};
std::optional<HighsPoint> read_highs_point(PyObject* highs, size_t num_cols);
// An integer info value; nothing when HiGHS does not answer with one.
std::optional<uint64_t> highs_info_count(PyObject* highs, const char* name);

}  // namespace velmo
