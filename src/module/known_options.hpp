// The keyword options each **kwargs function reads, and the warning for any other key.
#pragma once

#include "module/py.hpp"

#include <string_view>

namespace velmo::binding {

// Emits one UserWarning per key of `kwargs` (may be null) that `function` never reads, naming
// the key and listing the keys it knows; the call then goes on without it. `function` is a
// name of the table in known_options.cpp ("Model.solve", "solve_de", ...). Warning filters
// run Python code (and may raise, under -W error): call it with no lock held.
void warn_unknown_options(PyObject* kwargs, std::string_view function);

// Emits a UserWarning when `solver` (lower-cased) has no adapter of its own: Model.solve
// then runs HiGHS, its default entry.
void warn_unknown_solver(std::string_view solver);

}  // namespace velmo::binding
