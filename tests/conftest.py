"""Shared fixtures: the problem library, a recording wrapper around the real highspy, a
small model and a reader for linear expression texts."""

import os
import re
import sys
import types

import pytest

import velmo_opt as vo

sys.path.insert(0, os.path.dirname(__file__))


class _Recorder:
    def __init__(self):
        self.calls = []
        self.instances = []

    def names(self):
        return [c[0] for c in self.calls]

    def options(self):
        return [(c[1][0], c[1][1]) for c in self.calls if c[0] == "setOptionValue"]

    def integer_columns(self):
        """The column indices made integer, over every integrality call."""
        return [int(j) for c in self.calls if c[0] == "changeColsIntegrality" for j in c[1][1]]


@pytest.fixture
def highs_calls(monkeypatch):
    """Runs solves on the real HiGHS while recording the calls made on each Highs object.

    The solver is untouched; only the call sequence becomes visible to the test.
    """
    import highspy

    recorder = _Recorder()

    class RecordingHighs(highspy.Highs):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)
            recorder.instances.append(self)

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


@pytest.fixture
def m():
    return vo.Model()


@pytest.fixture
def xyz(m):
    """Three continuous variables with indices 0, 1 and 2."""
    return m.variable("x"), m.variable("y"), m.variable("z")


_TERM = re.compile(r"(-?)(?:(\S+)\*)?x(\d+)$")


def parse_linear(text):
    """Reads an expression text ("x0 + 2*x1 - 3") into ({index: coef}, constant).

    Term order in the text follows the term map and is not fixed, so tests compare the
    parsed content.
    """
    parts = re.split(r" ([+-]) ", text)
    terms = {}
    constant = 0.0
    sign = ""
    for k, part in enumerate(parts):
        if k % 2 == 1:
            sign = part
            continue
        match = _TERM.match(part)
        if match is None:
            assert k == len(parts) - 1, text  # only the constant may follow the terms
            constant = -float(part) if sign == "-" else float(part)
            continue
        lead, magnitude, index = match.groups()
        coef = float(magnitude) if magnitude is not None else 1.0
        assert int(index) not in terms, text
        terms[int(index)] = -coef if lead or sign == "-" else coef
    return terms, constant


@pytest.fixture(scope="session")
def linear_parts():
    return parse_linear


@pytest.fixture
def casadi_stats(monkeypatch):
    """Makes the real casadi solver answer stats() with a chosen status text and iteration
    count, for the statuses a real run cannot be made to produce; the solve itself is real."""
    import casadi

    def install(status, iterations=4):
        def nlpsol(*args):
            solver = casadi.nlpsol(*args)

            class StandIn:
                def __call__(self, **kwargs):
                    return solver(**kwargs)

                def stats(self):
                    return {"return_status": status, "iter_count": iterations}
            return StandIn()

        proxy = types.ModuleType("casadi")
        proxy.__dict__.update(casadi.__dict__)
        proxy.nlpsol = nlpsol
        monkeypatch.setitem(sys.modules, "casadi", proxy)

    return install
