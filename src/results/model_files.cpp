// Model.write: ".lp" writes the to_lp text, ".mps" goes through highspy's writer. A model
// either format would silently shorten (nonlinear terms, cones) or an LP reader would misread
// (non-finite numbers) is refused instead of written in part.
#include "results/model_files.hpp"

#include "modelling/model_type.hpp"
#include "module/args.hpp"
#include "results/export.hpp"
#include "solve/arrays.hpp"
#include "solve/highs_adapter.hpp"
#include "solve/model.hpp"

#include <cctype>
#include <cmath>
#include <type_traits>
#include <cerrno>
#include <cstdio>
#include <unordered_set>

namespace velmo::binding {

using py::Ref;
using namespace pycall;

namespace {

enum class FileFormat { Lp, Mps };

std::string path_text(PyObject* o) {
  if (!PyUnicode_Check(o) && !PyObject_HasAttrString(o, "__fspath__")) {
    py::raise_wrong_type(o, "write", "path", "str or os.PathLike");
  }
  Ref p = py::check(PyOS_FSPath(o));
  if (!PyUnicode_Check(p.get())) py::raise_wrong_type(o, "write", "path", "str or os.PathLike");
  return py::utf8(p.get());
}

FileFormat format_of(const std::string& path) {
  std::string lower;
  for (char c : path) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  auto ends = [&](const char* s) {
    const std::string t(s);
    return lower.size() >= t.size() && lower.compare(lower.size() - t.size(), t.size(), t) == 0;
  };
  if (ends(".lp")) return FileFormat::Lp;
  if (ends(".mps")) return FileFormat::Mps;
  py::raise(PyExc_ValueError, "write(): the file name must end in .lp or .mps, got '" + path + "'");
}

// What `format` cannot carry of this model, or nullptr.
const char* unwritable(const ModelData& d, FileFormat format) {
  if (!d.nonlinear_constraints.empty()) return "nonlinear constraints";
  if (d.objective && has_nonlinear_terms(*d.objective)) return "nonlinear objective";
  if (!d.soc_cones.empty() || !d.psd_cones.empty()) return "cones";
  // The LP format has no number for an infinite or NaN coefficient: a reader takes "inf" for
  // a variable name and so reads another model. (MPS goes through HiGHS, which refuses them.)
  if (format == FileFormat::Lp) {
    auto finite = [](const TermMap& t, double constant) {
      if (!std::isfinite(constant)) return false;
      for (const Term& e : t) {
        if (!std::isfinite(e.coef)) return false;
      }
      return true;
    };
    if (d.objective) {
      const Objective& o = *d.objective;
      const bool ok = std::visit(
          [&](const auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, Expr>) return finite(e.terms, e.constant);
            else return finite(e.linear, e.constant);
          },
          o);
      if (!ok) return "infinite or NaN objective coefficients";
    }
    for (const LinearRow& row : d.linear_constraints) {
      if (!finite(row.expr.terms, 0.0) || std::isnan(row.rhs)) return "infinite or NaN constraint coefficients";
    }
    for (const VariableRecord& v : d.variables) {
      if (std::isnan(v.lower) || std::isnan(v.upper)) return "NaN bounds";
    }
  }
  return nullptr;
}

// Names HiGHS can write and read back: non-empty, unique, without blanks.
bool usable_names(const std::vector<std::string>& names) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(names.size());
  for (const std::string& n : names) {
    if (n.empty() || n.find_first_of(" \t\r\n") != std::string::npos || !seen.insert(n).second) return false;
  }
  return true;
}

void write_text(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::ErrorAlreadySet{};
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int write_errno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    if (!written) errno = write_errno;  // report the first failure
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::ErrorAlreadySet{};
  }
}

// HiGHS's MPS writer puts an integer column between its integer markers only through its
// matrix or cost entries: one with neither reads back continuous (and can shift the markers
// onto a continuous neighbour), so such a model is refused rather than written changed.
const char* mps_integrality_lost(const CompiledModel& c) {
  for (size_t j = 0; j < c.integrality.size(); ++j) {
    if (c.integrality[j] != 0 && c.a_start[j] == c.a_start[j + 1] && c.col_cost[j] == 0.0) {
      return "integer variables without a linear constraint entry or a linear cost";
    }
  }
  return nullptr;
}

void pass_names(PyObject* h, const char* method, const std::vector<std::string>& names) {
  if (!usable_names(names)) return;  // HiGHS then writes names of its own
  Ref call_target = attr(h, method);
  for (size_t i = 0; i < names.size(); ++i) {
    call(call_target.get(), ints(static_cast<long long>(i)).get(), py::str(names[i]).get());
  }
}

void write_mps(const std::string& path, CompiledModel c, const std::vector<std::string>& col_names,
               const std::vector<std::string>& row_names) {
  // The file keeps the model's own sense: undo the minimisation form's sign.
  if (c.maximize) {
    for (double& v : c.col_cost) v = -v;
    if (c.hessian) {
      for (double& v : c.hessian->q_value) v = -v;
    }
    c.obj_offset = -c.obj_offset;
  }
  Ref highspy = import("highspy");
  Ref numpy = import("numpy");
  Ref highs = call_method(highspy.get(), "Highs");
  PyObject* h = highs.get();
  set_highs_option(h, "output_flag", Py_False);
  if (!load_into_highs(h, highspy.get(), numpy.get(), c)) {
    py::raise(PyExc_ValueError, "write(): HiGHS refused the model (NaN coefficients or bounds?); nothing was written");
  }
  if (c.maximize) {
    Ref sense = attr(attr(highspy.get(), "ObjSense").get(), "kMaximize");
    call_method(h, "changeObjectiveSense", sense.get());
  }
  if (c.obj_offset != 0.0) call_method(h, "changeObjectiveOffset", py::float_obj(c.obj_offset).get());
  pass_names(h, "passColName", col_names);
  pass_names(h, "passRowName", row_names);
  Ref st = call_method(h, "writeModel", py::str(path).get());
  if (highs_refused(st.get())) {
    py::raise(PyExc_OSError, "write(): HiGHS could not write '" + path + "'");
  }
}

}  // namespace

PyObject* model_write(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return py::guard([&] {
    py::Args a("write", {"path"}, 1, args, nargs, kwnames);
    const std::string path = path_text(a[0]);
    const FileFormat format = format_of(path);
    std::string text;
    CompiledModel compiled;
    std::vector<std::string> col_names;
    std::vector<std::string> row_names;
    const char* lost = nullptr;
    {
      // Everything the file needs is read under the lock; the file and HiGHS come after.
      ModelLock lock(reinterpret_cast<PyModel*>(self)->core);
      const ModelData& d = lock.data();
      lost = unwritable(d, format);
      if (lost == nullptr && format == FileFormat::Lp) text = lp_text(d);
      if (lost == nullptr && format == FileFormat::Mps) {
        compiled = compile_model(d);
        lost = mps_integrality_lost(compiled);
        col_names.reserve(d.variables.size());
        for (const VariableRecord& v : d.variables) col_names.push_back(v.name);
        row_names.reserve(d.linear_constraints.size());
        for (size_t i = 0; i < d.linear_constraints.size(); ++i) {
          row_names.push_back(row_label(d.linear_constraints[i], i, "c"));
        }
      }
    }
    if (lost != nullptr) {
      py::raise(PyExc_ValueError, std::string("write(): the model's ") + lost + " cannot be written to " +
                                      (format == FileFormat::Lp ? "an LP" : "an MPS") + " file");
    }
    if (format == FileFormat::Lp) {
      write_text(path, text);
    } else {
      write_mps(path, std::move(compiled), col_names, row_names);
    }
    return py::new_none();
  });
}

}  // namespace velmo::binding
