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
    """Reads an expression text with terms only into {index: coef}.

    Term order in the text follows the term map and is not fixed, so tests compare the
    parsed content. Returns None for a text that is not a plain term list.
    """
    parts = re.split(r" ([+-]) ", text)
    terms = {}
    sign = ""
    for k, part in enumerate(parts):
        if k % 2 == 1:
            sign = "-" if part == "-" else ""
            continue
        match = _TERM.match(part)
        if match is None:
            return None
        lead, magnitude, index = match.groups()
        coef = float(magnitude) if magnitude is not None else 1.0
        if lead or sign:
            coef = -coef
        terms[int(index)] = coef
    return terms


@pytest.fixture
def linear_terms():
    return parse_linear
