"""velmo: optimisation models written as ordinary Python arithmetic.

Everything here is the compiled module ``velmo_opt`` re-exported, so ``import velmo as vo``
gives ``vo.Model``, ``vo.sum``, ``vo.sin`` and the rest.

Additions of ours on the compiled classes: ``Result.ranging()`` with the ``ranging`` option of
``Model.solve``; the "bounds" key of ``Result.infeasibility_report()``, which asks HiGHS for
the conflict when bound propagation finds none.
"""

import velmo_opt as _opt

__all__ = [name for name in dir(_opt) if not name.startswith("_")]
globals().update({name: getattr(_opt, name) for name in __all__})
__version__ = "0.1.0"
