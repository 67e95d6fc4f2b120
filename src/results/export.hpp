// The model's text exports: LP-format text, the one-line summary and a standalone Python
// program that rebuilds and solves the model.
#pragma once

#include "modelling/model_data.hpp"

#include <string>
#include <string_view>

namespace velmo {

std::string lp_text(const ModelData& m);
std::string summary_text(const ModelData& m);
std::string python_text(const ModelData& m);

// A Python string literal for UTF-8 text, written the way repr() writes a str: quotes chosen
// by content, backslash escapes for quotes, backslashes and characters that must not appear
// raw in source (controls, line separators, direction overrides).
std::string python_string_literal(std::string_view s);

}  // namespace velmo
