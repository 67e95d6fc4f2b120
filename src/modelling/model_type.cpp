// Binding of Model: constructor, variables, objective, constraints, cones and properties.
#include "modelling/model_type.hpp"

#include "expr/expr_types.hpp"
#include "modelling/bulk_input.hpp"
#include "module/args.hpp"
#include "module/type_builder.hpp"
#include "results/diagnostics_binding.hpp"
#include "results/export_methods.hpp"
#include "results/model_files.hpp"
#include "solve/solve.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace velmo::binding {

using py::Ref;

PyTypeObject* model_type = nullptr;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

ModelCore& core_of(PyObject* self) { return reinterpret_cast<PyModel*>(self)->core; }

PyObject* model_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return py::guard([&] {
    // Bind through the vectorcall binder so messages match every other entry point.
    std::vector<PyObject*> flat;
    const Py_ssize_t nargs = PyTuple_Size(args);
    for (Py_ssize_t i = 0; i < nargs; ++i) flat.push_back(PyTuple_GetItem(args, i));
    Ref kwnames;
    if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
      kwnames = py::check(PyTuple_New(PyDict_Size(kwargs)));
      PyObject* key = nullptr;
      PyObject* value = nullptr;
      Py_ssize_t pos = 0;
      Py_ssize_t k = 0;
      while (PyDict_Next(kwargs, &pos, &key, &value)) {
        Py_INCREF(key);
        PyTuple_SetItem(kwnames.get(), k++, key);
        flat.push_back(value);
      }
    }
    py::Args a("Model", {"name"}, 0, flat.data(), nargs, kwnames.get());
    std::optional<std::string> name = a.optional_text(0);
    PyObject* o = PyType_GenericAlloc(type, 0);
    if (o == nullptr) throw py::ErrorAlreadySet{};
    ModelCore* core = &reinterpret_cast<PyModel*>(o)->core;
    new (core) ModelCore();
    if (name) core->data.name = std::move(*name);
    return o;
  });
}

void model_dealloc(PyObject* self) {
  core_of(self).~ModelCore();
  py::free_instance(self);
}

PyObject* model_repr(PyObject* self) {
  return py::guard([&] {
    std::string text;
    {
      ModelLock lock(core_of(self));
      const ModelData& d = lock.data();
      text = "Model('" + d.name + "', vars=" + std::to_string(d.variables.size()) +
             ", constraints=" + std::to_string(d.linear_constraints.size()) +
             ", type=" + problem_type_text(classify_problem(d)) + ")";
    }
    return py::str(text).release();
  });
}

// ---- variables

PyObject* add_one(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  const char* fname, VarKind kind) {
  return py::guard([&] {
    std::string name;
    double lower = -kInf;
    double upper = kInf;
    if (kind == VarKind::Binary) {
      py::Args a(fname, {"name"}, 1, args, nargs, kwnames);
      name = a.text(0);
    } else {
      py::Args a(fname, {"name", "lower", "upper"}, 1, args, nargs, kwnames);
      name = a.text(0);
      lower = a.real(1, -kInf);
      upper = a.real(2, kInf);
    }
    uint32_t index;
    {
      ModelLock lock(core_of(self));
      if (!lock.data().has_room_for(1)) {
        py::raise(PyExc_OverflowError, "a model holds at most 4294967296 variables");
      }
      index = lock.data().add_variable(name, lower, upper, kind);
    }
    return new_var(index, core_of(self).serial, std::move(name)).release();
  });
}

PyObject* m_variable(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_one(self, a, n, kw, "variable", VarKind::Continuous);
}
PyObject* m_integer(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_one(self, a, n, kw, "integer", VarKind::Integer);
}
PyObject* m_binary(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_one(self, a, n, kw, "binary", VarKind::Binary);
}

PyObject* add_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    const char* fname, VarKind kind) {
  return py::guard([&] {
    std::string prefix;
    uint64_t count = 0;
    const bool binary = kind == VarKind::Binary;
    py::Args a = binary ? py::Args(fname, {"prefix", "count", "names"}, 2, args, nargs, kwnames)
                        : py::Args(fname, {"prefix", "count", "lower", "upper", "names"}, 2, args, nargs, kwnames);
    prefix = a.text(0);
    count = a.count(1);
    // One number for all, or an array of `count` per-variable bounds; `names` replaces the
    // prefix naming with one given name per variable.
    const BoundArg lower(binary ? nullptr : a[2], count, -kInf, fname, "lower");
    const BoundArg upper(binary ? nullptr : a[3], count, kInf, fname, "upper");
    std::vector<std::string> given = given_names(a[binary ? 2 : 4], count, fname);
    std::vector<std::string> names;
    uint32_t first = 0;
    {
      ModelLock lock(core_of(self));
      ModelData& d = lock.data();
      if (!d.has_room_for(count)) {
        py::raise(PyExc_OverflowError, std::string(fname) +
                                           "(): count is too large: a model holds at most "
                                           "4294967296 variables");
      }
      first = static_cast<uint32_t>(d.variables.size());
      names.reserve(count);
      d.variables.reserve(d.variables.size() + count);
      std::string name = prefix + "_";
      const size_t stem = name.size();
      char digits[24];
      try {
        for (uint64_t k = 0; k < count; ++k) {
          if (given.empty()) {
            auto res = std::to_chars(digits, digits + sizeof digits, k);
            name.resize(stem);
            name.append(digits, res.ptr);
          } else {
            name = std::move(given[k]);
          }
          names.push_back(name);
          d.add_variable(name, lower[k], upper[k], kind);
        }
      } catch (...) {
        d.truncate_variables(first);  // a batch is added whole or not at all
        throw;
      }
    }
    Ref list = py::check(PyList_New(static_cast<Py_ssize_t>(count)));
    for (uint64_t k = 0; k < count; ++k) {
      Ref v = new_var(first + static_cast<uint32_t>(k), core_of(self).serial, std::move(names[k]));
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), v.release());
    }
    return list.release();
  });
}

PyObject* m_variables(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_batch(self, a, n, kw, "variables", VarKind::Continuous);
}
PyObject* m_integers(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_batch(self, a, n, kw, "integers", VarKind::Integer);
}
PyObject* m_binaries(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_batch(self, a, n, kw, "binaries", VarKind::Binary);
}

// ---- objective and constraints

PyObject* set_objective(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        const char* fname, ObjectiveSense sense) {
  return py::guard([&] {
    py::Args a(fname, {"expr"}, 1, args, nargs, kwnames);
    std::optional<Objective> objective = to_objective(classify(a[0]));
    require_model(model_of(a[0]), core_of(self).serial, fname, "the objective");
    {
      ModelLock lock(core_of(self));
      lock.data().objective.swap(objective);
      lock.data().sense = sense;
    }
    return py::new_none();  // the previous objective is released here, outside the lock
  });
}

PyObject* m_minimize(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return set_objective(self, a, n, kw, "minimize", ObjectiveSense::Minimize);
}
PyObject* m_maximize(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return set_objective(self, a, n, kw, "maximize", ObjectiveSense::Maximize);
}

PyObject* m_add(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("add", {"constraint", "name"}, 1, args, nargs, kwnames);
    if (Py_TYPE(a[0]) != constraint_type) py::raise_wrong_type(a[0], "add", "constraint", "Constraint");
    std::optional<std::string> name = a.optional_text(1);
    require_model(model_of(a[0]), core_of(self).serial, "add", "the constraint");
    ConstraintRecord record = reinterpret_cast<PyConstraint*>(a[0])->record;
    if (name) std::visit([&](auto& r) { r.name = OptionalName(*name); }, record);
    {
      ModelLock lock(core_of(self));
      ModelData& d = lock.data();
      if (auto* row = std::get_if<LinearRow>(&record)) {
        d.linear_constraints.push_back(std::move(*row));
      } else {
        d.nonlinear_constraints.push_back(std::get<NonlinearConstraint>(std::move(record)));
      }
    }
    return py::new_none();
  });
}

// The indices of a sequence of Var (any sequence but str).
// Every item must be a variable of the model `serial`.
std::vector<uint32_t> var_indices(PyObject* seq, const char* fname, const char* pname, ModelSerial serial) {
  if (PyUnicode_Check(seq) || !PySequence_Check(seq)) {
    py::raise_wrong_type(seq, fname, pname, "a sequence of Var");
  }
  const Py_ssize_t n = PySequence_Size(seq);
  if (n < 0) throw py::ErrorAlreadySet{};
  std::vector<uint32_t> out;
  out.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = py::check(PySequence_GetItem(seq, i));
    if (Py_TYPE(item.get()) != var_type) {
      py::raise(PyExc_TypeError, std::string(fname) + "(): argument '" + pname +
                                     "' must be a sequence of Var, but item " + std::to_string(i) +
                                     " is " + py::type_name(item.get()));
    }
    require_model(reinterpret_cast<PyVar*>(item.get())->model, serial, fname, "item " + std::to_string(i));
    out.push_back(reinterpret_cast<PyVar*>(item.get())->index);
  }
  return out;
}

PyObject* add_cone(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, bool psd) {
  return py::guard([&] {
    const char* fname = psd ? "add_psd_cone" : "add_soc_cone";
    const char* pname = psd ? "entries" : "vars";
    py::Args a(fname, {pname}, 1, args, nargs, kwnames);
    std::vector<uint32_t> indices = var_indices(a[0], fname, pname, core_of(self).serial);
    if (psd) {
      check_psd_cone(indices.size());
    } else {
      check_soc_cone(indices.size());
    }
    size_t position;
    {
      ModelLock lock(core_of(self));
      auto& cones = psd ? lock.data().psd_cones : lock.data().soc_cones;
      position = cones.size();
      cones.push_back(std::move(indices));
    }
    return py::check(PyLong_FromSize_t(position)).release();
  });
}

PyObject* m_add_soc_cone(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_cone(self, a, n, kw, false);
}
PyObject* m_add_psd_cone(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return add_cone(self, a, n, kw, true);
}

// ---- properties

PyObject* get_num_vars(PyObject* self, void*) {
  return py::guard([&] {
    size_t n;
    {
      ModelLock lock(core_of(self));
      n = lock.data().variables.size();
    }
    return py::check(PyLong_FromSize_t(n)).release();
  });
}

PyObject* get_num_constraints(PyObject* self, void*) {
  return py::guard([&] {
    size_t n;
    {
      ModelLock lock(core_of(self));
      n = lock.data().linear_constraints.size();
    }
    return py::check(PyLong_FromSize_t(n)).release();
  });
}

PyObject* get_problem_type(PyObject* self, void*) {
  return py::guard([&] {
    ProblemType t;
    {
      ModelLock lock(core_of(self));
      t = classify_problem(lock.data());
    }
    return py::str(problem_type_text(t)).release();
  });
}

#define VELMO_METHOD(name, impl, doc) {name, py::fastcall<impl>(), py::kFastcallFlags, doc}

PyMethodDef model_methods[] = {
    VELMO_METHOD("variable", m_variable,
                 "variable($self, name, lower=..., upper=...)\n--\n\nAdd a continuous variable."),
    VELMO_METHOD("integer", m_integer,
                 "integer($self, name, lower=..., upper=...)\n--\n\nAdd an integer variable."),
    VELMO_METHOD("binary", m_binary, "binary($self, name)\n--\n\nAdd a binary variable."),
    VELMO_METHOD("minimize", m_minimize,
                 "minimize($self, expr)\n--\n\nSet the objective to minimize. Accepts Var, Expr, or QuadExpr."),
    VELMO_METHOD("maximize", m_maximize,
                 "maximize($self, expr)\n--\n\nSet the objective to maximize. Accepts Var, Expr, or QuadExpr."),
    VELMO_METHOD("add", m_add,
                 "add($self, constraint, name=None)\n--\n\n"
                 "Add a constraint. Accepts a Constraint object, with optional name."),
    VELMO_METHOD("add_soc_cone", m_add_soc_cone,
                 "add_soc_cone($self, vars)\n--\n\n"
                 "Declare a first-class second-order (Lorentz) cone (v0.1).\n"
                 "\n"
                 "``vars = [head, x_1, \u2026, x_k]`` imposes ``head >= ||(x_1,\u2026,x_k)||_2``.\n"
                 "A model with any cone is conic and is solved through Clarabel\n"
                 "(``SecondOrderConeT``) automatically \u2014 no explicit ``solver=\"clarabel\"``\n"
                 "needed. Combine with a quadratic/linear objective for SOCP."),
    VELMO_METHOD("add_psd_cone", m_add_psd_cone,
                 "add_psd_cone($self, entries)\n--\n\n"
                 "Declare a first-class positive-semidefinite cone (v0.1): ``X \u2ab0 0``.\n"
                 "\n"
                 "``entries`` are the variables of the **upper-triangle, column-major**\n"
                 "svec of the symmetric d\u00d7d matrix ``X``, in the order\n"
                 "``[X00, X01, X11, X02, X12, X22, \u2026]`` (length ``d(d+1)/2``). A model with\n"
                 "any cone auto-routes to Clarabel (``PSDTriangleConeT(d)``). The off-\n"
                 "diagonal entries are \u221a2-scaled internally per Clarabel's convention."),
    VELMO_METHOD("add_matrix", model_add_matrix,
                 "add_matrix($self, A, variables, sense, rhs, name=None)\n--\n\n"
                 "Add one linear constraint per row of A (a NumPy array or a scipy.sparse\n"
                 "matrix): A[i] @ variables <sense> rhs[i]. `sense` is \"<=\", \">=\" or \"==\"\n"
                 "or one per row; `rhs` a number or one per row; `name` None, a stem\n"
                 "(rows named stem_0, stem_1, ...) or one name per row. Returns the\n"
                 "positions of the new rows as a range."),
    VELMO_METHOD("variables", m_variables,
                 "variables($self, prefix, count, lower=..., upper=...)\n--\n\n"
                 "Batch-add continuous variables. Returns a list of Var objects.\n"
                 "Much faster than calling variable() in a loop for large models."),
    VELMO_METHOD("integers", m_integers,
                 "integers($self, prefix, count, lower=..., upper=...)\n--\n\nBatch-add integer variables."),
    VELMO_METHOD("binaries", m_binaries,
                 "binaries($self, prefix, count)\n--\n\nBatch-add binary variables."),
    VELMO_METHOD("solve", model_solve,
                 "solve($self, **kwargs)\n--\n\n"
                 "Solve the model. Auto-detects problem type and selects best solver.\n"
                 "\n"
                 "Options:\n"
                 "  solver: str \u2014 force a specific solver (\"highs\", \"osqp\", \"scipy\")\n"
                 "  time_limit: float \u2014 seconds\n"
                 "  gap: float \u2014 MIP gap tolerance\n"
                 "  verbose: bool \u2014 solver output\n"
                 "  threads: int \u2014 number of threads\n"
                 "  warm_start: Result \u2014 previous solution for warm starting\n"
                 "  presolve: bool \u2014 run presolve (default True)"),
    VELMO_METHOD("validate", model_validate,
                 "validate($self)\n--\n\nValidate the model before solving. Returns list of warning dicts."),
    VELMO_METHOD("to_lp", model_to_lp, "to_lp($self)\n--\n\nExport the model to LP format string."),
    VELMO_METHOD("to_python", model_to_python,
                 "to_python($self)\n--\n\nGenerate standalone Python code that recreates this model."),
    VELMO_METHOD("write", model_write,
                 "write($self, path)\n--\n\n"
                 "Write the model to a file chosen by its suffix: .lp (the to_lp text) or\n"
                 ".mps (written by HiGHS). Models with parts neither format holds\n"
                 "(nonlinear terms, cones) are refused; so are non-finite numbers in .lp."),
    VELMO_METHOD("summary", model_summary, "summary($self)\n--\n\nGet a human-readable model summary."),
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef model_getset[] = {
    {"num_vars", get_num_vars, nullptr, "Number of variables.", nullptr},
    {"num_constraints", get_num_constraints, nullptr, "Number of constraints.", nullptr},
    {"problem_type", get_problem_type, nullptr, "Detected problem type.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

void* fn(auto f) { return reinterpret_cast<void*>(f); }

}  // namespace

PyTypeObject* make_model_type() {
  return py::build_type(
      "velmo_opt.Model", sizeof(PyModel), Py_TPFLAGS_DEFAULT,
      {{Py_tp_doc, const_cast<char*>("Model(name=None)\n--\n\nThe main Model class exposed to Python.")},
       {Py_tp_new, fn(model_new)},
       {Py_tp_dealloc, fn(model_dealloc)},
       {Py_tp_repr, fn(model_repr)},
       {Py_tp_methods, model_methods},
       {Py_tp_getset, model_getset}});
}

}  // namespace velmo::binding
