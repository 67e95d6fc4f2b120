// Ipopt and Bonmin adapter: CasADi expressions for the objective and the constraints, nlpsol
// with the Ipopt or the Bonmin plug-in, the status maps and the outcome.
#include "solve/ipopt_adapter.hpp"

#include "expr/errors.hpp"
#include "module/args.hpp"
#include "solve/arrays.hpp"
#include "solve/solver_interrupt.hpp"
#include "solve/sparse.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
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

SolveStatus map_bonmin_status(std::string_view s) noexcept {
  if (s == "SUCCESS") return SolveStatus::Optimal;
  if (s == "INFEASIBLE") return SolveStatus::Infeasible;
  if (s == "CONTINUOUS_UNBOUNDED") return SolveStatus::Unbounded;
  // Bonmin words every limit alike; the only one set here is the time limit.
  if (s == "LIMIT_EXCEEDED") return SolveStatus::TimeLimit;
  return SolveStatus::Unknown;
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The CasADi function of a one-operand node kind (casadi.fabs for abs).
const char* casadi_function(NodeKind k) noexcept {
  return k == NodeKind::Abs ? "fabs" : function_name(k);
}

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
      const int arity = child_count(top.kind());
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
      case NodeKind::Pow:
        return py::check(PyNumber_Power(operand(r.child(0)).get(), operand(r.child(1)).get(), Py_None));
      case NodeKind::Exp:
      case NodeKind::Log:
      case NodeKind::Tan:
      case NodeKind::Atan:
      case NodeKind::Tanh:
      case NodeKind::Abs: return call_method(casadi_, casadi_function(r.kind()), operand(r.child(0)).get());
      case NodeKind::Var: break;
    }
    return variable(r.var_index());
  }

  PyObject* casadi_;
  Ref elements_, dm_, sin_, cos_, sqrt_;
  std::unordered_map<uintptr_t, Ref> memo_;
};

// CasADi reads integer arrays element by element through the interpreter but lists of ints
// in one pass, so index arrays go over as a NumPy array turned into a list by NumPy itself.
template <class T>
Ref index_list(PyObject* numpy, std::span<const T> values) {
  return call_method(numpy_array(numpy, values).get(), "tolist");
}
// The rows `at` of a column, as a column: indexing with a list alone gives a row when the
// column has one element.
Ref rows_of(PyObject* column, PyObject* numpy, const std::vector<int64_t>& at) {
  Ref list = index_list(numpy, std::span<const int64_t>(at));
  Ref zero = pycall::ints(0);
  Ref key = py::check(PyTuple_Pack(2, list.get(), zero.get()));
  return py::check(PyObject_GetItem(column, key.get()));
}

// Every CasADi operation called from here costs tens of microseconds, whatever the size of
// its operands, so trees are translated level by level: all nodes of one kind and one height
// become one elementwise operation on vectors gathered from what is built so far. A model of
// a hundred thousand nodes then takes a few dozen calls instead of a hundred thousand.
class LevelTranslator {
 public:
  // Heights beyond this make the gathering cost more than it saves; such trees go node by
  // node instead.
  static constexpr size_t kMaxLevels = 256;

  // Plans the translation of the trees behind `roots`; false when they are too deep.
  bool plan(const std::vector<const NodeRef*>& roots, size_t n) {
    n_ = n;
    height_.reserve(roots.size() * 4);
    position_.reserve(roots.size() * 4);
    same_.reserve(roots.size() * 4);
    std::vector<const NodeRef*> stack;
    for (const NodeRef* root : roots) {
      if (known(*root)) continue;
      stack.push_back(root);
      while (!stack.empty()) {
        const NodeRef& top = *stack.back();
        if (known(top)) {
          stack.pop_back();
          continue;
        }
        if (top.kind() == NodeKind::Const) {
          // Equal constants share one slot.
          uint64_t bits;
          const double v = top.value();
          std::memcpy(&bits, &v, sizeof bits);
          auto [at, fresh] = const_by_value_.emplace(bits, constants_.size());
          if (fresh) constants_.push_back(v);
          const_slot_.emplace(top.id(), at->second);
          stack.pop_back();
          continue;
        }
        const int arity = child_count(top.kind());
        bool ready = true;
        size_t h = 0;
        for (int i = arity - 1; i >= 0; --i) {
          const NodeRef& child = top.child(i);
          if (!known(child)) {
            stack.push_back(&child);
            ready = false;
          } else {
            h = std::max(h, height(child));
          }
        }
        if (!ready) continue;
        stack.pop_back();
        if (h + 1 > kMaxLevels) return false;
        height_.emplace(top.id(), h + 1);
        if (levels_.size() < h + 1) levels_.resize(h + 1);
        levels_[h][static_cast<size_t>(top.kind())].push_back(&top);
      }
    }
    return true;
  }

  // The values of `roots`, in order, as one CasADi column.
  Ref build(PyObject* casadi, PyObject* numpy, PyObject* x, const std::vector<const NodeRef*>& roots) {
    Ref vertcat = attr(casadi, "vertcat");
    Ref values = Ref::borrow(x);
    int64_t next = static_cast<int64_t>(n_);
    if (!constants_.empty()) {
      Ref dm = call_method(casadi, "DM", numpy_array(numpy, constants_).get());
      values = call(vertcat.get(), values.get(), dm.get());
      next += static_cast<int64_t>(constants_.size());
    }
    const NodeKind kinds[] = {NodeKind::Neg, NodeKind::Add,  NodeKind::Mul,  NodeKind::Div,
                              NodeKind::Sin, NodeKind::Cos,  NodeKind::Sqrt, NodeKind::Exp,
                              NodeKind::Log, NodeKind::Tan,  NodeKind::Atan, NodeKind::Tanh,
                              NodeKind::Abs, NodeKind::Pow};
    for (const Level& level : levels_) {
      Ref parts = py::check(PyList_New(0));
      for (NodeKind kind : kinds) {
        std::vector<int64_t> left, right;
        for (const NodeRef* node : level[static_cast<size_t>(kind)]) {
          // Trees built apart that compute the same thing from the same operands (the two
          // sides of a*a, say) become one CasADi expression, so CasADi differentiates it once.
          const int64_t a = position(node->child(0));
          const int64_t b = child_count(kind) == 2 ? position(node->child(1)) : -1;
          auto [at, fresh] = same_.emplace(Key{kind, a, b}, next);
          position_.emplace(node->id(), at->second);
          if (!fresh) continue;
          ++next;
          left.push_back(a);
          if (b >= 0) right.push_back(b);
        }
        if (left.empty()) continue;
        Ref a = rows_of(values.get(), numpy, left);
        Ref b;
        if (!right.empty()) b = rows_of(values.get(), numpy, right);
        Ref r;
        switch (kind) {
          case NodeKind::Neg: r = py::check(PyNumber_Negative(a.get())); break;
          case NodeKind::Add: r = py::check(PyNumber_Add(a.get(), b.get())); break;
          case NodeKind::Mul: r = py::check(PyNumber_Multiply(a.get(), b.get())); break;
          case NodeKind::Div: r = py::check(PyNumber_TrueDivide(a.get(), b.get())); break;
          case NodeKind::Pow: r = py::check(PyNumber_Power(a.get(), b.get(), Py_None)); break;
          default: r = call_method(casadi, casadi_function(kind), a.get()); break;
        }
        py::check_status(PyList_Append(parts.get(), r.get()));
      }
      py::check_status(PyList_Insert(parts.get(), 0, values.get()));
      Ref tuple = py::check(PyList_AsTuple(parts.get()));
      values = py::check(PyObject_CallObject(vertcat.get(), tuple.get()));
    }
    std::vector<int64_t> at;
    at.reserve(roots.size());
    for (const NodeRef* root : roots) at.push_back(position(*root));
    return rows_of(values.get(), numpy, at);
  }

 private:
  bool known(const NodeRef& r) const {
    return r.kind() == NodeKind::Var || const_slot_.count(r.id()) != 0 || height_.count(r.id()) != 0;
  }
  size_t height(const NodeRef& r) const {
    if (r.kind() == NodeKind::Var || r.kind() == NodeKind::Const) return 0;
    return height_.at(r.id());
  }
  int64_t position(const NodeRef& r) const {
    if (r.kind() == NodeKind::Var) return r.var_index();
    if (r.kind() == NodeKind::Const) return static_cast<int64_t>(n_ + const_slot_.at(r.id()));
    return position_.at(r.id());
  }

  struct Key {
    NodeKind kind;
    int64_t a, b;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const noexcept {
      const uint64_t h = static_cast<uint64_t>(k.a) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(k.b) * 0xC2B2AE3D27D4EB4Full;
      return static_cast<size_t>(h ^ static_cast<uint64_t>(k.kind));
    }
  };

  size_t n_ = 0;
  std::vector<double> constants_;
  std::unordered_map<uint64_t, size_t> const_by_value_;
  std::unordered_map<Key, int64_t, KeyHash> same_;
  std::unordered_map<uintptr_t, size_t> const_slot_;
  std::unordered_map<uintptr_t, size_t> height_;
  std::unordered_map<uintptr_t, int64_t> position_;
  using Level = std::array<std::vector<const NodeRef*>, kNodeKinds>;  // the nodes of one height, by kind
  std::vector<Level> levels_;
};

// casadi.DM with the given sparsity pattern and values: matrices stay sparse on CasADi's
// side, whatever their size.
Ref sparse_dm(PyObject* casadi, PyObject* numpy, size_t rows, size_t cols, std::span<const int32_t> start,
              std::span<const int32_t> index, std::span<const double> value) {
  Ref r = py::check(PyLong_FromSize_t(rows));
  Ref c = py::check(PyLong_FromSize_t(cols));
  Ref pattern = call_method(casadi, "Sparsity", r.get(), c.get(), index_list(numpy, start).get(),
                            index_list(numpy, index).get());
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

// The values of several expressions as one CasADi column: constants, the linear parts as one
// sparse product, the weighted trees as a second one over their translated roots.
Ref expression_values(PyObject* casadi, PyObject* numpy, PyObject* x, const std::vector<const NlExpr*>& exprs,
                      size_t n) {
  std::vector<const TermMap*> maps;
  std::vector<const NodeRef*> roots;
  std::vector<Entry> weights;
  std::vector<double> constants;
  bool any_constant = false;
  for (size_t i = 0; i < exprs.size(); ++i) {
    maps.push_back(&exprs[i]->linear);
    constants.push_back(exprs[i]->constant);
    any_constant = any_constant || exprs[i]->constant != 0;
    for (const NlTerm& t : exprs[i]->terms) {
      // A weight within 1e-15 of one is taken as one: the tree is added as it is.
      const double w = std::fabs(t.coef - 1.0) < 1e-15 ? 1.0 : t.coef;
      weights.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(roots.size()), w});
      roots.push_back(&t.node);
    }
  }
  Ref values = linear_rows(casadi, numpy, x, maps, n);
  if (!roots.empty()) {
    LevelTranslator levels;
    Ref sums;
    if (levels.plan(roots, n)) {
      Ref trees = levels.build(casadi, numpy, x, roots);
      const Csc w = csc_from_entries(weights, exprs.size(), roots.size());
      Ref matrix = sparse_dm(casadi, numpy, exprs.size(), roots.size(), w.start, w.index, w.value);
      sums = call_method(casadi, "mtimes", matrix.get(), trees.get());
    } else {
      Translator scalar(casadi, x, n);
      Ref each = py::check(PyTuple_New(static_cast<Py_ssize_t>(exprs.size())));
      for (size_t i = 0; i < exprs.size(); ++i) {
        Ref sum = scalar.terms(exprs[i]->terms);
        if (!sum) sum = scalar.constant(0.0);
        PyTuple_SetItem(each.get(), static_cast<Py_ssize_t>(i), sum.release());
      }
      sums = py::check(PyObject_CallObject(attr(casadi, "vertcat").get(), each.get()));
    }
    values = py::check(PyNumber_Add(values.get(), sums.get()));
  }
  if (any_constant) {
    Ref dm = call_method(casadi, "DM", numpy_array(numpy, constants).get());
    values = py::check(PyNumber_Add(values.get(), dm.get()));
  }
  return values;
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

BackendOutcome solve_nlp(const CompiledModel& c, const SolveOptions& o, const ModelData* model, NlpSolver which) {
  const bool bonmin = which == NlpSolver::Bonmin;
  const char* display = bonmin ? "Bonmin" : "Ipopt";
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

  // The nonlinear objective (if any) and the nonlinear constraints, translated together so that
  // trees they share are translated once.
  const NlExpr* nl_objective = nullptr;
  if (model && model->objective) {
    const auto* g = std::get_if<NlExpr>(&*model->objective);
    if (g && !g->terms.empty()) nl_objective = g;
  }
  std::vector<const NlExpr*> exprs;
  if (nl_objective) exprs.push_back(nl_objective);
  if (model) {
    for (const NonlinearConstraint& row : model->nonlinear_constraints) exprs.push_back(&row.expr);
  }
  Ref values;
  if (!exprs.empty()) values = expression_values(casadi.get(), numpy.get(), x.get(), exprs, n);
  auto pick = [&](size_t from, size_t to) {
    std::vector<int64_t> at;
    for (size_t k = from; k < to; ++k) at.push_back(static_cast<int64_t>(k));
    return rows_of(values.get(), numpy.get(), at);
  };

  Ref f;
  if (nl_objective) {
    f = pick(0, 1);
    if (c.maximize) f = py::check(PyNumber_Negative(f.get()));
  } else {
    Ref cost = call_method(casadi.get(), "DM", numpy_array(numpy.get(), c.col_cost).get());
    f = call_method(casadi.get(), "dot", cost.get(), x.get());
    if (c.hessian && !c.hessian->q_value.empty()) {
      // xᵀUx with U the stored triangle, its diagonal halved: ½xᵀQx for the symmetric Q.
      const Hessian& h = *c.hessian;
      std::vector<double> halved(h.q_value);
      for (size_t j = 0; j < n; ++j) {
        for (int32_t k = h.q_start[j]; k < h.q_start[j + 1]; ++k) {
          if (static_cast<size_t>(h.q_index[static_cast<size_t>(k)]) == j) halved[static_cast<size_t>(k)] *= 0.5;
        }
      }
      Ref u = sparse_dm(casadi.get(), numpy.get(), n, n, h.q_start, h.q_index, halved);
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
  const size_t first_row = nl_objective ? 1 : 0;
  if (exprs.size() > first_row) {
    for (const NonlinearConstraint& row : model->nonlinear_constraints) {
      switch (row.sense) {
        case ConstraintSense::Le: lbg.push_back(-kInf); ubg.push_back(row.rhs); break;
        case ConstraintSense::Ge: lbg.push_back(row.rhs); ubg.push_back(kInf); break;
        case ConstraintSense::Eq: lbg.push_back(row.rhs); ubg.push_back(row.rhs); break;
      }
    }
    py::check_status(PyList_Append(parts.get(), pick(first_row, exprs.size()).get()));
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
  if (bonmin) put(inner.get(), "bb_log_level", ints(o.verbose ? 1 : 0).get());
  if (o.time_limit) {
    // Ipopt only takes a positive limit, Bonmin one of zero or more; a limit at or below zero
    // stops either at once instead.
    const double limit = *o.time_limit > 0 ? *o.time_limit : std::numeric_limits<double>::min();
    put(inner.get(), bonmin ? "time_limit" : "max_cpu_time", py::float_obj(limit).get());
  }
  Ref opts = py::check(PyDict_New());
  put(opts.get(), bonmin ? "bonmin" : "ipopt", inner.get());
  put(opts.get(), "print_time", o.verbose ? Py_True : Py_False);
  if (bonmin) {
    Ref discrete = py::check(PyList_New(static_cast<Py_ssize_t>(n)));
    for (size_t j = 0; j < n; ++j) {
      PyList_SetItem(discrete.get(), static_cast<Py_ssize_t>(j), py::bool_obj(c.integrality[j] != 0).release());
    }
    put(opts.get(), "discrete", discrete.get());
  }
  Ref solver = call_method(casadi.get(), "nlpsol", py::str("solver").get(), py::str(bonmin ? "bonmin" : "ipopt").get(),
                           nlp.get(), opts.get());

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
    out.solver = display;
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
  Ref sol;
  {
    std::optional<BonminRunGuard> bonmin_run;
    if (bonmin) bonmin_run.emplace();
    CasadiSignalGuard guard;
    sol = call_kw(solver.get(), args.get());
    const bool bonmin_stopped = bonmin_run && bonmin_run->finish();
    guard.raise_if_stopped();
    if (bonmin_stopped) {
      // Bonmin's own SIGINT handler stopped the run; Python's never saw the signal.
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      throw py::ErrorAlreadySet{};
    }
  }
  const double t1 = perf_counter(time.get());

  BackendOutcome out;
  out.solver = display;
  out.solve_time = t1 - t0;
  Ref stats = call_method(solver.get(), "stats");
  Ref status = call_method(stats.get(), "get", py::str("return_status").get());
  const std::string text = py::to_text(status.get(), bonmin ? "Bonmin stats" : "Ipopt stats", "return_status");
  out.status = bonmin ? map_bonmin_status(text) : map_ipopt_status(text);
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
