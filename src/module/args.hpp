// Argument binding and conversion for the binding layer: every failure names the parameter.
#pragma once

#include "module/py.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace velmo::py {

// Binds vectorcall arguments (METH_FASTCALL | METH_KEYWORDS) to named parameters by position
// or keyword. Values are borrowed; an omitted parameter reads as nullptr. With
// `collect_kwargs`, keywords that name no parameter go into a dict (the `**kwargs` of the
// text signature); otherwise they are an error.
class Args {
 public:
  static constexpr size_t kMaxParams = 8;

  Args(const char* fname, std::initializer_list<const char*> names, size_t required,
       PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, bool collect_kwargs = false);

  PyObject* operator[](size_t i) const noexcept { return values_[i]; }
  bool has(size_t i) const noexcept { return values_[i] != nullptr; }
  // The collected `**kwargs` dict (borrowed), or nullptr when no extra keyword was given.
  PyObject* kwargs() const noexcept { return kwargs_.get(); }
  const char* fname() const noexcept { return fname_; }
  const char* name(size_t i) const noexcept { return names_[i]; }

  std::string text(size_t i) const;
  std::optional<std::string> optional_text(size_t i) const;
  double real(size_t i, double fallback) const;
  uint64_t count(size_t i) const;

 private:
  const char* fname_;
  std::array<const char*, kMaxParams> names_{};
  std::array<PyObject*, kMaxParams> values_{};
  Ref kwargs_;
};

// Conversions of one value; `fname` and `pname` only feed the error message.
std::string to_text(PyObject* o, const char* fname, const char* pname);
double to_real(PyObject* o, const char* fname, const char* pname);
uint64_t to_u64(PyObject* o, const char* fname, const char* pname);
uint32_t to_u32(PyObject* o, const char* fname, const char* pname);
int32_t to_i32(PyObject* o, const char* fname, const char* pname);
bool to_bool(PyObject* o, const char* fname, const char* pname);
// The items of a sequence that is not a str, as owned references in order.
std::vector<Ref> to_object_list(PyObject* o, const char* fname, const char* pname);

[[noreturn]] void raise_wrong_type(PyObject* o, const char* fname, const char* pname,
                                   const char* expected);

// UTF-8 view of a str; throws with the Python error set when encoding fails.
std::string utf8(PyObject* str);

// The operand rule for numbers: anything Python's float conversion takes (float, int, bool,
// NumPy scalars, objects with __float__ or __index__). A failed conversion is discarded,
// except KeyboardInterrupt and SystemExit, which propagate (ErrorAlreadySet).
bool as_number(PyObject* o, double* out);

}  // namespace velmo::py
