// The three number texts of the module: shortest round-trip plain decimal, fixed-point and
// exponent form.
#pragma once

#include <string>

namespace velmo {

// Shortest decimal that reads back to the same double, never with an exponent: 1e-7 is
// "0.0000001", 1e20 is "100000000000000000000", 2.0 is "2", -0.0 is "-0", and the
// non-finite values are "inf", "-inf" and "NaN".
void append_number(std::string& out, double v);
std::string number_text(double v);

// Fixed-point with exactly `digits` digits after the point ("12.500000"), rounded to nearest
// from the exact binary value; "inf", "-inf" and "NaN" for non-finite values.
void append_fixed(std::string& out, double v, int digits);
std::string fixed_text(double v, int digits);

// Exponent form with `digits` digits after the mantissa's point, a lower-case e and no plus
// sign or leading zeros in the exponent: (0.001, 2) is "1.00e-3", (1e7, 0) is "1e7".
void append_exponent(std::string& out, double v, int digits);
std::string exponent_text(double v, int digits);

}  // namespace velmo
