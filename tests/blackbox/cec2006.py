"""Constrained test problems g01, g04, g06, g08 and g09 of the CEC 2006 benchmark, written from
their published definitions: objective, constraints g(x) <= 0, bounds and best known value."""

import math
from dataclasses import dataclass
from typing import Callable


@dataclass(frozen=True)
class Problem:
    name: str
    objective: Callable
    constraints: Callable
    bounds: list
    best: float


def g01_f(x):
    return 5 * sum(x[:4]) - 5 * sum(v * v for v in x[:4]) - sum(x[4:13])


def g01_g(x):
    return [
        2 * x[0] + 2 * x[1] + x[9] + x[10] - 10,
        2 * x[0] + 2 * x[2] + x[9] + x[11] - 10,
        2 * x[1] + 2 * x[2] + x[10] + x[11] - 10,
        -8 * x[0] + x[9],
        -8 * x[1] + x[10],
        -8 * x[2] + x[11],
        -2 * x[3] - x[4] + x[9],
        -2 * x[5] - x[6] + x[10],
        -2 * x[7] - x[8] + x[11],
    ]


def g04_f(x):
    return 5.3578547 * x[2] ** 2 + 0.8356891 * x[0] * x[4] + 37.293239 * x[0] - 40792.141


def g04_g(x):
    u = 85.334407 + 0.0056858 * x[1] * x[4] + 0.0006262 * x[0] * x[3] - 0.0022053 * x[2] * x[4]
    v = 80.51249 + 0.0071317 * x[1] * x[4] + 0.0029955 * x[0] * x[1] + 0.0021813 * x[2] ** 2
    w = 9.300961 + 0.0047026 * x[2] * x[4] + 0.0012547 * x[0] * x[2] + 0.0019085 * x[2] * x[3]
    return [u - 92, -u, v - 110, -v + 90, w - 25, -w + 20]


def g06_f(x):
    return (x[0] - 10) ** 3 + (x[1] - 20) ** 3


def g06_g(x):
    return [-(x[0] - 5) ** 2 - (x[1] - 5) ** 2 + 100, (x[0] - 6) ** 2 + (x[1] - 5) ** 2 - 82.81]


def g08_f(x):
    return -(math.sin(2 * math.pi * x[0]) ** 3) * math.sin(2 * math.pi * x[1]) / (x[0] ** 3 * (x[0] + x[1]))


def g08_g(x):
    return [x[0] ** 2 - x[1] + 1, 1 - x[0] + (x[1] - 4) ** 2]


def g09_f(x):
    x1, x2, x3, x4, x5, x6, x7 = x
    return ((x1 - 10) ** 2 + 5 * (x2 - 12) ** 2 + x3 ** 4 + 3 * (x4 - 11) ** 2 + 10 * x5 ** 6
            + 7 * x6 ** 2 + x7 ** 4 - 4 * x6 * x7 - 10 * x6 - 8 * x7)


def g09_g(x):
    x1, x2, x3, x4, x5, x6, x7 = x
    return [
        -127 + 2 * x1 ** 2 + 3 * x2 ** 4 + x3 + 4 * x4 ** 2 + 5 * x5,
        -282 + 7 * x1 + 3 * x2 + 10 * x3 ** 2 + x4 - x5,
        -196 + 23 * x1 + x2 ** 2 + 6 * x6 ** 2 - 8 * x7,
        4 * x1 ** 2 + x2 ** 2 - 3 * x1 * x2 + 2 * x3 ** 2 + 5 * x6 - 11 * x7,
    ]


PROBLEMS = {
    "g01": Problem("g01", g01_f, g01_g, [(0.0, 1.0)] * 9 + [(0.0, 100.0)] * 3 + [(0.0, 1.0)], -15.0),
    "g04": Problem("g04", g04_f, g04_g, [(78.0, 102.0), (33.0, 45.0)] + [(27.0, 45.0)] * 3,
                   -30665.53867178332),
    "g06": Problem("g06", g06_f, g06_g, [(13.0, 100.0), (0.0, 100.0)], -6961.81387558015),
    "g08": Problem("g08", g08_f, g08_g, [(0.0, 10.0), (0.0, 10.0)], -0.0958250414180359),
    "g09": Problem("g09", g09_f, g09_g, [(-10.0, 10.0)] * 7, 680.630057374402),
}
