"""velmo: optimisation models written as ordinary Python arithmetic.

``import velmo as vo`` gives the compiled module ``velmo_opt`` re-exported (``vo.Model``,
``vo.sin`` and the rest) plus the package's own additions, compiled in ``velmo._ext``:

- one-operand functions ``exp``, ``log``, ``tan``, ``atan``, ``tanh``, ``abs``;
- ``power(base, exponent)``, ``square(e)`` and ``product(a, b)``, which build the powers and
  products the operators refuse;
- ``dot(coefficients, items)`` and ``quad_form(items, Q)``, built in bulk;
- ``sum(items)``, which replaces ``velmo_opt.sum`` here: any iterable of numbers, ``Var``,
  ``Expr``, ``QuadExpr`` or ``NlExpr``, giving the narrowest type that holds the result
  (``velmo_opt.sum`` itself keeps taking a list of ``Var``, ``Expr`` and numbers).

Additions of ours on the compiled classes: ``Result.ranging()`` with the ``ranging`` option of
``Model.solve``; the "bounds" key of ``Result.infeasibility_report()``, which asks HiGHS for
the conflict when bound propagation finds none; ``Model.add_matrix`` (rows from a NumPy or
scipy.sparse matrix) and ``Model.write`` (LP or MPS file); per-variable ``lower``/``upper``
arrays and a ``names`` sequence on the batch methods; NumPy arrays read in bulk by the
``PersistentHighs`` updates.

``read_model(path)``, a ``Model`` from an LP or MPS file, is written in Python
(``velmo.model_files``).
"""

import velmo_opt as _opt

from velmo import _ext

from velmo.model_files import read_model

_EXT = ("exp", "log", "tan", "atan", "tanh", "abs", "power", "square", "product", "dot", "quad_form", "sum")
#: The names this package adds to (or, for ``sum``, widens from) ``velmo_opt``.
ADDITIONS = _EXT + ("read_model",)

# `abs` stays out of the star-import: it would replace the builtin for numbers too.
__all__ = sorted(({name for name in dir(_opt) if not name.startswith("_")} | set(ADDITIONS)) - {"abs"})
globals().update({name: getattr(_opt, name) for name in dir(_opt) if not name.startswith("_")})
globals().update({name: getattr(_ext, name) for name in _EXT})
__version__ = "0.1.0"
