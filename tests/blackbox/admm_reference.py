"""Pure-Python scaled-form consensus ADMM, written from the algorithm's description, operation
for operation. The extension must reproduce it bit for bit: the same calls with the same
arguments and the same returned dict."""

import math

from stochastic_reference import as_number


def local_point(func, rho, target, dim):
    """The subproblem's answer as dim floats; None (the loop uses zeros) when it fails, is
    shorter than dim, is a str or is no sequence. A request to stop the program propagates."""
    try:
        answer = func(rho, list(target))
        if isinstance(answer, (str, dict)):
            return None
        values = [as_number(answer[k]) for k in range(len(answer))]
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:
        return None
    if len(values) < dim:
        return None
    return values[:dim]


def admm(subproblems, dim, rho=1.0, max_iter=200, tol=1e-6):
    n = len(subproblems)
    rho, tol = float(rho), float(tol)
    z = [0.0] * dim
    xs = [[0.0] * dim for _ in range(n)]
    us = [[0.0] * dim for _ in range(n)]
    r = s = 0.0
    iterations = 0
    converged = False
    for k in range(1, max_iter + 1):
        z_old = list(z)
        failed = False
        for i, f in enumerate(subproblems):
            target = [z[j] - us[i][j] for j in range(dim)]
            point = local_point(f, rho, target, dim)
            failed = failed or point is None
            xs[i] = [0.0] * dim if point is None else point
        for j in range(dim):
            total = 0.0
            for i in range(n):
                total += xs[i][j] + us[i][j]
            z[j] = total / float(n) if n else math.nan
        primal = 0.0
        for i in range(n):
            for j in range(dim):
                us[i][j] = us[i][j] + xs[i][j] - z[j]
                d = xs[i][j] - z[j]
                primal += d * d
        dual = 0.0
        for j in range(dim):
            d = rho * float(n) * (z[j] - z_old[j])
            dual += d * d
        r, s = math.sqrt(primal), math.sqrt(dual)
        iterations = k
        if not failed and r < tol and s < tol:  # a failed call's zeros prove nothing
            converged = True
            break
    return {"x": list(z), "z": list(z), "iterations": iterations, "primal_residual": r,
            "dual_residual": s, "converged": converged}
