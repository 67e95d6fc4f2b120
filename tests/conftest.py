"""Shared fixtures: the problem library and a recording wrapper around the real highspy."""

import os
import sys
import types

import pytest

sys.path.insert(0, os.path.dirname(__file__))


class _Recorder:
    def __init__(self):
        self.calls = []

    def names(self):
        return [c[0] for c in self.calls]

    def options(self):
        return [(c[1][0], c[1][1]) for c in self.calls if c[0] == "setOptionValue"]


@pytest.fixture
def highs_calls(monkeypatch):
    """Runs solves on the real HiGHS while recording the calls made on each Highs object.

    The solver is untouched; only the call sequence becomes visible to the test.
    """
    import highspy

    recorder = _Recorder()

    class RecordingHighs(highspy.Highs):
        def __getattribute__(self, name):
            attr = super().__getattribute__(name)
            if callable(attr) and not name.startswith("_"):
                def recorded(*args, **kwargs):
                    recorder.calls.append((name, args))
                    return attr(*args, **kwargs)
                return recorded
            return attr

    proxy = types.ModuleType("highspy")
    proxy.__dict__.update(highspy.__dict__)
    proxy.Highs = RecordingHighs
    monkeypatch.setitem(sys.modules, "highspy", proxy)
    return recorder
