// The modelling layer's own errors: a code thrown by the core, raised as ValueError with the
// message of the table by the binding.
#pragma once

#include <string>

namespace velmo {

enum class ErrorCode {
  LinearOperand,   // + or - of Var/Expr with an unsupported operand
  VarProduct,      // * of Var with an unsupported operand
  ExprProduct,     // * of Expr with an unsupported operand
  LinearRhs,       // comparison of Var/Expr with an unsupported right side
  VarPower,        // Var ** n, n not 1 or 2
  DivisionByZero,
  SumItem,
  QuadOperand,     // + or - of QuadExpr with an unsupported operand
  NonlinearOperand,
  ObjectiveValue,
  SocCone,
  PsdCone,
};

const char* error_message(ErrorCode code) noexcept;

struct ModelError {
  ErrorCode code;
};

[[noreturn]] inline void fail(ErrorCode code) { throw ModelError{code}; }

// Input the core refuses with a message of its own (raised as ValueError).
struct InvalidInput {
  std::string message;
};

}  // namespace velmo
