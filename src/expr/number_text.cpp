// Number texts built on std::to_chars (locale-independent, exact round trip).
#include "expr/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace velmo {
namespace {

bool append_non_finite(std::string& out, double v) {
  if (std::isnan(v)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(v)) {
    out += v < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

void append_number(std::string& out, double v) {
  if (append_non_finite(out, v)) return;
  if (v == 0) {
    out += std::signbit(v) ? "-0" : "0";
    return;
  }
  // Shortest round-trip digits in scientific form "[-]d[.ddd]e[+-]XX", then the exponent is
  // expanded into a plain decimal.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e_pos = sci.find('e');
  std::string_view mantissa = sci.substr(0, e_pos);
  const int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
  if (mantissa.front() == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') digits += c;
  }
  const int point = exponent + 1;  // digits before the decimal point
  const int ndigits = static_cast<int>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-point), '0');
    out += digits;
  } else if (point >= ndigits) {
    out += digits;
    out.append(static_cast<size_t>(point - ndigits), '0');
  } else {
    out.append(digits, 0, static_cast<size_t>(point));
    out += '.';
    out.append(digits, static_cast<size_t>(point));
  }
}

std::string number_text(double v) {
  std::string s;
  append_number(s, v);
  return s;
}

void append_fixed(std::string& out, double v, int digits) {
  if (append_non_finite(out, v)) return;
  char buf[400];  // 309 integer digits of DBL_MAX, the point and the fraction
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits);
  out.append(buf, static_cast<size_t>(res.ptr - buf));
}

std::string fixed_text(double v, int digits) {
  std::string s;
  append_fixed(s, v, digits);
  return s;
}

void append_exponent(std::string& out, double v, int digits) {
  if (append_non_finite(out, v)) return;
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, digits);
  std::string_view sci(buf, static_cast<size_t>(res.ptr - buf));
  const size_t e_pos = sci.find('e');
  out.append(sci.substr(0, e_pos + 1));
  std::string_view exp = sci.substr(e_pos + 1);
  if (exp.front() == '-') out += '-';
  if (exp.front() == '-' || exp.front() == '+') exp.remove_prefix(1);
  while (exp.size() > 1 && exp.front() == '0') exp.remove_prefix(1);
  out.append(exp);
}

std::string exponent_text(double v, int digits) {
  std::string s;
  append_exponent(s, v, digits);
  return s;
}

}  // namespace velmo
