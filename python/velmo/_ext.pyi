# Type stubs for velmo._ext: the package's own expression functions (additions to velmo_opt).
from typing import Any, Iterable, Sequence, SupportsFloat, SupportsIndex, Union

from velmo_opt import Expr, NlExpr, QuadExpr, Var

_Number = Union[SupportsFloat, SupportsIndex]
_Operand = Union[Var, Expr, QuadExpr, NlExpr, _Number]

def exp(obj: _Operand) -> NlExpr:
    """The exponential of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."""
def log(obj: _Operand) -> NlExpr:
    """The natural logarithm of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."""
def tan(obj: _Operand) -> NlExpr:
    """The tangent of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."""
def atan(obj: _Operand) -> NlExpr:
    """The arc tangent of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."""
def tanh(obj: _Operand) -> NlExpr:
    """The hyperbolic tangent of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."""
def abs(obj: _Operand) -> NlExpr:
    """The absolute value of a Var, Expr, QuadExpr, NlExpr or number, as an NlExpr."""
def power(base: _Operand, exponent: SupportsFloat) -> Expr | QuadExpr | NlExpr:
    """``base ** exponent`` for a numeric exponent.

    :param base: the expression raised to the power.
    :param exponent: a finite number; 1 gives the base back as an expression, 2 of a linear
        base the expanded QuadExpr, anything else an NlExpr power node.
    """
def square(e: _Operand) -> QuadExpr | NlExpr:
    """``power(e, 2)``: the expanded QuadExpr of a linear ``e``, an NlExpr otherwise."""
def product(a: _Operand, b: _Operand) -> Expr | QuadExpr | NlExpr:
    """``a * b`` for any two operands: a number scales, two linear operands give the expanded
    QuadExpr, anything else an NlExpr product."""
def dot(coefficients: Sequence[SupportsFloat] | Any, items: Sequence[_Operand]) -> Expr | QuadExpr | NlExpr:
    """``sum(c * item)``, built in C++ without a Python object per term.

    :param coefficients: a 1-D sequence or NumPy array of numbers.
    :param items: a sequence of the same length of Var, Expr, QuadExpr, NlExpr or numbers.
    """
def quad_form(items: Sequence[Var], Q: Any) -> QuadExpr:
    """``x'Qx`` as a QuadExpr, built in bulk.

    :param items: a sequence of n Var.
    :param Q: a dense (NumPy or nested sequence) or ``scipy.sparse`` n x n matrix, taken as given.
    """
def sum(items: Iterable[_Operand]) -> Expr | QuadExpr | NlExpr:
    """The sum of any iterable of Var, Expr, QuadExpr, NlExpr or numbers, in linear time, as the
    narrowest expression type that holds it."""
