"""Shared fixtures: a small model and a reader for linear expression texts."""

import re

import pytest

import velmo_opt as vo


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
