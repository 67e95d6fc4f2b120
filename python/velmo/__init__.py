"""velmo: optimisation models written as ordinary Python arithmetic.

Everything of the compiled module ``velmo_opt`` is re-exported, so ``import velmo as vo``
gives ``vo.Model``, ``vo.sum``, ``vo.sin`` and the rest.

Additions of this package beyond that surface:

- ``read_model(path)``: a ``Model`` from an LP or MPS file (``velmo.model_files``);
- ``Model.add_matrix`` (rows from a NumPy or scipy.sparse matrix) and ``Model.write`` (LP or
  MPS file), methods of the compiled ``Model``;
- the batch methods ``variables``/``integers`` take per-variable ``lower``/``upper`` arrays
  and, like ``binaries``, a ``names`` sequence; ``PersistentHighs`` updates read NumPy arrays
  in bulk.
"""

import velmo_opt as _opt

__all__ = [name for name in dir(_opt) if not name.startswith("_")]
globals().update({name: getattr(_opt, name) for name in __all__})

from velmo.model_files import read_model  # noqa: E402  (an addition, see above)

__all__.append("read_model")
__version__ = "0.1.0"
