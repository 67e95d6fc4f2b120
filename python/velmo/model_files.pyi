import os

from velmo_opt import Model

def read_model(path: str | os.PathLike[str]) -> Model:
    """Build a ``Model`` from an LP or MPS file read by HiGHS, names kept.

    :param path: an ``.lp`` or ``.mps`` file (optionally gzipped). A ranged row
        ``lo <= a x <= up`` becomes ``a x <= up`` followed, after all rows, by ``a x >= lo``
        named ``<row>_lower``.
    """
