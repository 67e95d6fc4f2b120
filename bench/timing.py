"""Timing helpers shared by the benchmarks (run as `python bench/<name>.py`, so this folder is
on the import path)."""

import json
import math
import statistics
import subprocess
import sys
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


def handoff_one_per_process(script, args, libraries, only=None):
    """Runs `script args --one NAME` for each library in a process of its own (peers that load
    HiGHS differently cannot share one) and prints its build and hand-off times; each child
    prints one JSON dict with "build", "hand-off", "status" and optionally "run". Returns
    {name: dict} and prints every library's total against velmo's."""
    out = {}
    for name in libraries:
        if only is not None and name.lower() not in only:
            continue
        run = subprocess.run([sys.executable, script, *args, "--one", name], capture_output=True, text=True)
        if run.returncode != 0:
            print(f"{name}: skipped ({run.stderr.strip().splitlines()[-1:]})")
            continue
        r = out[name] = json.loads(run.stdout.strip().splitlines()[-1])
        print(f"{name:16s} build {r['build']:7.2f} s  hand-off {r['hand-off']:7.2f} s  "
              f"total {r['build'] + r['hand-off']:7.2f} s  " +
              (f"(HiGHS's own run {r['run']:.2f} s) " if "run" in r else "") + f"({r['status']})")
    if "velmo" in out:
        ours = out["velmo"]["build"] + out["velmo"]["hand-off"]
        for name, r in out.items():
            if name != "velmo":
                print(f"velmo / {name} = {ours / (r['build'] + r['hand-off']):.2f}")
    return out
