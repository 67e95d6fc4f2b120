// Result.ranging and the HiGHS calls behind solve(ranging=True).
#pragma once

#include "module/py.hpp"
#include "results/ranging.hpp"
#include "solve/model.hpp"

#include <memory>

namespace velmo {

// HiGHS's ranging of the run that `highs` just finished, read with its basis and `solution`;
// null for a model that is not a linear program, or when HiGHS gives no ranging.
std::shared_ptr<const diagnostics::RawRanging> read_highs_ranging(PyObject* highs, const CompiledModel& c,
                                                                  PyObject* solution);

namespace binding {

extern const char* const kRangingDoc;
PyObject* result_ranging(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace binding
}  // namespace velmo
