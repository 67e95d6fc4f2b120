"""The wrapper that executors run: one objective (or subproblem) call, its outcome as a value.

A call that raises is the objective's own failure and scores +inf, as in a serial run; it comes
back as ``(False, None)``. Anything the future's ``result()`` raises is then the executor's
failure (a broken pool, a cancelled future, an answer that could not be pickled) and reaches
the caller. ``KeyboardInterrupt`` and ``SystemExit`` are never caught.
"""


def call_catching(fn, *args):
    try:
        return True, fn(*args)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:
        return False, None
