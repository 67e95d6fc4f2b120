"""Decisions under uncertainty with stochastic_solve, and a problem split into pieces with
solve_admm."""

import numpy as np

import velmo as vo

# ---- Newsvendor: buy q papers at 1.0 each, sell min(q, demand) at 4.0.
c, p = 1.0, 4.0
demands = np.random.default_rng(1).gamma(4.0, 25.0, size=50)
scenarios = [{"demand": float(d)} for d in demands]


def cost(x, s):
    q = x[0]
    return c * q - p * min(q, s["demand"])


r = vo.stochastic_solve(cost, [(0.0, 400.0)], scenarios)
print(r)
print(f"order {r.x[0]:.2f}; the 75% demand quantile is {np.sort(demands)[37]:.2f}")

# With probabilities, the expectation is weighted: 90% of days sell 10, 10% sell 100.
two_days = [{"demand": 10, "probability": 0.9}, {"demand": 100, "probability": 0.1}]
print("weighted order:", round(vo.stochastic_solve(cost, [(0.0, 200.0)], two_days).x[0], 3))

# ---- Least squares over four data blocks: each block solves only its own proximal step
#      argmin |A_i x - b_i|^2 + rho/2 |x - target|^2 and never sees the other blocks' data.
rng = np.random.default_rng(7)
blocks = [(rng.normal(size=(20, 5)), rng.normal(size=20)) for _ in range(4)]


def block(a, b):
    lhs = np.linalg.inv(2 * a.T @ a + np.eye(5))  # for rho = 1
    rhs = 2 * a.T @ b
    return lambda rho, target: lhs @ (rhs + rho * np.asarray(target))


result = vo.solve_admm([block(a, b) for a, b in blocks], 5, rho=1.0, max_iter=2000, tol=1e-9)
exact = np.linalg.lstsq(np.vstack([a for a, _ in blocks]), np.concatenate([b for _, b in blocks]),
                        rcond=None)[0]
print(list(result)[:3], "...")
print(f"converged={result['converged']} after {result['iterations']} iterations; "
      f"largest difference from lstsq {np.max(np.abs(np.array(result['x']) - exact)):.1e}")
