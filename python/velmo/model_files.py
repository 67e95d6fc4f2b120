"""Reading a model from an LP or MPS file (``Model.write`` is the other direction)."""

import os

import numpy as np

import velmo_opt as _opt

_SUFFIXES = (".lp", ".mps", ".lp.gz", ".mps.gz")


def _rows_by_sense(lower, upper):
    """Each HiGHS row [lower, upper] as (sense, rhs) rows: "==" when the two agree, one side
    when the other is infinite, and both sides (an extra ">=" row) for a ranged row."""
    lo_inf, up_inf = np.isneginf(lower), np.isposinf(upper)
    equal = lower == upper
    sense = np.where(equal, "==", np.where(lo_inf, "<=", np.where(up_inf, ">=", "<=")))
    rhs = np.where(equal | ~lo_inf & up_inf, lower, upper)
    ranged = ~equal & ~lo_inf & ~up_inf
    return sense, rhs, ranged


def read_model(path):
    """read_model(path) -> Model

    Build a Model from an LP or MPS file read by HiGHS: variables with their bounds, kinds
    and names, one constraint per row (a ranged row lo <= a x <= up becomes ``a x <= up``
    followed, after all rows, by ``a x >= lo`` named ``<row>_lower``), and the linear or
    quadratic objective with its sense and constant."""
    import highspy
    import scipy.sparse as sp

    path = os.fspath(path)
    if not isinstance(path, str):
        raise TypeError(f"read_model(): argument 'path' must be str or os.PathLike, not {type(path).__name__}")
    if not path.lower().endswith(_SUFFIXES):
        raise ValueError(f"read_model(): the file name must end in .lp or .mps, got '{path}'")
    if not os.path.isfile(path):
        raise FileNotFoundError(f"read_model(): no such file: '{path}'")
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    if h.readModel(path) == highspy.HighsStatus.kError:
        raise ValueError(f"read_model(): HiGHS could not read '{path}'")
    model = h.getModel()
    lp = model.lp_
    n, m_rows = lp.num_col_, lp.num_row_
    integrality = np.asarray(lp.integrality_, dtype=np.int64) if len(lp.integrality_) else np.zeros(n, np.int64)
    if np.any((integrality != 0) & (integrality != 1)):
        raise ValueError("read_model(): semi-continuous and semi-integer columns are not supported")

    m = _opt.Model(lp.model_name_ or os.path.splitext(os.path.basename(path))[0])
    names = list(lp.col_names_) if len(lp.col_names_) == n else [f"x{j}" for j in range(n)]
    lower, upper = np.asarray(lp.col_lower_, float), np.asarray(lp.col_upper_, float)
    xs = []
    # Runs of one kind in column order keep every variable at its column's index.
    start = 0
    while start < n:
        end = start + 1
        while end < n and integrality[end] == integrality[start]:
            end += 1
        add = m.integers if integrality[start] == 1 else m.variables
        xs += add("x", end - start, lower=lower[start:end], upper=upper[start:end], names=names[start:end])
        start = end

    a = lp.a_matrix_
    shape = (m_rows, n)
    arrays = (np.asarray(a.value_, float), np.asarray(a.index_), np.asarray(a.start_))
    if str(a.format_).endswith("kRowwise"):
        matrix = sp.csr_matrix(arrays, shape=shape)
    else:
        matrix = sp.csc_matrix(arrays, shape=shape).tocsr()
    row_names = list(lp.row_names_) if len(lp.row_names_) == m_rows else None
    row_lower, row_upper = np.asarray(lp.row_lower_, float), np.asarray(lp.row_upper_, float)
    sense, rhs, ranged = _rows_by_sense(row_lower, row_upper)
    if m_rows:
        m.add_matrix(matrix, xs, sense, rhs, name=row_names)
    if ranged.any():
        which = np.flatnonzero(ranged)
        extra = None if row_names is None else [f"{row_names[i]}_lower" for i in which]
        m.add_matrix(matrix[which], xs, ">=", row_lower[which], name=extra)

    cost = np.asarray(lp.col_cost_, float)
    objective = _opt.sum([c * xs[j] for j, c in zip(np.flatnonzero(cost), cost[cost != 0])]) + lp.offset_
    hessian = model.hessian_
    if hessian.dim_ > 0 and len(hessian.value_):
        # HiGHS's Hessian Q (a triangle by columns) means 0.5 x'Qx: diagonal entries count half.
        q = sp.csc_matrix((np.asarray(hessian.value_, float), np.asarray(hessian.index_),
                           np.asarray(hessian.start_)), shape=(hessian.dim_, hessian.dim_)).tocoo()
        terms = [(xs[i] * xs[j]) * ((0.5 if i == j else 1.0) * v) for i, j, v in zip(q.row, q.col, q.data)]
        objective = sum(terms, objective)
    if lp.sense_ == highspy.ObjSense.kMaximize:
        m.maximize(objective)
    else:
        m.minimize(objective)
    return m
