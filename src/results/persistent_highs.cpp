// Binding of PersistentHighs: loading from a Model, the update methods, resolve and the
// mirror getters.
//
// Updates are checked whole before HiGHS sees any of them (indices in range, sequences long
// enough, no NaN), go to HiGHS in one bulk call where HiGHS has one, and reach the mirrors
// only once HiGHS has accepted them: the mirrors always show what HiGHS holds.
#include "results/persistent_highs.hpp"

#include "modelling/model_type.hpp"
#include "module/args.hpp"
#include "module/known_options.hpp"
#include "module/object_lock.hpp"
#include "module/type_builder.hpp"
#include "results/result.hpp"
#include "solve/arrays.hpp"
#include "solve/dispatch.hpp"
#include "solve/solver_forms.hpp"
#include "solve/highs_adapter.hpp"
#include "solve/solver_interrupt.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmo::binding {

using py::Ref;
using namespace pycall;

PyTypeObject* persistent_highs_type = nullptr;

namespace {

struct PersistentRecord {
  std::vector<double> row_lower;
  std::vector<double> row_upper;
  std::vector<double> col_lower;
  std::vector<double> col_upper;
  std::vector<double> col_cost;  // minimisation form
  Ref highs;
  Ref numpy;
  size_t num_cols = 0;
  size_t num_rows = 0;
  double obj_offset = 0.0;
  bool maximize = false;
  ModelSerial model = kNoModel;  // the results of resolve() answer for this model's variables
  bool loaded = false;  // false: HiGHS refused the model, which is then never run
  // HiGHS gives up the interpreter lock inside run(): one call sequence at a time.
  py::ObjectMutex busy;
};

struct PyPersistent {
  PyObject ob_base;
  PersistentRecord rec;
};

PersistentRecord& rec(PyObject* self) { return reinterpret_cast<PyPersistent*>(self)->rec; }

constexpr const char* kBusy = "PersistentHighs is busy: it cannot be used from code that runs inside its own call";

void persistent_dealloc(PyObject* self) {
  rec(self).~PersistentRecord();
  py::free_instance(self);
}

// ---- from_model

PyObject* p_from_model(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    const char* fn = "from_model";
    py::Args a(fn, {}, 0, args, nargs, kwnames, /*collect_kwargs=*/true);
    PyObject* kwargs = a.kwargs();
    warn_unknown_options(kwargs, "PersistentHighs.from_model");
    PyObject* model = kwargs == nullptr ? nullptr : PyDict_GetItemString(kwargs, "model");
    if (model == nullptr) py::raise(PyExc_ValueError, "model keyword required");
    if (Py_TYPE(model) != model_type) py::raise_wrong_type(model, fn, "model", "Model");
    // Keyword conversions may run Python code (__float__, __index__), so they happen before
    // the model's lock is taken.
    auto get = [kwargs](const char* key) { return PyDict_GetItemString(kwargs, key); };
    bool verbose = false;
    std::optional<uint32_t> threads;
    std::optional<double> gap;
    std::optional<double> time_limit;
    if (PyObject* v = get("verbose")) verbose = py::to_bool(v, fn, "verbose");
    if (PyObject* v = get("threads")) threads = py::to_u32(v, fn, "threads");
    if (PyObject* v = get("gap")) gap = py::to_real(v, fn, "gap");
    if (PyObject* v = get("time_limit")) time_limit = usable_time_limit(py::to_real(v, fn, "time_limit"));

    PersistentRecord r;
    {
      ModelLock lock(reinterpret_cast<PyModel*>(model)->core);
      // HiGHS holds neither cones nor nonlinear terms: loading the rest would re-solve another
      // problem, so the model is refused as solve(solver="highs") refuses it.
      if (std::optional<std::string> why = refusal("highs", lock.data())) {
        py::raise(PyExc_ValueError, std::move(*why));
      }
      const CompiledModel c = compile_model(lock.data());
      GilEnsure gil;
      Ref highspy = import("highspy");
      r.numpy = import("numpy");
      r.highs = call_method(highspy.get(), "Highs");
      PyObject* h = r.highs.get();
      if (!verbose) set_highs_option(h, "output_flag", Py_False);
      set_highs_option(h, "presolve", py::str("off").get());
      if (time_limit) set_highs_option(h, "time_limit", py::float_obj(*time_limit).get());
      if (gap) set_highs_option(h, "mip_rel_gap", py::float_obj(*gap).get());
      if (threads) {
        apply_thread_guard(h, *threads);
        set_highs_option(h, "threads", ints(*threads).get());
      }
      r.model = reinterpret_cast<PyModel*>(model)->core.serial;
      r.loaded = load_into_highs(h, highspy.get(), r.numpy.get(), c);
      r.row_lower = c.row_lower;
      r.row_upper = c.row_upper;
      r.col_lower = c.col_lower;
      r.col_upper = c.col_upper;
      r.col_cost = c.col_cost;
      r.num_cols = c.num_cols;
      r.num_rows = c.num_rows;
      r.obj_offset = c.obj_offset;
      r.maximize = c.maximize;
    }
    PyPersistent* o = py::alloc_instance<PyPersistent>(persistent_highs_type);
    new (&o->rec) PersistentRecord();
    PersistentRecord& dst = o->rec;
    dst.row_lower = std::move(r.row_lower);
    dst.row_upper = std::move(r.row_upper);
    dst.col_lower = std::move(r.col_lower);
    dst.col_upper = std::move(r.col_upper);
    dst.col_cost = std::move(r.col_cost);
    dst.highs = std::move(r.highs);
    dst.numpy = std::move(r.numpy);
    dst.num_cols = r.num_cols;
    dst.num_rows = r.num_rows;
    dst.obj_offset = r.obj_offset;
    dst.maximize = r.maximize;
    dst.loaded = r.loaded;
    dst.model = r.model;
    return reinterpret_cast<PyObject*>(o);
  });
}

// ---- argument reading

// The items of a sequence argument (a str is refused), as a list.
Ref sequence_items(PyObject* seq, const char* fname, const char* pname, const char* of) {
  if (PyUnicode_Check(seq) || !PySequence_Check(seq)) {
    py::raise_wrong_type(seq, fname, pname, (std::string("a sequence of ") + of).c_str());
  }
  return py::check(PySequence_List(seq));
}

size_t items_size(PyObject* list) { return static_cast<size_t>(PyList_Size(list)); }
PyObject* item(PyObject* list, size_t k) { return PyList_GetItem(list, static_cast<Py_ssize_t>(k)); }

// Indices below `limit`; a bad one raises ValueError naming the parameter, the position, the
// index and the size.
[[noreturn]] void out_of_range(const char* fname, const char* pname, size_t k, const std::string& index,
                               size_t limit, const char* what) {
  py::raise(PyExc_ValueError, std::string(fname) + "(): " + pname + "[" + std::to_string(k) + "] = " + index +
                                  " is out of range: the model has " + std::to_string(limit) + " " + what);
}

std::vector<int32_t> read_indices(PyObject* seq, const char* fname, const char* pname, size_t limit,
                                  const char* what) {
  // A NumPy integer array is read in one copy, not one Python object per entry.
  Ref numpy = import("numpy");
  if (std::optional<std::vector<int64_t>> bulk = ndarray_int64s(numpy.get(), seq, "iu")) {
    std::vector<int32_t> out(bulk->size());
    for (size_t k = 0; k < bulk->size(); ++k) {
      const int64_t v = (*bulk)[k];
      if (v < 0 || static_cast<uint64_t>(v) >= limit) out_of_range(fname, pname, k, std::to_string(v), limit, what);
      out[k] = static_cast<int32_t>(v);
    }
    return out;
  }
  Ref fast = sequence_items(seq, fname, pname, "int");
  const size_t n = items_size(fast.get());
  std::vector<int32_t> out;
  out.reserve(n);
  for (size_t k = 0; k < n; ++k) {
    PyObject* o = item(fast.get(), k);
    if (!PyLong_Check(o) && (PyFloat_Check(o) || PyUnicode_Check(o) || !PyIndex_Check(o))) {
      py::raise(PyExc_TypeError, std::string(fname) + "(): argument '" + pname +
                                     "' must be a sequence of int, but item " + std::to_string(k) +
                                     " is " + py::type_name(o));
    }
    PyObject* as_index = PyNumber_Index(o);
    if (as_index == nullptr && PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();  // an __index__ that refuses (an array of more than one entry): a wrong item
      py::raise(PyExc_TypeError, std::string(fname) + "(): argument '" + pname +
                                     "' must be a sequence of int, but item " + std::to_string(k) +
                                     " is " + py::type_name(o));
    }
    Ref index = py::check(as_index);
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) throw py::ErrorAlreadySet{};
    if (overflow != 0 || v < 0 || static_cast<unsigned long long>(v) >= limit) {
      Ref text = py::check(PyObject_Str(index.get()));
      out_of_range(fname, pname, k, py::utf8(text.get()), limit, what);
    }
    out.push_back(static_cast<int32_t>(v));
  }
  return out;
}

// The first `count` floats of a sequence (extra entries are ignored); NaN is refused, since
// HiGHS either refuses it or takes it and then solves a model that means nothing.
[[noreturn]] void too_few(const char* fname, const char* pname, size_t n, size_t count, const char* index_name) {
  py::raise(PyExc_ValueError, std::string(fname) + "(): " + pname + " has " + std::to_string(n) +
                                  " entries, fewer than the " + std::to_string(count) + " of " + index_name);
}

std::vector<double> read_values(PyObject* seq, const char* fname, const char* pname, size_t count,
                                const char* index_name) {
  Ref numpy = import("numpy");
  if (std::optional<std::vector<double>> bulk = ndarray_doubles(numpy.get(), seq, "iuf")) {
    if (bulk->size() < count) too_few(fname, pname, bulk->size(), count, index_name);
    bulk->resize(count);
    for (size_t k = 0; k < count; ++k) {
      if (std::isnan((*bulk)[k])) {
        py::raise(PyExc_ValueError, std::string(fname) + "(): " + pname + "[" + std::to_string(k) + "] is NaN");
      }
    }
    return std::move(*bulk);
  }
  Ref fast = sequence_items(seq, fname, pname, "float");
  const size_t n = items_size(fast.get());
  if (n < count) {
    py::raise(PyExc_ValueError, std::string(fname) + "(): " + pname + " has " + std::to_string(n) +
                                    " entries, fewer than the " + std::to_string(count) + " of " + index_name);
  }
  std::vector<double> out;
  out.reserve(count);
  for (size_t k = 0; k < count; ++k) {
    const double v = py::to_real(item(fast.get(), k), fname, pname);
    if (std::isnan(v)) {
      py::raise(PyExc_ValueError, std::string(fname) + "(): " + pname + "[" + std::to_string(k) + "] is NaN");
    }
    out.push_back(v);
  }
  return out;
}

// HiGHS refuses a set that names an index twice; entries apply in order, so the last one of
// each index is the one that counts. Returns the positions to keep, in order.
std::vector<size_t> last_of_each(const std::vector<int32_t>& indices) {
  std::vector<size_t> keep;
  if (std::is_sorted(indices.begin(), indices.end(), std::less_equal<>())) {  // strictly increasing: all distinct
    keep.resize(indices.size());
    for (size_t k = 0; k < keep.size(); ++k) keep[k] = k;
    return keep;
  }
  std::unordered_map<int32_t, size_t> last;
  last.reserve(indices.size());
  for (size_t k = 0; k < indices.size(); ++k) last[indices[k]] = k;
  keep.reserve(last.size());
  for (size_t k = 0; k < indices.size(); ++k) {
    if (last[indices[k]] == k) keep.push_back(k);
  }
  return keep;
}

template <class T>
std::vector<T> pick(const std::vector<T>& v, const std::vector<size_t>& keep) {
  std::vector<T> out;
  out.reserve(keep.size());
  for (size_t k : keep) out.push_back(v[k]);
  return out;
}

[[noreturn]] void refused_by_highs(const char* fname, PyObject* status, const char* applied) {
  Ref text = py::check(PyObject_Str(status));
  py::raise(PyExc_ValueError, std::string(fname) + "(): HiGHS refused the change (" + py::utf8(text.get()) +
                                  "); " + applied);
}

// ---- bounds and costs

PyObject* update_bounds(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, bool cols) {
  return py::guard([&] {
    const char* fname = cols ? "update_col_bounds" : "update_row_bounds";
    py::Args a(fname, {"indices", "lowers", "uppers"}, 3, args, nargs, kwnames);
    PersistentRecord& r = rec(self);
    const std::vector<int32_t> indices =
        read_indices(a[0], fname, "indices", cols ? r.num_cols : r.num_rows, cols ? "columns" : "rows");
    const std::vector<double> lowers = read_values(a[1], fname, "lowers", indices.size(), "indices");
    const std::vector<double> uppers = read_values(a[2], fname, "uppers", indices.size(), "indices");
    if (indices.empty()) return py::new_none();
    const std::vector<size_t> keep = last_of_each(indices);
    // Distinct indices (the usual bulk update) go as given, without copies.
    const bool all = keep.size() == indices.size();
    const std::vector<int32_t> set = all ? std::vector<int32_t>() : pick(indices, keep);
    const std::vector<double> lo_picked = all ? std::vector<double>() : pick(lowers, keep);
    const std::vector<double> up_picked = all ? std::vector<double>() : pick(uppers, keep);
    const std::vector<int32_t>& set_ref = all ? indices : set;
    const std::vector<double>& lo = all ? lowers : lo_picked;
    const std::vector<double>& up = all ? uppers : up_picked;
    py::ObjectLock lock(r.busy, kBusy);
    GilEnsure gil;
    PyObject* numpy = r.numpy.get();
    Ref st = call_method(r.highs.get(), cols ? "changeColsBounds" : "changeRowsBounds",
                         ints(static_cast<long long>(set_ref.size())).get(), numpy_array(numpy, set_ref).get(),
                         numpy_array(numpy, lo).get(), numpy_array(numpy, up).get());
    if (highs_refused(st.get())) refused_by_highs(fname, st.get(), "nothing was applied");
    std::vector<double>& lower = cols ? r.col_lower : r.row_lower;
    std::vector<double>& upper = cols ? r.col_upper : r.row_upper;
    for (size_t k = 0; k < set_ref.size(); ++k) {
      lower[static_cast<size_t>(set_ref[k])] = lo[k];
      upper[static_cast<size_t>(set_ref[k])] = up[k];
    }
    return py::new_none();
  });
}

PyObject* p_update_col_bounds(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return update_bounds(self, a, n, kw, true);
}
PyObject* p_update_row_bounds(PyObject* self, PyObject* const* a, Py_ssize_t n, PyObject* kw) {
  return update_bounds(self, a, n, kw, false);
}

PyObject* p_update_col_costs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    const char* fname = "update_col_costs";
    py::Args a(fname, {"indices", "costs"}, 2, args, nargs, kwnames);
    PersistentRecord& r = rec(self);
    const std::vector<int32_t> indices = read_indices(a[0], fname, "indices", r.num_cols, "columns");
    const std::vector<double> costs = read_values(a[1], fname, "costs", indices.size(), "indices");
    if (indices.empty()) return py::new_none();
    const std::vector<size_t> keep = last_of_each(indices);
    const bool all = keep.size() == indices.size();  // distinct: no copies, as for bounds
    const std::vector<int32_t> picked_set = all ? std::vector<int32_t>() : pick(indices, keep);
    const std::vector<double> picked_costs = all ? std::vector<double>() : pick(costs, keep);
    const std::vector<int32_t>& set = all ? indices : picked_set;
    const std::vector<double>& c = all ? costs : picked_costs;
    py::ObjectLock lock(r.busy, kBusy);
    GilEnsure gil;
    PyObject* numpy = r.numpy.get();
    Ref st = call_method(r.highs.get(), "changeColsCost", ints(static_cast<long long>(set.size())).get(),
                         numpy_array(numpy, set).get(), numpy_array(numpy, c).get());
    if (highs_refused(st.get())) refused_by_highs(fname, st.get(), "nothing was applied");
    for (size_t k = 0; k < set.size(); ++k) r.col_cost[static_cast<size_t>(set[k])] = c[k];
    return py::new_none();
  });
}

// ---- matrix coefficients

PyObject* p_update_matrix_coeffs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    const char* fname = "update_matrix_coeffs";
    py::Args a(fname, {"rows", "cols", "values"}, 3, args, nargs, kwnames);
    PersistentRecord& r = rec(self);
    const std::vector<int32_t> rows = read_indices(a[0], fname, "rows", r.num_rows, "rows");
    const std::vector<int32_t> cols_short = read_indices(a[1], fname, "cols", r.num_cols, "columns");
    if (cols_short.size() < rows.size()) {
      py::raise(PyExc_ValueError, std::string(fname) + "(): cols has " + std::to_string(cols_short.size()) +
                                      " entries, fewer than the " + std::to_string(rows.size()) + " of rows");
    }
    const std::vector<double> values = read_values(a[2], fname, "values", rows.size(), "rows");
    for (size_t k = 0; k < values.size(); ++k) {
      // HiGHS refuses infinite entries; refused here, nothing of the call is applied.
      if (std::isinf(values[k])) {
        py::raise(PyExc_ValueError, std::string(fname) + "(): values[" + std::to_string(k) + "] is infinite");
      }
    }
    py::ObjectLock lock(r.busy, kBusy);
    GilEnsure gil;
    // HiGHS has no bulk form of this change: one call per coefficient.
    Ref method = attr(r.highs.get(), "changeCoeff");
    for (size_t k = 0; k < rows.size(); ++k) {
      Ref st = call(method.get(), ints(rows[k]).get(), ints(cols_short[k]).get(), py::float_obj(values[k]).get());
      if (highs_refused(st.get())) {
        const std::string applied = k == 0 ? "nothing was applied"
                                           : "the entries before position " + std::to_string(k) + " were applied";
        refused_by_highs(fname, st.get(), applied.c_str());
      }
    }
    return py::new_none();
  });
}

// ---- resolve

PyObject* p_resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("resolve", {}, 0, args, nargs, kwnames);
    PersistentRecord& r = rec(self);
    ResultRecord out;
    out.solver = "HiGHS";
    out.model = r.model;
    {
      py::ObjectLock lock(r.busy, kBusy);
      GilEnsure gil;
      PyObject* h = r.highs.get();
      Ref time = import("time");
      const double t0 = perf_counter(time.get());
      if (!r.loaded) {
        // HiGHS refused the model when it was loaded: a run would answer for another model.
        out.status = SolveStatus::Error;
        out.solve_time = perf_counter(time.get()) - t0;
        return new_result(std::move(out)).release();
      }
      {
        Ref highspy = import("highspy");
        HighsSignalWatch watch(h, highspy.get());
        call_method(h, "run");
        watch.raise_if_stopped();
      }
      out.solve_time = perf_counter(time.get()) - t0;
      Ref status = call_method(h, "getModelStatus");
      out.status = map_highs_status(lower_text(status.get()));
      if (out.status == SolveStatus::IterationLimit) out.status = SolveStatus::Unknown;
      if (out.status == SolveStatus::Optimal || out.status == SolveStatus::TimeLimit) {
        if (std::optional<HighsPoint> p = read_highs_point(h, r.num_cols)) {
          out.objective = model_objective(p->objective, r.obj_offset, r.maximize);
          out.primals = std::move(p->primals);
          out.duals = to_doubles(attr(p->solution.get(), "row_dual").get());
        }
      }
      out.iterations = highs_info_count(h, "simplex_iteration_count").value_or(0);
      out.basis = call_method(h, "getBasis");
    }
    return new_result(std::move(out)).release();
  });
}

// ---- getters

PyObject* bounds_pair(const std::vector<double>& lower, const std::vector<double>& upper) {
  Ref lo = py::float_list(lower);
  Ref up = py::float_list(upper);
  return py::check(PyTuple_Pack(2, lo.get(), up.get())).release();
}

PyObject* p_row_bounds(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("row_bounds", {}, 0, args, nargs, kwnames);
    return bounds_pair(rec(self).row_lower, rec(self).row_upper);
  });
}

PyObject* p_col_bounds(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("col_bounds", {}, 0, args, nargs, kwnames);
    return bounds_pair(rec(self).col_lower, rec(self).col_upper);
  });
}

PyObject* p_col_costs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("col_costs", {}, 0, args, nargs, kwnames);
    return py::float_list(rec(self).col_cost).release();
  });
}

PyObject* p_num_cols(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("num_cols", {}, 0, args, nargs, kwnames);
    return py::check(PyLong_FromSize_t(rec(self).num_cols)).release();
  });
}

PyObject* p_num_rows(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("num_rows", {}, 0, args, nargs, kwnames);
    return py::check(PyLong_FromSize_t(rec(self).num_rows)).release();
  });
}

#define VELMO_METHOD(name, impl, doc) {name, py::fastcall<impl>(), py::kFastcallFlags, doc}

PyMethodDef persistent_methods[] = {
    {"from_model", py::fastcall<p_from_model>(), py::kFastcallFlags | METH_STATIC, "from_model(**kwargs)\n--\n\n"},
    VELMO_METHOD("update_col_bounds", p_update_col_bounds,
                 "update_col_bounds($self, indices, lowers, uppers)\n--\n\n"),
    VELMO_METHOD("update_row_bounds", p_update_row_bounds,
                 "update_row_bounds($self, indices, lowers, uppers)\n--\n\n"),
    VELMO_METHOD("update_col_costs", p_update_col_costs,
                 "update_col_costs($self, indices, costs)\n--\n\n"
                 "Costs are in the minimisation form, as col_costs() shows them: for a maximised\n"
                 "model give the negated cost."),
    VELMO_METHOD("update_matrix_coeffs", p_update_matrix_coeffs,
                 "update_matrix_coeffs($self, rows, cols, values)\n--\n\n"
                 "Update individual constraint-matrix coefficients in place\n"
                 "(HiGHS changeCoeff) \u2014 Phase 20.x.4.\n"
                 "Expert interface: the caller is responsible for keeping the mirrored\n"
                 "application model consistent."),
    VELMO_METHOD("row_bounds", p_row_bounds,
                 "row_bounds($self)\n--\n\nCurrent (lower, upper) row bounds as loaded/updated \u2014 Phase 18.a."),
    VELMO_METHOD("col_bounds", p_col_bounds,
                 "col_bounds($self)\n--\n\nCurrent (lower, upper) column bounds as loaded/updated."),
    VELMO_METHOD("col_costs", p_col_costs, "col_costs($self)\n--\n\nCurrent column costs as loaded/updated."),
    VELMO_METHOD("resolve", p_resolve, "resolve($self)\n--\n\n"),
    VELMO_METHOD("num_cols", p_num_cols, "num_cols($self)\n--\n\n"),
    VELMO_METHOD("num_rows", p_num_rows, "num_rows($self)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr}};

void* fn(auto f) { return reinterpret_cast<void*>(f); }

}  // namespace

PyTypeObject* make_persistent_highs_type() {
  return py::build_type("velmo_opt.PersistentHighs", sizeof(PyPersistent),
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                        {{Py_tp_dealloc, fn(persistent_dealloc)}, {Py_tp_methods, persistent_methods}});
}

}  // namespace velmo::binding
