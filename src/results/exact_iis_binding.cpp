// HiGHS calls of the exact infeasibility report: getIis on the linear relaxation, MIP runs
// for the deletion filter. Holds no lock but the interpreter's; calls no Python code of the
// caller's.
#include "results/exact_iis_binding.hpp"

#include "solve/arrays.hpp"
#include "solve/highs_adapter.hpp"

#include <algorithm>
#include <chrono>

namespace velmo::binding {

using py::Ref;
using namespace pycall;
namespace dx = velmo::diagnostics;

namespace {

// IIS strategy 3 of the installed highspy gives an infeasible set fast, though not always an
// irreducible one (it may list bounds that are not needed); 4 is irreducible but its time grows
// steeply with the model (25 s at 3,000 rows where 3 takes 0.08 s); 0, 1 and 8 gave nothing or
// failed. So strategy 3 proposes and a deletion filter over its members decides.
constexpr long kIisStrategy = 3;
// Caps of the MIP deletion filter: each run, and the whole filter.
constexpr double kMipRunSeconds = 2.0;
constexpr double kMipTotalSeconds = 20.0;

// IisBoundStatus codes of the bounds that take part.
constexpr long kIisLower = 2, kIisUpper = 3, kIisBoxed = 4;

struct Highs {
  Ref highspy, numpy, h;
};

// A quiet HiGHS loaded with `form`; nothing when HiGHS refuses the data.
std::optional<Highs> loaded(const CompiledModel& form) {
  Highs s{import("highspy"), import("numpy"), {}};
  s.h = call_method(s.highspy.get(), "Highs");
  set_highs_option(s.h.get(), "output_flag", Py_False);
  if (!load_into_highs(s.h.get(), s.highspy.get(), s.numpy.get(), form)) return std::nullopt;
  return s;
}

dx::Verdict run(PyObject* h) {
  call_method(h, "run");
  Ref status = call_method(h, "getModelStatus");
  switch (map_highs_status(lower_text(status.get()))) {
    case SolveStatus::Infeasible: return dx::Verdict::Infeasible;
    // A zero objective is never unbounded, so this can only mean infeasible.
    case SolveStatus::InfeasibleOrUnbounded: return dx::Verdict::Infeasible;
    case SolveStatus::Optimal: return dx::Verdict::Feasible;
    default: return dx::Verdict::Unknown;
  }
}

std::vector<long> long_list(PyObject* seq) {
  Ref fast = py::check(PySequence_Fast(seq, "highspy IIS field is not a sequence"));
  const Py_ssize_t n = PySequence_Size(fast.get());
  if (n < 0) throw py::ErrorAlreadySet{};
  std::vector<long> out;
  out.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = py::check(PySequence_GetItem(fast.get(), i));
    Ref index = py::check(PyNumber_Index(item.get()));
    const long v = PyLong_AsLong(index.get());
    if (v == -1 && PyErr_Occurred()) throw py::ErrorAlreadySet{};
    out.push_back(v);
  }
  return out;
}

struct IisMembers {
  std::vector<size_t> rows;
  std::vector<dx::BoundMember> bounds;
  bool proven = true;  // every member shown needed within the time allowed
};

const char* const kNotProven =
    "(HiGHS could not decide every test within the time allowed, so some of these may not be needed.)";

// HiGHS's IIS of an infeasible LP; nothing when it could not give one.
std::optional<IisMembers> highs_iis(PyObject* h, size_t num_rows, size_t num_cols) {
  Ref answer = call_method(h, "getIis");
  if (!PyTuple_Check(answer.get()) || PyTuple_Size(answer.get()) != 2) return std::nullopt;
  if (highs_refused(PyTuple_GetItem(answer.get(), 0))) return std::nullopt;
  PyObject* iis = PyTuple_GetItem(answer.get(), 1);
  if (!PyObject_IsTrue(attr(iis, "valid_").get())) return std::nullopt;
  IisMembers m;
  for (long i : long_list(attr(iis, "row_index_").get())) {
    if (i < 0 || static_cast<size_t>(i) >= num_rows) return std::nullopt;
    m.rows.push_back(static_cast<size_t>(i));
  }
  const std::vector<long> cols = long_list(attr(iis, "col_index_").get());
  const std::vector<long> sides = long_list(attr(iis, "col_bound_").get());
  if (cols.size() != sides.size()) return std::nullopt;
  for (size_t k = 0; k < cols.size(); ++k) {
    if (cols[k] < 0 || static_cast<size_t>(cols[k]) >= num_cols) return std::nullopt;
    const uint32_t j = static_cast<uint32_t>(cols[k]);
    if (sides[k] == kIisLower) m.bounds.push_back({j, dx::BoundSide::Lower});
    if (sides[k] == kIisUpper) m.bounds.push_back({j, dx::BoundSide::Upper});
    if (sides[k] == kIisBoxed) m.bounds.push_back({j, dx::BoundSide::Both});
  }
  std::sort(m.rows.begin(), m.rows.end());
  std::sort(m.bounds.begin(), m.bounds.end(),
            [](const dx::BoundMember& a, const dx::BoundMember& b) { return a.variable < b.variable; });
  return m;
}

std::vector<size_t> positions_of(const std::vector<char>& members) {
  std::vector<size_t> out;
  for (size_t i = 0; i < members.size(); ++i) {
    if (members[i]) out.push_back(i);
  }
  return out;
}

// Rows only, over HiGHS runs (on the integer model, or on the relaxation when HiGHS gave no
// IIS): a row leaves when the others stay infeasible without it.
dx::ExactReport filter_by_runs(const ResultRecord& r, bool integer, std::optional<dx::Verdict>& refused_or_unknown,
                               const std::vector<char>* start = nullptr) {
  using clock = std::chrono::steady_clock;
  const auto began = clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(clock::now() - began).count(); };
  bool refused = false;
  auto test = [&](const std::vector<char>& members) {
    std::optional<Highs> s = loaded(dx::feasibility_form(stored_rows(r), stored_variables(r), &members, integer));
    if (!s) {
      refused = true;
      return dx::Verdict::Unknown;
    }
    const double left = std::max(0.01, kMipTotalSeconds - elapsed());
    set_highs_option(s->h.get(), "time_limit", py::float_obj(std::min(kMipRunSeconds, left)).get());
    return run(s->h.get());
  };
  const dx::FilterOutcome f =
      dx::deletion_filter(stored_rows(r).size(), start, test, [&] { return elapsed() >= kMipTotalSeconds; });
  if (refused || f.whole != dx::Verdict::Infeasible) {
    refused_or_unknown = refused ? dx::Verdict::Unknown : f.whole;
    return dx::describe(stored_rows(r), stored_variables(r), {}, {}, "");
  }
  std::vector<size_t> rows = positions_of(f.members);
  // Without rows the conflict is an integer variable whose interval holds no integer.
  std::vector<dx::BoundMember> bounds = rows.empty() && integer ? dx::integer_free_intervals(stored_variables(r))
                                                     : std::vector<dx::BoundMember>{};
  return dx::describe(stored_rows(r), stored_variables(r), rows, bounds, f.proven ? "" : kNotProven);
}

// HiGHS's candidate made irreducible: each row and each bound leaves when the rest stays
// infeasible without it, tested on the small subsystem alone.
std::optional<IisMembers> irreducible(const ResultRecord& r, const IisMembers& candidate) {
  const size_t k = candidate.rows.size();
  const size_t n = k + candidate.bounds.size();
  auto split = [&](const std::vector<char>& mask) {
    IisMembers m;
    for (size_t i = 0; i < n; ++i) {
      if (!mask[i]) continue;
      if (i < k) {
        m.rows.push_back(candidate.rows[i]);
      } else {
        m.bounds.push_back(candidate.bounds[i - k]);
      }
    }
    return m;
  };
  using clock = std::chrono::steady_clock;
  const auto began = clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(clock::now() - began).count(); };
  auto test = [&](const std::vector<char>& mask) {
    const IisMembers m = split(mask);
    std::optional<Highs> s = loaded(dx::subsystem_form(stored_rows(r), stored_variables(r), m.rows, m.bounds));
    return s ? run(s->h.get()) : dx::Verdict::Unknown;
  };
  const dx::FilterOutcome f = dx::deletion_filter(n, nullptr, test, [&] { return elapsed() >= kMipTotalSeconds; });
  if (f.whole != dx::Verdict::Infeasible) return std::nullopt;
  IisMembers out = split(f.members);
  out.proven = f.proven;
  return out;
}

bool has_integer(const ResultRecord& r) {
  return std::any_of(stored_variables(r).begin(), stored_variables(r).end(),
                     [](const VariableRecord& v) { return v.kind != VarKind::Continuous; });
}

}  // namespace

dx::ExactReport confirmed_subsystem(const ResultRecord& r, dx::Subsystem&& found) {
  // Propagation sees only part of what the rows imply, so a member it needs may be one that
  // HiGHS shows the others can do without.
  std::vector<char> start(stored_rows(r).size(), 0);
  for (size_t i : found.indices) start[i] = 1;
  GilEnsure gil;
  std::optional<dx::Verdict> undecided;
  dx::ExactReport refined = filter_by_runs(r, has_integer(r), undecided, &start);
  if (undecided || refined.subsystem.indices.size() == found.indices.size()) return {std::move(found), {}};
  return refined;
}

dx::ExactReport exact_subsystem(const ResultRecord& r) {
  const std::vector<dx::BoundMember> crossed = dx::contradictory_bounds(stored_variables(r));
  if (!crossed.empty()) return dx::describe(stored_rows(r), stored_variables(r), {}, crossed, "");

  GilEnsure gil;
  std::optional<Highs> s = loaded(dx::feasibility_form(stored_rows(r), stored_variables(r), nullptr, false));
  if (!s) return dx::describe(stored_rows(r), stored_variables(r), {}, {}, "");
  PyObject* h = s->h.get();
  set_highs_option(h, "iis_strategy", ints(kIisStrategy).get());
  const dx::Verdict lp = run(h);
  if (lp == dx::Verdict::Infeasible) {
    if (std::optional<IisMembers> candidate = highs_iis(h, stored_rows(r).size(), stored_variables(r).size())) {
      if (std::optional<IisMembers> m = irreducible(r, *candidate)) {
        return dx::describe(stored_rows(r), stored_variables(r), m->rows, m->bounds, m->proven ? "" : kNotProven);
      }
    }
  }
  const bool integer = has_integer(r);
  if (lp == dx::Verdict::Infeasible || (lp == dx::Verdict::Feasible && integer)) {
    std::optional<dx::Verdict> undecided;
    dx::ExactReport out = filter_by_runs(r, lp == dx::Verdict::Feasible, undecided);
    if (undecided == dx::Verdict::Unknown) {
      out.subsystem.explanation =
          "No infeasible subsystem found. (HiGHS could not decide within the time allowed whether the "
          "model is feasible.)";
    }
    return out;
  }
  return dx::describe(stored_rows(r), stored_variables(r), {}, {}, "");
}

}  // namespace velmo::binding
