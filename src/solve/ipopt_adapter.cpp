// Ipopt adapter: CasADi expressions for the objective and the constraints, nlpsol with the
// Ipopt plug-in, the status map and the outcome.
#include "solve/ipopt_adapter.hpp"

#include "expr/errors.hpp"
#include "module/args.hpp"
#include "solve/arrays.hpp"
#include "solve/sparse.hpp"

#include <cmath>
#include <limits>
#include <unordered_map>

namespace velmo {

using py::Ref;
using namespace pycall;

SolveStatus map_ipopt_status(std::string_view s) noexcept {
  if (s == "Solve_Succeeded" || s == "Solved_To_Acceptable_Level") return SolveStatus::Optimal;
  if (s == "Infeasible_Problem_Detected") return SolveStatus::Infeasible;
  if (s == "Unbounded" || s == "Diverging_Iterates") return SolveStatus::Unbounded;
  if (s == "Maximum_CpuTime_Exceeded" || s == "Maximum_WallTime_Exceeded") return SolveStatus::TimeLimit;
  if (s == "Maximum_Iterations_Exceeded") return SolveStatus::IterationLimit;
  return SolveStatus::Unknown;
}

void check_nonlinear_indices(const ModelData& m, size_t num_cols) {
  auto check = [num_cols](const NlExpr& g, const char* where) {
    const std::optional<uint32_t> top = max_var_index(g);
    if (top && *top >= num_cols) {
      throw InvalidInput{"variable index " + std::to_string(*top) + " in the " + where +
                         " is outside this model, which has " + std::to_string(num_cols) +
                         " variables: the expression was built from another model's variables"};
    }
  };
  if (m.objective) {
    if (const auto* g = std::get_if<NlExpr>(&*m.objective)) check(*g, "objective");
  }
  for (const NonlinearConstraint& c : m.nonlinear_constraints) check(c.expr, "nonlinear constraints");
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Builds CasADi expressions from expression trees. Every node is translated once, however
// often it is shared, and without recursion, so deep trees cannot exhaust the stack.
class Translator {
 public:
  Translator(PyObject* casadi, PyObject* x, size_t n) : casadi_(casadi) {
    Ref parts = call_method(casadi, "vertsplit", x);
    elements_ = py::check(PySequence_List(parts.get()));
    if (static_cast<size_t>(PyList_Size(elements_.get())) != n) {
      py::raise(PyExc_RuntimeError, "casadi.vertsplit did not give one element per variable");
    }
    dm_ = attr(casadi, "DM");
    sin_ = attr(casadi, "sin");
    cos_ = attr(casadi, "cos");
    sqrt_ = attr(casadi, "sqrt");
  }

  Ref constant(double v) { return call(dm_.get(), py::float_obj(v).get()); }

  Ref node(const NodeRef& root) {
    if (root.kind() == NodeKind::Var) return variable(root.var_index());
    std::vector<const NodeRef*> stack{&root};
    while (!stack.empty()) {
      const NodeRef& top = *stack.back();
      if (done(top)) {
        stack.pop_back();
        continue;
      }
      const int arity = arity_of(top.kind());
      bool ready = true;
      // Right child pushed first so that the left one is translated first.
      for (int i = arity - 1; i >= 0; --i) {
        if (!done(top.child(i))) {
          stack.push_back(&top.child(i));
          ready = false;
        }
      }
      if (!ready) continue;
      memo_.emplace(top.id(), build(top));
      stack.pop_back();
    }
    return memo_.at(root.id()).copy();
  }

  // The sum of an expression's weighted trees, or nullptr-Ref when it has none.
  Ref terms(const std::vector<NlTerm>& list) {
    Ref acc;
    for (const NlTerm& t : list) {
      Ref term = node(t.node);
      if (!(std::fabs(t.coef - 1.0) < 1e-15)) {
        term = py::check(PyNumber_Multiply(term.get(), py::float_obj(t.coef).get()));
      }
      acc = acc ? py::check(PyNumber_Add(acc.get(), term.get())) : std::move(term);
    }
    return acc;
  }

 private:
  static int arity_of(NodeKind k) noexcept {
    switch (k) {
      case NodeKind::Var:
      case NodeKind::Const: return 0;
      case NodeKind::Add:
      case NodeKind::Mul:
      case NodeKind::Div: return 2;
      default: return 1;
    }
  }

  bool done(const NodeRef& r) const { return r.kind() == NodeKind::Var || memo_.count(r.id()) != 0; }

  Ref variable(uint32_t j) { return Ref::borrow(PyList_GetItem(elements_.get(), static_cast<Py_ssize_t>(j))); }

  Ref operand(const NodeRef& r) {
    if (r.kind() == NodeKind::Var) return variable(r.var_index());
    return memo_.at(r.id()).copy();
  }

  Ref build(const NodeRef& r) {
    switch (r.kind()) {
      case NodeKind::Const: return constant(r.value());
      case NodeKind::Neg: return py::check(PyNumber_Negative(operand(r.child(0)).get()));
      case NodeKind::Add: return py::check(PyNumber_Add(operand(r.child(0)).get(), operand(r.child(1)).get()));
      case NodeKind::Mul:
        return py::check(PyNumber_Multiply(operand(r.child(0)).get(), operand(r.child(1)).get()));
      case NodeKind::Div:
        return py::check(PyNumber_TrueDivide(operand(r.child(0)).get(), operand(r.child(1)).get()));
      case NodeKind::Sin: return call(sin_.get(), operand(r.child(0)).get());
      case NodeKind::Cos: return call(cos_.get(), operand(r.child(0)).get());
      case NodeKind::Sqrt: return call(sqrt_.get(), operand(r.child(0)).get());
      case NodeKind::Var: break;
    }
    return variable(r.var_index());
  }

  PyObject* casadi_;
  Ref elements_, dm_, sin_, cos_, sqrt_;
  std::unordered_map<uintptr_t, Ref> memo_;
};

// casadi.DM with the given sparsity pattern and values: matrices stay sparse on CasADi's
// side, whatever their size.
Ref sparse_dm(PyObject* casadi, PyObject* numpy, size_t rows, size_t cols, std::span<const int32_t> start,
              std::span<const int32_t> index, std::span<const double> value) {
  Ref r = py::check(PyLong_FromSize_t(rows));
  Ref c = py::check(PyLong_FromSize_t(cols));
  Ref pattern = call_method(casadi, "Sparsity", r.get(), c.get(), numpy_array(numpy, start).get(),
                            numpy_array(numpy, index).get());
  return call_method(casadi, "DM", pattern.get(), numpy_array(numpy, value).get());
}

// The linear parts of several expressions as one sparse matrix times x.
Ref linear_rows(PyObject* casadi, PyObject* numpy, PyObject* x, const std::vector<const TermMap*>& maps,
                size_t n) {
  std::vector<Entry> entries;
  for (size_t i = 0; i < maps.size(); ++i) {
    for (const Term& t : *maps[i]) entries.push_back({static_cast<uint32_t>(i), t.index, t.coef});
  }
  const Csc l = csc_from_entries(entries, maps.size(), n);
  Ref matrix = sparse_dm(casadi, numpy, maps.size(), n, l.start, l.index, l.value);
  return call_method(casadi, "mtimes", matrix.get(), x);
}

std::vector<double> finite_or(const std::vector<double>& v, double fill) {
  std::vector<double> out(v);
  for (double& d : out) {
    if (!std::isfinite(d)) d = fill;
  }
  return out;
}

void put(PyObject* dict, const char* key, PyObject* value) {
  py::check_status(PyDict_SetItemString(dict, key, value));
}

// CasADi refuses bounds that leave nothing feasible (lower above upper, a lower bound of +inf
// or an upper one of -inf) with an exception; for the model they are plain infeasibility.
bool crossed(const std::vector<double>& lower, const std::vector<double>& upper) noexcept {
  for (size_t i = 0; i < lower.size(); ++i) {
    if (lower[i] > upper[i] || lower[i] == kInf || upper[i] == -kInf) return true;
  }
  return false;
}

}  // namespace

BackendOutcome solve_ipopt(const CompiledModel& c, const SolveOptions& o, const ModelData* model) {
  const size_t n = c.num_cols;
  if (model) check_nonlinear_indices(*model, n);
  GilEnsure gil;
  Ref time = import("time");
  const double t0 = perf_counter(time.get());
  PyObject* imported = PyImport_ImportModule("casadi");
  if (imported == nullptr && model != nullptr) {
    PyErr_Clear();
    py::raise(PyExc_ImportError, "casadi is required for NLP (nonlinear) models. Install with `pip install casadi`.");
  }
  Ref casadi = py::check(imported);
  Ref numpy = import("numpy");

  Ref size = py::check(PyLong_FromSize_t(n));
  Ref x = call_method(attr(casadi.get(), "SX").get(), "sym", py::str("x").get(), size.get());
  Translator tr(casadi.get(), x.get(), n);

  // Objective.
  const NlExpr* nl_objective = nullptr;
  if (model && model->objective) {
    const auto* g = std::get_if<NlExpr>(&*model->objective);
    if (g && !g->terms.empty()) nl_objective = g;
  }
  Ref f;
  if (nl_objective) {
    f = py::check(PyNumber_Add(tr.constant(nl_objective->constant).get(),
                               linear_rows(casadi.get(), numpy.get(), x.get(), {&nl_objective->linear}, n).get()));
    f = py::check(PyNumber_Add(f.get(), tr.terms(nl_objective->terms).get()));
    if (c.maximize) f = py::check(PyNumber_Negative(f.get()));
  } else {
    Ref cost = call_method(casadi.get(), "DM", numpy_array(numpy.get(), c.col_cost).get());
    f = call_method(casadi.get(), "dot", cost.get(), x.get());
    if (c.hessian && !c.hessian->q_value.empty()) {
      // xᵀUx with U the stored triangle, its diagonal halved: ½xᵀQx for the symmetric Q.
      const Hessian& h = *c.hessian;
      std::vector<double> values(h.q_value);
      for (size_t j = 0; j < n; ++j) {
        for (int32_t k = h.q_start[j]; k < h.q_start[j + 1]; ++k) {
          if (static_cast<size_t>(h.q_index[static_cast<size_t>(k)]) == j) values[static_cast<size_t>(k)] *= 0.5;
        }
      }
      Ref u = sparse_dm(casadi.get(), numpy.get(), n, n, h.q_start, h.q_index, values);
      Ref quad = call_method(casadi.get(), "bilin", u.get(), x.get(), x.get());
      f = py::check(PyNumber_Add(f.get(), quad.get()));
    }
  }
  if (model && c.obj_offset != 0) f = py::check(PyNumber_Add(f.get(), py::float_obj(c.obj_offset).get()));

  // Constraints: the linear rows, then the nonlinear constraints.
  Ref parts = py::check(PyList_New(0));
  std::vector<double> lbg, ubg;
  if (c.num_rows > 0) {
    Ref a = sparse_dm(casadi.get(), numpy.get(), c.num_rows, n, c.a_start, c.a_index, c.a_value);
    py::check_status(PyList_Append(parts.get(), call_method(casadi.get(), "mtimes", a.get(), x.get()).get()));
    lbg = finite_or(c.row_lower, -kInf);
    ubg = finite_or(c.row_upper, kInf);
  }
  if (model && !model->nonlinear_constraints.empty()) {
    const std::vector<NonlinearConstraint>& rows = model->nonlinear_constraints;
    std::vector<const TermMap*> maps;
    Ref sums = py::check(PyTuple_New(static_cast<Py_ssize_t>(rows.size())));
    for (size_t i = 0; i < rows.size(); ++i) {
      maps.push_back(&rows[i].expr.linear);
      Ref s = tr.terms(rows[i].expr.terms);
      if (!s) s = tr.constant(0.0);
      PyTuple_SetItem(sums.get(), static_cast<Py_ssize_t>(i), s.release());
      const double rhs = rows[i].rhs;
      switch (rows[i].sense) {
        case ConstraintSense::Le: lbg.push_back(-kInf); ubg.push_back(rhs); break;
        case ConstraintSense::Ge: lbg.push_back(rhs); ubg.push_back(kInf); break;
        case ConstraintSense::Eq: lbg.push_back(rhs); ubg.push_back(rhs); break;
      }
    }
    Ref linear = linear_rows(casadi.get(), numpy.get(), x.get(), maps, n);
    Ref trees = py::check(PyObject_CallObject(attr(casadi.get(), "vertcat").get(), sums.get()));
    py::check_status(PyList_Append(parts.get(), py::check(PyNumber_Add(linear.get(), trees.get())).get()));
  }

  // nlpsol wants f and g structurally dense: a row without entries (0 <= 1) or an objective
  // without terms is a structural zero in a sparse product and would be refused.
  Ref densify = attr(casadi.get(), "densify");
  Ref nlp = py::check(PyDict_New());
  put(nlp.get(), "x", x.get());
  put(nlp.get(), "f", call(densify.get(), f.get()).get());
  const bool has_g = PyList_Size(parts.get()) > 0;
  if (has_g) {
    Ref tuple = py::check(PyList_AsTuple(parts.get()));
    Ref g = py::check(PyObject_CallObject(attr(casadi.get(), "vertcat").get(), tuple.get()));
    put(nlp.get(), "g", call(densify.get(), g.get()).get());
  }

  Ref inner = py::check(PyDict_New());
  put(inner.get(), "print_level", ints(o.verbose ? 5 : 0).get());
  put(inner.get(), "sb", py::str("yes").get());
  if (o.time_limit) {
    // Ipopt only takes a positive limit; a limit of zero or less stops it at once instead.
    const double limit = *o.time_limit > 0 ? *o.time_limit : std::numeric_limits<double>::min();
    put(inner.get(), "max_cpu_time", py::float_obj(limit).get());
  }
  Ref opts = py::check(PyDict_New());
  put(opts.get(), "ipopt", inner.get());
  put(opts.get(), "print_time", o.verbose ? Py_True : Py_False);
  Ref solver = call_method(casadi.get(), "nlpsol", py::str("solver").get(), py::str("ipopt").get(), nlp.get(),
                           opts.get());

  std::vector<double> x0;
  if (o.warm_start) {
    x0 = *o.warm_start;
  } else {
    x0.resize(n);
    for (size_t j = 0; j < n; ++j) {
      const double lo = std::isfinite(c.col_lower[j]) ? c.col_lower[j] : 0.0;
      const double hi = std::isfinite(c.col_upper[j]) ? c.col_upper[j] : lo + 1;
      x0[j] = (lo + hi) / 2;
    }
  }
  const std::vector<double> lbx = finite_or(c.col_lower, -kInf);
  const std::vector<double> ubx = finite_or(c.col_upper, kInf);
  if (crossed(lbx, ubx) || crossed(lbg, ubg)) {
    BackendOutcome out;
    out.solver = "Ipopt";
    out.status = SolveStatus::Infeasible;
    out.iterations = 0;
    out.solve_time = perf_counter(time.get()) - t0;
    return out;
  }
  Ref args = py::check(PyDict_New());
  put(args.get(), "x0", numpy_array(numpy.get(), x0).get());
  put(args.get(), "lbx", numpy_array(numpy.get(), lbx).get());
  put(args.get(), "ubx", numpy_array(numpy.get(), ubx).get());
  if (has_g) {
    put(args.get(), "lbg", numpy_array(numpy.get(), lbg).get());
    put(args.get(), "ubg", numpy_array(numpy.get(), ubg).get());
  }
  Ref sol = call_kw(solver.get(), args.get());
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = "Ipopt";
  out.solve_time = t1 - t0;
  Ref stats = call_method(solver.get(), "stats");
  Ref status = call_method(stats.get(), "get", py::str("return_status").get());
  out.status = map_ipopt_status(py::to_text(status.get(), "Ipopt stats", "return_status"));
  if (out.status == SolveStatus::Optimal) {
    Ref xs = py::check(PyObject_GetItem(sol.get(), py::str("x").get()));
    out.primals = array_doubles(numpy.get(), call_method(xs.get(), "full").get());
    Ref fs = py::check(PyObject_GetItem(sol.get(), py::str("f").get()));
    const std::vector<double> fv = array_doubles(numpy.get(), call_method(fs.get(), "full").get());
    if (fv.empty()) py::raise(PyExc_ValueError, "Ipopt returned no objective value");
    out.objective = model ? (c.maximize ? -fv[0] : fv[0]) : model_objective(fv[0], c.obj_offset, c.maximize);
  }
  PyObject* iter = PyObject_CallMethod(stats.get(), "get", "s", "iter_count");
  if (iter == nullptr) PyErr_Clear();  // an unreadable count is 0
  Ref hold = Ref::steal(iter);
  out.iterations = to_count(iter).value_or(0);
  return out;
}

}  // namespace velmo
