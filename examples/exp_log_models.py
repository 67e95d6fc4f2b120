"""Models with exp, log and real powers, written with the velmo package's functions.

A logistic regression fitted by maximum likelihood, and an entropy-maximising distribution
with a known mean: both solved by Ipopt.
"""

import numpy as np

import velmo as vo


def logistic_regression():
    rng = np.random.default_rng(0)
    X = rng.normal(size=(200, 3))
    truth = np.array([1.5, -2.0, 0.5])
    y = (rng.uniform(size=200) < 1 / (1 + np.exp(-(X @ truth)))).astype(float)
    m = vo.Model("logistic")
    w = m.variables("w", 3, lower=-10, upper=10)
    # Negative log-likelihood: sum of log(1 + exp(z)) - y z with z = X[i] @ w.
    z = [vo.dot(X[i], w) for i in range(len(y))]
    m.minimize(vo.sum(vo.log(1 + vo.exp(z[i])) - y[i] * z[i] for i in range(len(y))))
    r = m.solve()
    print(f"logistic regression: {r.status}, weights {np.round(r.primals, 3)} (true {truth})")


def maximum_entropy():
    values = np.arange(1, 7)
    m = vo.Model("entropy")
    p = m.variables("p", 6, lower=1e-9, upper=1)
    m.maximize(vo.sum(-1 * vo.product(q, vo.log(q)) for q in p))
    m.add(vo.sum(p) == 1)
    m.add(vo.dot(values, p) == 4.5)  # a loaded die whose mean is 4.5
    r = m.solve()
    print(f"maximum entropy die: {r.status}, p = {np.round(r.primals, 4)}, entropy {r.objective:.6f}")


if __name__ == "__main__":
    logistic_regression()
    maximum_entropy()
