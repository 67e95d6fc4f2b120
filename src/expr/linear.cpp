// Text forms of linear expressions and rows.
#include "expr/linear.hpp"

#include "expr/number_text.hpp"

#include <cmath>

namespace velmo {

const char* sense_text(ConstraintSense s) noexcept {
  switch (s) {
    case ConstraintSense::Le: return "<=";
    case ConstraintSense::Ge: return ">=";
    case ConstraintSense::Eq: return "==";
  }
  return "?";
}

void append_expr_text(std::string& out, const TermMap& terms, double constant) {
  if (terms.empty()) {
    append_number(out, constant);
    return;
  }
  bool first = true;
  for (const Term& t : terms) {
    const double c = t.coef;
    if (first) {
      if (c < 0) out += '-';
      first = false;
    } else if (c >= 0) {
      out += " + ";
    } else if (c < 0) {
      out += " - ";
    }  // NaN: no separator
    if (!(std::fabs(std::fabs(c) - 1.0) < 1e-15)) {
      append_number(out, std::fabs(c));
      out += '*';
    }
    out += 'x';
    out += std::to_string(t.index);
  }
  if (constant != 0) {
    if (constant >= 0) {
      out += " + ";
      append_number(out, constant);
    } else if (constant < 0) {
      out += " - ";
      append_number(out, -constant);
    } else {
      append_number(out, constant);  // NaN goes straight after the terms
    }
  }
}

std::string expr_text(const Expr& e) {
  std::string s;
  append_expr_text(s, e.terms, e.constant);
  return s;
}

void append_relation(std::string& out, ConstraintSense sense, double rhs) {
  out += ' ';
  out += sense_text(sense);
  out += ' ';
  append_number(out, rhs);
}

std::string row_text(const LinearRow& row) {
  std::string s;
  if (row.name.has_value()) {
    s += *row.name;
    s += ": ";
  }
  append_expr_text(s, row.expr.terms, row.expr.constant);
  append_relation(s, row.sense, row.rhs);
  return s;
}

std::string row_label(const LinearRow& row, size_t position, const char* prefix) {
  if (row.name.has_value()) return *row.name;
  std::string s = prefix;  // appended, not prefix + text: g++ 12 warns falsely on that
  s += std::to_string(position);
  return s;
}

}  // namespace velmo
