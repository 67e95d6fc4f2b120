// Ranging: read from HiGHS right after an optimal LP run, turned into Python on request.
#include "results/ranging_binding.hpp"

#include "module/args.hpp"
#include "results/result.hpp"
#include "solve/arrays.hpp"
#include "solve/highs_adapter.hpp"

#include <cmath>
#include <limits>

namespace velmo {

using py::Ref;
using namespace pycall;
namespace dx = velmo::diagnostics;

namespace {

// HighsBasisStatus code of a basic column or row.
constexpr double kBasic = 1.0;

std::vector<double> field(PyObject* ranging, const char* group) {
  Ref g = attr(ranging, group);
  return to_doubles(attr(g.get(), "value_").get());
}

// HiGHS refuses to range a model whose matrix has no entry. There every column sits on a
// bound of its own (or is free at zero cost): its cost may rise without end at a lower bound,
// fall without end at an upper one, and do anything to a fixed column; every row is basic
// with activity 0.
void rowless_cost_ranges(dx::RawRanging& raw, const CompiledModel& c, const std::vector<double>& x) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  for (size_t j = 0; j < c.num_cols && j < x.size(); ++j) {
    const double lo = c.col_lower[j], up = c.col_upper[j];
    if (lo == up) {
      raw.cost_dn.push_back(-inf);
      raw.cost_up.push_back(inf);
    } else if (x[j] == lo || (x[j] != up && std::fabs(x[j] - lo) <= std::fabs(x[j] - up))) {
      raw.cost_dn.push_back(std::isfinite(lo) ? 0.0 : c.col_cost[j]);
      raw.cost_up.push_back(inf);
    } else {
      raw.cost_dn.push_back(-inf);
      raw.cost_up.push_back(std::isfinite(up) ? 0.0 : c.col_cost[j]);
    }
  }
}

}  // namespace

std::shared_ptr<const dx::RawRanging> read_highs_ranging(PyObject* h, const CompiledModel& c, PyObject* solution) {
  if (c.has_integer_column() || (c.hessian && !c.hessian->q_value.empty())) return nullptr;
  if (c.a_value.empty()) {
    auto raw = std::make_shared<dx::RawRanging>();
    raw->maximize = c.maximize;
    raw->col_cost = c.col_cost;
    raw->col_dual = to_doubles(attr(solution, "col_dual").get());
    rowless_cost_ranges(*raw, c, to_doubles(attr(solution, "col_value").get()));
    raw->row_lower = c.row_lower;
    raw->row_upper = c.row_upper;
    raw->row_origin = c.row_origin;
    raw->row_value.assign(c.num_rows, 0.0);
    raw->row_basic.assign(c.num_rows, 1);
    raw->bound_dn = c.row_lower;  // an equality row 0 == b ranges over b alone
    raw->bound_up = c.row_lower;
    return raw;
  }
  Ref answer = call_method(h, "getRanging");
  if (!PyTuple_Check(answer.get()) || PyTuple_Size(answer.get()) != 2) return nullptr;
  if (highs_refused(PyTuple_GetItem(answer.get(), 0))) return nullptr;
  PyObject* r = PyTuple_GetItem(answer.get(), 1);

  auto raw = std::make_shared<dx::RawRanging>();
  raw->maximize = c.maximize;
  raw->col_cost = c.col_cost;
  raw->row_lower = c.row_lower;
  raw->row_upper = c.row_upper;
  raw->row_origin = c.row_origin;
  raw->cost_dn = field(r, "col_cost_dn");
  raw->cost_up = field(r, "col_cost_up");
  raw->bound_dn = field(r, "row_bound_dn");
  raw->bound_up = field(r, "row_bound_up");
  raw->col_dual = to_doubles(attr(solution, "col_dual").get());
  raw->row_value = to_doubles(attr(solution, "row_value").get());
  // The basis statuses are enum objects; numpy turns the whole list into numbers at once.
  Ref numpy = import("numpy");
  Ref basis = call_method(h, "getBasis");
  const std::vector<double> status = array_doubles(numpy.get(), attr(basis.get(), "row_status").get());
  raw->row_basic.reserve(status.size());
  for (double s : status) raw->row_basic.push_back(s == kBasic ? 1 : 0);
  if (raw->cost_dn.size() < c.num_cols || raw->cost_up.size() < c.num_cols || raw->bound_dn.size() != c.num_rows ||
      raw->bound_up.size() != c.num_rows || raw->row_value.size() != c.num_rows || raw->row_basic.size() != c.num_rows) {
    return nullptr;
  }
  return raw;
}

namespace binding {

const char* const kRangingDoc =
    "ranging($self)\n--\n\n"
    "Cost and right-hand-side ranging of an LP solved by HiGHS with solve(ranging=True).\n"
    "Returns a dict: \"cost_ranges\" (name, cost, lowest, highest), \"rhs_ranges\"\n"
    "(position, label, rhs, lowest, highest) and \"reduced_costs\" (name, reduced cost).\n"
    "Each interval is where the optimal basis stays optimal when that one number moves.";

namespace {


// Appends to `list` a tuple made of freshly created items; each item is owned until then.
template <class... R>
void append_tuple(PyObject* list, R... items) {
  Ref t = py::check(PyTuple_New(sizeof...(items)));
  Py_ssize_t k = 0;
  (PyTuple_SetItem(t.get(), k++, items.release()), ...);
  py::check_status(PyList_Append(list, t.get()));
}

}  // namespace

PyObject* result_ranging(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("ranging", {}, 0, args, nargs, kwnames);
    const ResultRecord& r = reinterpret_cast<PyResult*>(self)->record;
    if (!r.ranging) {
      py::raise(PyExc_ValueError, "Ranging needs an LP solved by HiGHS with solve(ranging=True)");
    }
    const dx::RangingTable t = dx::ranging_table(*r.ranging, stored_rows(r), stored_variables(r));
    Ref costs = py::check(PyList_New(0));
    for (const dx::CostRange& e : t.costs) {
      append_tuple(costs.get(), py::str(e.name), py::float_obj(e.cost), py::float_obj(e.lowest),
                   py::float_obj(e.highest));
    }
    Ref rhs = py::check(PyList_New(0));
    for (const dx::RhsRange& e : t.rhs) {
      append_tuple(rhs.get(), py::check(PyLong_FromSize_t(e.position)), py::str(e.label), py::float_obj(e.rhs),
                   py::float_obj(e.lowest), py::float_obj(e.highest));
    }
    Ref reduced = py::check(PyList_New(0));
    for (const auto& e : t.reduced_costs) append_tuple(reduced.get(), py::str(e.first), py::float_obj(e.second));
    Ref d = py::check(PyDict_New());
    py::check_status(PyDict_SetItemString(d.get(), "cost_ranges", costs.get()));
    py::check_status(PyDict_SetItemString(d.get(), "rhs_ranges", rhs.get()));
    py::check_status(PyDict_SetItemString(d.get(), "reduced_costs", reduced.get()));
    return d.release();
  });
}

}  // namespace binding
}  // namespace velmo
