// Which model an expression's variables come from.
#pragma once

#include <cstdint>

namespace velmo {

// Every Model gets a process-unique serial when it is created (never 0, never reused while
// the process runs). Var, Expr, QuadExpr, NlExpr and Constraint objects carry the serial of
// the model their variables come from, so a model can refuse another model's variables
// before storing them; a Var keeps no reference to its Model, and a Result only remembers
// the serial. The tag is one word per expression object, not per term: operators combine
// the tags of their operands. kNoModel marks an expression without variables (a number
// promoted by arithmetic, an empty sum); kMixedModels one built from two models' variables,
// which the arithmetic still answers for but no model accepts.
using ModelSerial = uint64_t;
inline constexpr ModelSerial kNoModel = 0;
inline constexpr ModelSerial kMixedModels = UINT64_MAX;

constexpr ModelSerial combine_models(ModelSerial a, ModelSerial b) noexcept {
  if (a == kNoModel) return b;
  if (b == kNoModel || a == b) return a;
  return kMixedModels;
}

// A fresh serial for a new model (thread-safe).
ModelSerial next_model_serial() noexcept;

}  // namespace velmo
