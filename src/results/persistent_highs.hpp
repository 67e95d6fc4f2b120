// The Python class PersistentHighs: one HiGHS model kept loaded between solves, changed in
// place, with mirrors of the bounds and costs it holds.
#pragma once

#include "module/py.hpp"

namespace velmo::binding {

extern PyTypeObject* persistent_highs_type;
PyTypeObject* make_persistent_highs_type();

}  // namespace velmo::binding
