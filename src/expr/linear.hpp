// Linear expressions, the linear constraint record and their text forms.
#pragma once

#include "expr/term_map.hpp"

#include <cstdint>
#include <memory>
#include <string>

namespace velmo {

struct Expr {
  TermMap terms;
  double constant = 0.0;

  static Expr of_var(uint32_t index) {
    Expr e;
    e.terms.set_term(index, 1.0);
    return e;
  }
};

enum class ConstraintSense : uint8_t { Le = 0, Ge = 1, Eq = 2 };
const char* sense_text(ConstraintSense s) noexcept;

// An optional constraint name; a pointer keeps unnamed records (the common case) small.
class OptionalName {
 public:
  OptionalName() = default;
  explicit OptionalName(std::string s) : p_(std::make_unique<std::string>(std::move(s))) {}
  OptionalName(const OptionalName& o) : p_(o.p_ ? std::make_unique<std::string>(*o.p_) : nullptr) {}
  OptionalName(OptionalName&&) noexcept = default;
  OptionalName& operator=(const OptionalName& o) {
    p_ = o.p_ ? std::make_unique<std::string>(*o.p_) : nullptr;
    return *this;
  }
  OptionalName& operator=(OptionalName&&) noexcept = default;

  bool has_value() const noexcept { return p_ != nullptr; }
  const std::string& operator*() const noexcept { return *p_; }

 private:
  std::unique_ptr<std::string> p_;
};

// `expr` relates to `rhs` by `sense`; the layer always stores expr.constant == 0.
struct LinearRow {
  OptionalName name;
  Expr expr;
  double rhs = 0.0;
  ConstraintSense sense = ConstraintSense::Le;
};

// Expression text ("x0 + 2*x1 - 3"), as printed by repr and every diagnostic.
void append_expr_text(std::string& out, const TermMap& terms, double constant);
std::string expr_text(const Expr& e);
std::string row_text(const LinearRow& row);
// A constraint's name, or `prefix` followed by its position when it has none ("c3",
// "constraint_3": the places that print constraints each have their own prefix).
std::string row_label(const LinearRow& row, size_t position, const char* prefix);

// Appends " <sense> <rhs>" to a constraint text.
void append_relation(std::string& out, ConstraintSense sense, double rhs);

}  // namespace velmo
