"""Sums of 10^5 terms written the ways users write them: `e += t` in a loop, `e = e + t`,
builtin `sum`, NumPy `@` and `.sum()` over object arrays, against the module's own `sum` over
a list (one accumulator). Also a portfolio-style quadratic objective summed with builtin `sum`.
Prints the best of three seconds per way, and the ratio to the module's `sum`.

    python bench/bench_large_sums.py [terms]
"""

import sys

import numpy as np
from timing import best_time

import velmo as vo

N = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000


def main():
    m = vo.Model()
    xs = m.variables("x", N)
    coef = np.linspace(0.5, 2.0, N)
    terms = [c * x for c, x in zip(coef.tolist(), xs)]
    arr = np.empty(N, dtype=object)
    arr[:] = xs
    tarr = np.empty(N, dtype=object)
    tarr[:] = terms

    def plus_equals():
        e = 0
        for t in terms:
            e += t
        return e

    def rebinding():
        e = terms[0]
        for t in terms[1:]:
            e = e + t
        return e

    ways = [
        ("velmo sum(list) (reference)", lambda: vo.sum(terms)),
        ("e += t", plus_equals),
        ("e = e + t", rebinding),
        ("builtin sum", lambda: sum(terms)),
        ("numpy coef @ x (object)", lambda: coef @ arr),
        ("numpy terms.sum() (object)", lambda: tarr.sum()),
    ]
    k = int(N ** 0.5)  # about N/2 product terms
    w = xs[:k]
    cov = np.random.default_rng(3).uniform(0.1, 1.0, size=(k, k)).tolist()
    products = [(w[i] * w[j]) * cov[i][j] for i in range(k) for j in range(i, k)]
    ways.append((f"quadratic builtin sum ({len(products)} terms)", lambda: sum(products)))

    print(f"{N} terms (the machine is shared: read the ratios, not the seconds)")
    base = None
    for name, fn in ways:
        t, _ = best_time(fn, repeats=3)
        base = base or t
        print(f"{name:38s} {t:8.4f} s   x{t / base:5.2f} of velmo sum")


if __name__ == "__main__":
    main()
