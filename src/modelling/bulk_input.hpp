// Model input in bulk from NumPy arrays and scipy.sparse matrices: Model.add_matrix and the
// per-variable bound arrays of the batch variable methods.
#pragma once

#include "module/py.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace velmo::binding {

PyObject* model_add_matrix(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// A batch method's `lower` or `upper`: one number for every variable, or an array-like of
// `count` numbers. Absent (nullptr) gives `fallback`.
class BoundArg {
 public:
  BoundArg(PyObject* o, uint64_t count, double fallback, const char* fname, const char* pname);
  double operator[](uint64_t k) const noexcept { return per_var_.empty() ? one_ : per_var_[k]; }

 private:
  double one_ = 0.0;
  std::vector<double> per_var_;
};

// A batch method's `names`: None or absent gives no names (prefix naming), otherwise a
// sequence of exactly `count` str.
std::vector<std::string> given_names(PyObject* o, uint64_t count, const char* fname);

}  // namespace velmo::binding
