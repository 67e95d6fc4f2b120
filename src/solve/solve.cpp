// Model.solve: read options, compile, classify, choose and run an adapter, wrap the outcome.
#include "solve/solve.hpp"

#include "modelling/model_type.hpp"
#include "module/args.hpp"
#include "module/known_options.hpp"
#include "results/result.hpp"
#include "solve/arrays.hpp"
#include "expr/expr_types.hpp"
#include "module/type_builder.hpp"
#include "solve/clarabel_adapter.hpp"
#include "solve/dispatch.hpp"
#include "solve/highs_adapter.hpp"
#include "solve/ipopt_adapter.hpp"
#include "solve/osqp_adapter.hpp"
#include "solve/slsqp_adapter.hpp"

#include <cmath>
#include <limits>

namespace velmo::binding {

using py::Ref;

namespace {

struct SolveRequest {
  SolveOptions options;
  std::optional<std::string> solver;          // lower-cased
  std::optional<int64_t> time_limit_maxiter;  // the SLSQP iteration cap
};

// A warm start: a Result's primal values, or any sequence of numbers; anything else (a
// string included) counts as no warm start.
std::optional<std::vector<double>> read_warm_start(PyObject* v) {
  if (Py_TYPE(v) == result_type) return reinterpret_cast<PyResult*>(v)->record.primals;
  if (PyUnicode_Check(v) || !PySequence_Check(v)) return std::nullopt;
  try {
    return pycall::to_doubles(v);
  } catch (const py::ErrorAlreadySet&) {
    py::clear_error();
    return std::nullopt;
  }
}

SolveRequest read_options(PyObject* kwargs) {
  SolveRequest req;
  SolveOptions& o = req.options;
  if (kwargs == nullptr) return req;
  auto get = [kwargs](const char* key) { return PyDict_GetItemString(kwargs, key); };
  const char* fn = "solve";
  if (PyObject* v = get("time_limit")) {
    o.time_limit = usable_time_limit(py::to_real(v, fn, "time_limit"));
    req.time_limit_maxiter = slsqp_iteration_cap(*o.time_limit);
  }
  if (PyObject* v = get("gap")) o.gap = py::to_real(v, fn, "gap");
  if (PyObject* v = get("verbose")) o.verbose = py::to_bool(v, fn, "verbose");
  if (PyObject* v = get("threads")) o.threads = py::to_u32(v, fn, "threads");
  if (PyObject* v = get("solver")) {
    py::to_text(v, fn, "solver");
    req.solver = pycall::lower_text(v);
  }
  if (PyObject* v = get("warm_start")) o.warm_start = read_warm_start(v);
  bool presolve = true;
  if (PyObject* v = get("presolve")) presolve = py::to_bool(v, fn, "presolve");
  if (PyObject* v = get("solver_method")) o.solver_method = py::to_text(v, fn, "solver_method");
  if (PyObject* v = get("run_crossover")) o.run_crossover = py::to_text(v, fn, "run_crossover");
  if (PyObject* v = get("parallel")) o.parallel = py::to_text(v, fn, "parallel");
  if (PyObject* v = get("scale_cleanup")) o.scale_cleanup = py::to_bool(v, fn, "scale_cleanup");
  if (PyObject* v = get("simplex_scale_strategy")) {
    o.simplex_scale_strategy = py::to_i32(v, fn, "simplex_scale_strategy");
  }
  if (PyObject* v = get("eliminate_redundant")) {
    o.eliminate_redundant = py::to_bool(v, fn, "eliminate_redundant");
  }
  if (PyObject* v = get("basis")) o.basis = Ref::borrow(v);
  if (PyObject* v = get("ranging")) o.ranging = py::to_bool(v, fn, "ranging");
  o.presolve = presolve && !o.basis;
  return req;
}

// A warm start with more values than the model has variables belongs to another model.
void check_warm_start(const SolveOptions& o, const CompiledModel& c) {
  if (o.warm_start && o.warm_start->size() > c.num_cols) {
    py::raise(PyExc_ValueError, "warm_start has " + std::to_string(o.warm_start->size()) +
                                    " values but the model has " + std::to_string(c.num_cols) + " variables");
  }
}

// The answer for a model with numbers no solver can take: status "error", nothing solved.
BackendOutcome refused_outcome(const std::string& solver) {
  BackendOutcome out;
  out.solver = solver_display_name(solver);
  out.status = SolveStatus::Error;
  return out;
}

std::string choose_solver(const SolveRequest& req, const ModelData& d) {
  std::string solver = req.solver ? *req.solver : automatic_solver(d);
  // A solver that would drop the model's cones or nonlinear terms would answer for another
  // problem, so the solve is refused before anything runs.
  if (std::optional<std::string> why = refusal(solver, d)) py::raise(PyExc_ValueError, std::move(*why));
  return solver;
}

// Small integer models first try their LP relaxation: when it comes out integral there is
// nothing left to branch on.
std::optional<BackendOutcome> try_relaxation(const CompiledModel& c, const SolveOptions& o) {
  BackendOutcome out;
  try {
    out = solve_highs(relaxation_of(c), o);
  } catch (const py::ErrorAlreadySet&) {
    py::clear_error();  // a stop request (Ctrl-C) during the relaxation ends the solve
    return std::nullopt;
  } catch (const py::Raise&) {
    return std::nullopt;
  }
  if (out.status != SolveStatus::Optimal || !out.primals) return std::nullopt;
  std::vector<double>& x = *out.primals;
  for (size_t j = 0; j < c.num_cols; ++j) {
    if (c.integrality[j] != 0 && !(std::fabs(x[j] - std::round(x[j])) <= 1e-6)) return std::nullopt;
  }
  for (size_t j = 0; j < c.num_cols; ++j) {
    if (c.integrality[j] != 0) x[j] = std::round(x[j]) + 0.0;  // + 0.0: -1e-9 rounds to 0, not -0
  }
  out.nodes = 0;
  out.gap = 0.0;
  out.duals.reset();
  out.ranging.reset();  // ranging belongs to an LP, not to the integer model it stands in for
  return out;
}

bool relaxation_applies(const CompiledModel& c, const std::string& solver, const SolveRequest& req,
                        const ModelData& d) {
  if (c.num_cols > 4000 || !c.has_integer_column()) return false;
  // Bonmin chosen for a mixed-integer QP lets the relaxation try first, as HiGHS would; asked
  // for by name it runs itself, and the compiled form of a nonlinear model lacks its
  // nonlinear part, so HiGHS cannot relax that.
  if (solver == "bonmin" && (req.solver || needs_expressions(d))) return false;
  for (const char* other : {"clarabel", "scipy", "slsqp", "ipopt", "osqp"}) {
    if (solver == other) return false;
  }
  return true;
}

BackendOutcome dispatch(const std::string& solver, const CompiledModel& c, const SolveRequest& req,
                        const ModelData& d) {
  if (solver == "osqp") return solve_osqp(c, req.options);
  if (solver == "scipy" || solver == "slsqp") return solve_slsqp(c, req.options, req.time_limit_maxiter);
  if (solver == "ipopt") return solve_ipopt(c, req.options, needs_expressions(d) ? &d : nullptr);
  if (solver == "clarabel") return solve_clarabel(c, req.options);
  if (solver == "bonmin") return solve_nlp(c, req.options, needs_expressions(d) ? &d : nullptr, NlpSolver::Bonmin);
  // HiGHS is the default entry: every name without an adapter of its own runs it.
  return solve_highs(c, req.options);
}

// The constraints argument of the one-line functions: None or a sequence of Constraint, all
// over the variables of one model (`model` holds the objective's serial on entry and the
// serial of the whole problem on return).
std::vector<ConstraintRecord> constraint_records(PyObject* seq, const char* fname, ModelSerial& model) {
  std::vector<ConstraintRecord> out;
  if (seq == nullptr || seq == Py_None) return out;
  if (PyUnicode_Check(seq) || !PySequence_Check(seq)) {
    py::raise_wrong_type(seq, fname, "constraints", "a sequence of Constraint");
  }
  const Py_ssize_t n = PySequence_Size(seq);
  if (n < 0) throw py::ErrorAlreadySet{};
  out.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = py::check(PySequence_GetItem(seq, i));
    if (Py_TYPE(item.get()) != constraint_type) {
      py::raise(PyExc_TypeError, std::string(fname) +
                                     "(): argument 'constraints' must be a sequence of Constraint, but item " +
                                     std::to_string(i) + " is " + py::type_name(item.get()));
    }
    const ModelSerial own = reinterpret_cast<PyConstraint*>(item.get())->model;
    if (combine_models(model, own) == kMixedModels) {
      const bool first = model == kNoModel;  // the item mixes two models by itself
      py::raise(PyExc_ValueError,
                std::string(fname) + "(): constraint " + std::to_string(i) + " holds variables of another model" +
                    (first ? " (it mixes the variables of two models)" : " than the objective and the constraints before it") +
                    "; a problem takes the variables of one model only");
    }
    model = combine_models(model, own);
    out.push_back(reinterpret_cast<PyConstraint*>(item.get())->record);
  }
  return out;
}

// Misspelt options and solver names would otherwise be ignored without a word. Warnings
// run Python code, so this happens before the model's lock is taken.
void warn_before_solve(PyObject* kwargs) {
  if (kwargs == nullptr) return;
  warn_unknown_options(kwargs, "Model.solve");
  PyObject* solver = PyDict_GetItemString(kwargs, "solver");
  if (solver != nullptr && PyUnicode_Check(solver)) warn_unknown_solver(pycall::lower_text(solver));
}

PyObject* solve_one_line(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const char* fname,
                         ObjectiveSense sense) {
  return py::guard([&] {
    py::Args a(fname, {"objective", "constraints"}, 1, args, nargs, kwnames, /*collect_kwargs=*/true);
    warn_unknown_options(a.kwargs(), fname);
    Objective objective = to_objective(classify(a[0]));
    ModelSerial model = model_of(a[0]);
    if (model == kMixedModels) {
      py::raise(PyExc_ValueError, std::string(fname) +
                                      "(): the objective holds variables of another model (it mixes the "
                                      "variables of two models); a problem takes the variables of one model only");
    }
    ModelData m = quick_model(std::move(objective), sense, constraint_records(a[1], fname, model));
    CompiledModel c = compile_model(m);
    SolveOptions o;
    if (PyObject* kwargs = a.kwargs()) {
      if (PyObject* v = PyDict_GetItemString(kwargs, "verbose")) o.verbose = py::to_bool(v, fname, "verbose");
      if (PyObject* v = PyDict_GetItemString(kwargs, "time_limit")) {
        o.time_limit = usable_time_limit(py::to_real(v, fname, "time_limit"));
      }
    }
    // HiGHS would leave nonlinear constraints out and answer for another problem, so a
    // nonlinear throw-away model goes to Ipopt.
    const ProblemType type = classify_problem(m);
    const char* solver = type == ProblemType::QP ? "osqp" : type == ProblemType::NLP ? "ipopt" : "highs";
    BackendOutcome outcome = has_unusable_numbers(c)    ? refused_outcome(solver)
                             : type == ProblemType::QP  ? solve_osqp(c, o)
                             : type == ProblemType::NLP ? solve_ipopt(c, o, &m)
                                                        : solve_highs(c, o);
    ResultRecord record = record_from(std::move(outcome));
    record.named = SharedArray<VariableRecord>(m.variables.snapshot());
    record.model = model;
    return new_result(std::move(record)).release();
  });
}

PyObject* fn_minimize(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return solve_one_line(args, nargs, kwnames, "minimize", ObjectiveSense::Minimize);
}
PyObject* fn_maximize(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return solve_one_line(args, nargs, kwnames, "maximize", ObjectiveSense::Maximize);
}

}  // namespace

PyObject* model_solve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("solve", {}, 0, args, nargs, kwnames, /*collect_kwargs=*/true);
    // Unknown keys warn before the lock; the warnings may run Python code (filters, -W error).
    warn_before_solve(a.kwargs());
    // Options are converted before the model's lock is taken: a conversion may run Python code
    // (__float__, a warm start's items) that uses another model, whose solve may be waiting
    // for this one.
    const SolveRequest req = read_options(a.kwargs());
    ResultRecord record;
    {
      ModelLock lock(reinterpret_cast<PyModel*>(self)->core);
      const ModelData& d = lock.data();
      CompiledModel c = compile_model(d);
      if (req.options.scale_cleanup) scale_cleanup(c);
      if (req.options.eliminate_redundant) eliminate_redundant_rows(c, req.options.verbose);
      const std::string solver = choose_solver(req, d);
      check_warm_start(req.options, c);
      std::optional<BackendOutcome> outcome;
      if (has_unusable_numbers(c)) outcome = refused_outcome(solver);
      if (!outcome && relaxation_applies(c, solver, req, d)) outcome = try_relaxation(c, req.options);
      if (!outcome) outcome = dispatch(solver, c, req, d);
      record = record_from(std::move(*outcome));
      record.named = SharedArray<VariableRecord>(d.variables.snapshot());
      record.variables = record.named;
      record.constraints = SharedArray<LinearRow>(d.linear_constraints.snapshot());
      record.model = reinterpret_cast<PyModel*>(self)->core.serial;
      if (c.num_rows != d.linear_constraints.size()) record.dual_rows = c.row_origin;
    }
    return new_result(std::move(record)).release();
  });
}

PyMethodDef minimize_def = {
    "minimize", py::fastcall<fn_minimize>(), py::kFastcallFlags,
    "minimize(objective, constraints=None, **kwargs)\n--\n\n"
    "Solve a minimization problem in one line.\n"
    "Usage: result = minimize(objective_expr, [constraint1, constraint2, ...])"};
PyMethodDef maximize_def = {"maximize", py::fastcall<fn_maximize>(), py::kFastcallFlags,
                            "maximize(objective, constraints=None, **kwargs)\n--\n\n"
                            "Solve a maximization problem in one line."};

}  // namespace velmo::binding
