// The HiGHS adapter: loads a compiled model into highspy.Highs, runs it, reads it back.
#pragma once

#include "module/py.hpp"
#include "solve/model.hpp"
#include "solve/records.hpp"

#include <string_view>

namespace velmo {

BackendOutcome solve_highs(const CompiledModel& c, const SolveOptions& options);

// Shared with the persistent HiGHS model: the status words, the thread-count guard and the
// column/row/Hessian loading sequence.
SolveStatus map_highs_status(std::string_view lowered) noexcept;
void apply_thread_guard(PyObject* highs, uint32_t threads);
// False when HiGHS refused part of the model (or it holds NaN data): nothing may be run then.
[[nodiscard]] bool load_into_highs(PyObject* highs, PyObject* highspy, PyObject* numpy, const CompiledModel& c);

}  // namespace velmo
