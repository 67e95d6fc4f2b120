"""Timing helpers shared by the benchmarks (run as `python bench/<name>.py`, so this folder is
on the import path)."""

import math
import statistics
import time


def timed(fn):
    """(fn(), seconds) of one call."""
    t0 = time.perf_counter()
    out = fn()
    return out, time.perf_counter() - t0


def best_time(run, repeats=5):
    """(fastest seconds, last result) over `repeats` calls."""
    best, result = math.inf, None
    for _ in range(repeats):
        result, t = timed(run)
        best = min(best, t)
    return best, result


def median_time(fn, repeats=5):
    """(median seconds, last result) over `repeats` calls."""
    times, out = [], None
    for _ in range(repeats):
        out, t = timed(fn)
        times.append(t)
    return statistics.median(times), out
